#include "agent/exact_fields.h"

#include <cstring>

#include "platform/byte_order.h"

namespace kv {

namespace {

constexpr int32_t kWord = 4;

// The word at `index` (in 4-byte words) of what remains; the caller checked it is there.
int32_t PeekWord(const AgentBuffer& in, int index) {
    return static_cast<int32_t>(LoadLe32(in.Data() + index * kWord));
}

}  // namespace

std::optional<int32_t> ReadExactIntField(AgentBuffer& in) {
    if (in.Length() < 3 * kWord) return std::nullopt;
    if (PeekWord(in, 0) != 0 || PeekWord(in, 1) != kWord) return std::nullopt;
    return in.ReadIntField();
}

std::optional<SecureBytes> ReadExactStringField(AgentBuffer& in) {
    if (in.Length() < 2 * kWord || PeekWord(in, 0) != 1) return std::nullopt;
    const int32_t n = PeekWord(in, 1);
    if (n < 0 || n > in.Length() - 2 * kWord) return std::nullopt;
    if (n == 0) {
        in.SkipTag();
        in.SkipTag();
        return SecureBytes{};
    }
    return in.ReadStringField();
}

bool ReadExactKeyEntry(AgentBuffer& in, AgentKeyEntry& entry) {
    entry = AgentKeyEntry{};
    std::optional<int32_t> type = ReadExactIntField(in);
    if (!type || *type != kKeyEntryType) return false;
    entry.type = *type;
    std::optional<SecureBytes> blob = ReadExactStringField(in);
    if (!blob || blob->empty()) return false;
    entry.blob.assign(blob->begin(), blob->end());
    std::optional<SecureBytes> comment = ReadExactStringField(in);
    if (!comment) return false;
    if (!comment->empty()) {
        const auto* chars = reinterpret_cast<const char*>(comment->data());
        entry.comment.emplace(chars, ::strnlen(chars, comment->size()));
    }
    std::optional<int32_t> lifetime = ReadExactIntField(in);
    std::optional<int32_t> flags = ReadExactIntField(in);
    if (!lifetime || !flags || *flags == -1) return false;
    entry.lifetime = *lifetime;
    entry.flags = *flags;
    return true;
}

}  // namespace kv
