// Replies: the writers used by the handlers and the parsers used by clients.
#include <algorithm>
#include <limits>

#include "agent/exact_fields.h"
#include "agent/payloads.h"
#include "platform/envelope.h"

namespace kv {

namespace {

Bytes ToPayload(AgentBuffer& buffer) {
    SecureBytes bytes = buffer.Release();
    return Bytes(bytes.begin(), bytes.end());
}

bool HasValidTypes(std::span<const AgentKeyEntry> keys) {
    return std::all_of(keys.begin(), keys.end(),
                       [](const AgentKeyEntry& k) { return k.type == kKeyEntryType; });
}

// Status and count: two integer fields.
constexpr std::size_t kListReplyHeaderSize = 24;

std::size_t ListReplyEntrySize(const AgentKeyEntry& key) {
    // Three integer fields and two string headers, then the strings themselves.
    return 52 + key.blob.size() + (key.comment ? key.comment->size() : 0);
}

}  // namespace

std::size_t ListEntriesThatFit(std::span<const AgentKeyEntry> keys, std::size_t written) {
    std::size_t size = written + kListReplyHeaderSize;
    for (std::size_t i = 0; i < keys.size(); ++i) {
        size += ListReplyEntrySize(keys[i]);
        if (size > kMaxEnvelopePayload) return i;
    }
    return keys.size();
}

void WriteListReplyHeader(int32_t count, AgentBuffer& out) {
    out.AppendIntField(kStatusDone);
    out.AppendIntField(count);
}

bool WriteListReplyBody(std::span<const AgentKeyEntry> keys, AgentBuffer& out) {
    // Checked up front so the count written always matches the entries that follow.
    if (keys.size() > static_cast<std::size_t>(std::numeric_limits<int32_t>::max()) ||
        !HasValidTypes(keys)) {
        return false;
    }
    std::size_t size = kListReplyHeaderSize;
    for (const AgentKeyEntry& key : keys) size += ListReplyEntrySize(key);
    out.Reserve(static_cast<int64_t>(size));
    WriteListReplyHeader(static_cast<int32_t>(keys.size()), out);
    for (const AgentKeyEntry& key : keys) (void)WriteKeyEntry(key, out);
    return true;
}

void WriteStatusReply(int32_t status, AgentBuffer& out) { out.AppendIntField(status); }

void WritePrivateKeyOpResult(std::span<const uint8_t> result, AgentBuffer& out) {
    out.AppendIntField(kStatusDone);
    out.AppendStringField(result);
}

void WritePrivateKeyOpStatus(int32_t status, AgentBuffer& out) { out.AppendIntField(status); }

Bytes BuildListReply(int32_t id, std::span<const AgentKeyEntry> keys) {
    AgentBuffer out;
    out.AppendIntField(id);
    if (!WriteListReplyBody(keys, out)) return {};
    return ToPayload(out);
}

Bytes BuildStatusReply(int32_t id, int32_t status) {
    AgentBuffer out;
    out.AppendIntField(id);
    WriteStatusReply(status, out);
    return ToPayload(out);
}

SecureBytes BuildPrivateKeyOpReply(int32_t id, std::optional<int32_t> status,
                                   std::span<const uint8_t> result) {
    AgentBuffer out;
    out.AppendIntField(id);
    if (status == kStatusDone) {
        WritePrivateKeyOpResult(result, out);
    } else if (status) {
        WritePrivateKeyOpStatus(*status, out);
    }
    return out.Release();
}

std::optional<ListReply> ParseListReply(std::span<const uint8_t> payload) {
    AgentBuffer in(payload);
    std::optional<int32_t> id = ReadExactIntField(in);
    std::optional<int32_t> status = ReadExactIntField(in);
    std::optional<int32_t> count = ReadExactIntField(in);
    if (!id || !status || !count || *count < 0) return std::nullopt;
    ListReply reply{*id, *status, {}};
    // No reserve from the count: each entry must be present before it is kept.
    for (int32_t i = 0; i < *count; ++i) {
        AgentKeyEntry entry;
        if (!ReadExactKeyEntry(in, entry)) return std::nullopt;
        reply.keys.push_back(std::move(entry));
    }
    if (in.Length() != 0) return std::nullopt;
    return reply;
}

std::optional<StatusReply> ParseStatusReply(std::span<const uint8_t> payload) {
    AgentBuffer in(payload);
    std::optional<int32_t> id = ReadExactIntField(in);
    std::optional<int32_t> status = ReadExactIntField(in);
    if (!id || !status || in.Length() != 0) return std::nullopt;
    return StatusReply{*id, *status};
}

std::optional<PrivateKeyOpReply> ParsePrivateKeyOpReply(std::span<const uint8_t> payload) {
    AgentBuffer in(payload);
    std::optional<int32_t> id = ReadExactIntField(in);
    if (!id) return std::nullopt;
    PrivateKeyOpReply reply{*id, std::nullopt, std::nullopt};
    if (in.Length() == 0) return reply;  // the agent stayed locked
    reply.status = ReadExactIntField(in);
    if (!reply.status) return std::nullopt;
    if (*reply.status == kStatusDone) {
        reply.result = ReadExactStringField(in);
        if (!reply.result) return std::nullopt;
    }
    if (in.Length() != 0) return std::nullopt;
    return reply;
}

}  // namespace kv
