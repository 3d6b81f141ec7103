// The payload of every request and reply of the native protocol.
//
// Every request starts with an identifier (integer field) chosen by the client, then the
// origin list, then its own fields:
//   list keys             nothing; any further byte makes it malformed
//   add key               one key entry; string field with the unprotected private key blob
//   delete key            string field "*all*", or the public key blob followed by a string
//                         field with the key's name
//   private-key operation string fields: operation name, public key blob, data (each at
//                         least 1 byte); bytes after the data are ignored
// Every reply starts with the request's identifier:
//   list reply            status 0, number of keys, one key entry per key
//   add / delete reply    status 0 (done) or 1 (not done)
//   private-key op reply  status 0 and a string field with the result; status 3 or 4; or
//                         nothing after the identifier when the agent stayed locked
//   failure (1064)        empty payload
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "agent/agent_buffer.h"
#include "agent/agent_key_entry.h"
#include "agent/origin_list.h"
#include "platform/secure_memory.h"

namespace kv {

constexpr std::string_view kDeleteAllMarker = "*all*";

// Status values of the replies.
constexpr int32_t kStatusDone = 0;
constexpr int32_t kStatusNotDone = 1;          // add and delete
constexpr int32_t kStatusOperationFailed = 3;  // private-key operation
constexpr int32_t kStatusKeyNotAvailable = 4;  // private-key operation

// ---- Request decoders. Each takes a buffer positioned just after the identifier. ----

struct DecodedListRequest {
    OriginList origins;
};

struct DecodedAddRequest {
    OriginList origins;
    AgentKeyEntry entry;
    SecureBytes private_blob;
};

// What a delete request names once its origin list is read: every key, or one key by
// public key blob and name.
struct DeleteTarget {
    bool all = false;
    Bytes blob;        // empty when all
    std::string name;  // empty when all
};

struct DecodedDeleteRequest {
    OriginList origins;
    DeleteTarget target;
};

struct PrivateKeyOpFields {
    std::string operation;
    Bytes blob;
    Bytes data;
};

struct DecodedPrivateKeyOpRequest {
    OriginList origins;
    PrivateKeyOpFields fields;
};

std::optional<DecodedListRequest> DecodeListRequest(AgentBuffer& in);
std::optional<DecodedAddRequest> DecodeAddRequest(AgentBuffer& in);
std::optional<DecodedDeleteRequest> DecodeDeleteRequest(AgentBuffer& in);
std::optional<DecodedPrivateKeyOpRequest> DecodePrivateKeyOpRequest(AgentBuffer& in);

// The parts after the origin list, for handlers that check something in between (the delete
// handler consults a setting before it reads its target).
std::optional<DeleteTarget> DecodeDeleteTarget(AgentBuffer& in);
std::optional<PrivateKeyOpFields> DecodePrivateKeyOpFields(AgentBuffer& in);

// ---- Request builders, for clients and tests. `origins` excludes "local client". ----
// Each returns an empty payload (never a valid request) when the arguments cannot make a
// well-formed request: an empty origin string, an entry of a type other than 1, an empty
// blob, name, operation or data.

Bytes BuildListRequest(int32_t id, const std::vector<std::string>& origins);
SecureBytes BuildAddRequest(int32_t id, const std::vector<std::string>& origins,
                            const AgentKeyEntry& entry, std::span<const uint8_t> private_blob);
// `name` is required unless `blob_or_all` is "*all*".
Bytes BuildDeleteRequest(int32_t id, const std::vector<std::string>& origins,
                         std::span<const uint8_t> blob_or_all, std::optional<std::string> name);
Bytes BuildDeleteAllRequest(int32_t id, const std::vector<std::string>& origins);
Bytes BuildPrivateKeyOpRequest(int32_t id, const std::vector<std::string>& origins,
                               std::string_view operation, std::span<const uint8_t> blob,
                               std::span<const uint8_t> data);

// ---- Reply writers, for the handlers. The identifier is already in `out`. ----

// Status 0 and the key count; the caller then writes `count` key entries.
void WriteListReplyHeader(int32_t count, AgentBuffer& out);
// How many of `keys`, from the first, a list reply can carry within the envelope's payload
// limit when `written` bytes (the identifier) come before it. A client drops a longer reply
// whole.
std::size_t ListEntriesThatFit(std::span<const AgentKeyEntry> keys, std::size_t written);
// Status 0, the count and every entry. Writes nothing and fails if an entry's type is not 1.
[[nodiscard]] bool WriteListReplyBody(std::span<const AgentKeyEntry> keys, AgentBuffer& out);
void WriteStatusReply(int32_t status, AgentBuffer& out);
void WritePrivateKeyOpResult(std::span<const uint8_t> result, AgentBuffer& out);
// Status 3 or 4; the locked form writes nothing at all.
void WritePrivateKeyOpStatus(int32_t status, AgentBuffer& out);

// ---- Whole replies, for tests and stand-in agents. ----

Bytes BuildListReply(int32_t id, std::span<const AgentKeyEntry> keys);  // empty on bad entry
Bytes BuildStatusReply(int32_t id, int32_t status);
// No status: the locked form. A result is written only with status 0.
SecureBytes BuildPrivateKeyOpReply(int32_t id, std::optional<int32_t> status,
                                   std::span<const uint8_t> result = {});

// ---- Reply parsers, for clients. ----
// Stricter than the agent's own readers: tags and length words must be exactly what the
// agent writes, and no byte may follow the last field.

struct ListReply {
    int32_t id = 0;
    int32_t status = 0;
    std::vector<AgentKeyEntry> keys;
};

struct StatusReply {
    int32_t id = 0;
    int32_t status = 0;
};

struct PrivateKeyOpReply {
    int32_t id = 0;
    std::optional<int32_t> status;      // absent: the agent is locked
    std::optional<SecureBytes> result;  // with status 0 only; may be empty
};

std::optional<ListReply> ParseListReply(std::span<const uint8_t> payload);
std::optional<StatusReply> ParseStatusReply(std::span<const uint8_t> payload);
std::optional<PrivateKeyOpReply> ParsePrivateKeyOpReply(std::span<const uint8_t> payload);

}  // namespace kv
