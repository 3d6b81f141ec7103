#include "agent/agent_buffer.h"

#include <cstring>
#include <limits>

#include "platform/byte_order.h"

namespace kv {

namespace {
constexpr int32_t kIntTag = 0;
constexpr int32_t kStringTag = 1;
constexpr int32_t kWord = 4;
constexpr int64_t kMaxLength = std::numeric_limits<int32_t>::max();

std::ptrdiff_t Offset(std::size_t n) { return static_cast<std::ptrdiff_t>(n); }
}  // namespace

AgentBuffer::AgentBuffer(std::span<const uint8_t> payload) {
    if (payload.size() <= static_cast<std::size_t>(kMaxLength)) kv::AppendBytes(m_data, payload);
}

int32_t AgentBuffer::Length() const { return static_cast<int32_t>(m_data.size() - m_pos); }

const uint8_t* AgentBuffer::Data() const { return Length() == 0 ? nullptr : &m_data[m_pos]; }

std::span<const uint8_t> AgentBuffer::Bytes() const {
    return {m_data.data() + m_pos, m_data.size() - m_pos};
}

SecureBytes AgentBuffer::Release() {
    if (m_pos != 0) m_data.erase(m_data.begin(), m_data.begin() + Offset(m_pos));
    m_pos = 0;
    SecureBytes out = std::move(m_data);
    m_data.clear();  // a moved-from vector is only "valid", make it plainly empty
    return out;
}

bool AgentBuffer::Fits(int64_t extra) const { return extra <= kMaxLength - Length(); }

void AgentBuffer::Reserve(int64_t extra) {
    if (extra > 0 && Fits(extra)) m_data.reserve(m_data.size() + static_cast<std::size_t>(extra));
}

int32_t AgentBuffer::AppendBytes(const void* p, int32_t n) {
    if (n <= 0 || p == nullptr || !Fits(n)) return Length();
    kv::AppendBytes(m_data, {static_cast<const uint8_t*>(p), static_cast<std::size_t>(n)});
    return Length();
}

void AgentBuffer::AppendIntField(int32_t value) {
    uint8_t field[3 * kWord];
    StoreLe32(kIntTag, field);
    StoreLe32(kWord, field + kWord);
    StoreLe32(static_cast<uint32_t>(value), field + 2 * kWord);
    AppendBytes(field, sizeof field);
}

void AgentBuffer::AppendStringField(const void* p, int32_t n) {
    if (n < 0 || p == nullptr) n = 0;
    // Header and body go in together or not at all, so a field is never left half written.
    if (!Fits(int64_t{2} * kWord + n)) return;
    uint8_t header[2 * kWord];
    StoreLe32(kStringTag, header);
    StoreLe32(static_cast<uint32_t>(n), header + kWord);
    AppendBytes(header, sizeof header);
    AppendBytes(p, n);
}

void AgentBuffer::AppendStringField(std::string_view text) {
    if (text.size() > static_cast<std::size_t>(kMaxLength)) return;
    AppendStringField(text.data(), static_cast<int32_t>(text.size()));
}

void AgentBuffer::AppendStringField(std::span<const uint8_t> bytes) {
    if (bytes.size() > static_cast<std::size_t>(kMaxLength)) return;
    AppendStringField(bytes.data(), static_cast<int32_t>(bytes.size()));
}

void AgentBuffer::Consume(std::size_t n) {
    m_pos += n;
    if (m_pos == m_data.size()) {
        // A buffer that becomes empty holds no data; later appends start afresh.
        m_data.clear();
        m_pos = 0;
    }
}

int32_t AgentBuffer::ReadInt() {
    if (Length() < kWord) return -1;
    const auto value = static_cast<int32_t>(LoadLe32(&m_data[m_pos]));
    Consume(kWord);
    return value;
}

std::optional<SecureBytes> AgentBuffer::ReadBytes(int32_t n) {
    if (n <= 0 || n > Length()) return std::nullopt;
    SecureBytes out;
    kv::AppendBytes(out, {m_data.data() + m_pos, static_cast<std::size_t>(n)});
    Consume(static_cast<std::size_t>(n));
    return out;
}

void AgentBuffer::SkipTag() {
    if (Length() >= kWord) Consume(kWord);
}

int32_t AgentBuffer::ReadIntField() {
    SkipTag();
    ReadInt();  // the length word, always 4
    return ReadInt();
}

std::optional<SecureBytes> AgentBuffer::ReadStringField() {
    SkipTag();
    const int32_t n = ReadInt();
    return ReadBytes(n);
}

std::optional<std::string> AgentBuffer::ReadTextField() {
    std::optional<SecureBytes> bytes = ReadStringField();
    if (!bytes) return std::nullopt;
    const auto* chars = reinterpret_cast<const char*>(bytes->data());
    return std::string(chars, ::strnlen(chars, bytes->size()));
}

}  // namespace kv
