// Feeds arbitrary payloads to the native protocol's decoders. The first byte picks the layout,
// the rest is the payload. Whatever decodes must re-encode to something that decodes the same.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "agent/agent_buffer.h"
#include "agent/payloads.h"

namespace {

using kv::AgentBuffer;

void Check(bool ok) {
    if (!ok) std::abort();
}

// The origin strings a builder takes: the decoded list without "local client".
std::vector<std::string> Forwarded(const kv::OriginList& origins) {
    return {origins.begin() + 1, origins.end()};
}

// A decoded text may have become empty at a NUL; such a request has no well-formed encoding.
bool Rebuildable(const kv::OriginList& origins) {
    return kv::OriginsAreWritable(Forwarded(origins));
}

// An empty comment text and no comment are written alike, so they compare alike.
bool SameEntry(const kv::AgentKeyEntry& a, const kv::AgentKeyEntry& b) {
    return a.type == b.type && a.lifetime == b.lifetime && a.flags == b.flags && a.blob == b.blob &&
           a.comment.value_or("") == b.comment.value_or("");
}

bool SameEntries(const std::vector<kv::AgentKeyEntry>& a, const std::vector<kv::AgentKeyEntry>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), SameEntry);
}

void List(AgentBuffer& in, int32_t id) {
    const auto request = kv::DecodeListRequest(in);
    if (!request || !Rebuildable(request->origins)) return;
    AgentBuffer again = AgentBuffer(kv::BuildListRequest(id, Forwarded(request->origins)));
    Check(again.ReadIntField() == id);
    const auto decoded = kv::DecodeListRequest(again);
    Check(decoded && decoded->origins == request->origins);
}

void Add(AgentBuffer& in, int32_t id) {
    const auto request = kv::DecodeAddRequest(in);
    if (!request || !Rebuildable(request->origins)) return;
    const kv::SecureBytes payload =
        kv::BuildAddRequest(id, Forwarded(request->origins), request->entry, request->private_blob);
    AgentBuffer again(payload);
    Check(again.ReadIntField() == id);
    const auto decoded = kv::DecodeAddRequest(again);
    Check(decoded && SameEntry(decoded->entry, request->entry) &&
          decoded->private_blob == request->private_blob);
}

void Delete(AgentBuffer& in, int32_t id) {
    // As the handler does: the origin list, then (a setting permitting) the target.
    const auto origins = kv::ReadOriginList(in);
    if (!origins) return;
    const auto target = kv::DecodeDeleteTarget(in);
    if (!target || !Rebuildable(*origins) || (!target->all && target->name.empty())) return;
    const kv::Bytes payload =
        target->all ? kv::BuildDeleteAllRequest(id, Forwarded(*origins))
                    : kv::BuildDeleteRequest(id, Forwarded(*origins), target->blob, target->name);
    AgentBuffer again(payload);
    Check(again.ReadIntField() == id);
    const auto decoded = kv::DecodeDeleteRequest(again);
    Check(decoded && decoded->target.all == target->all && decoded->target.blob == target->blob &&
          decoded->target.name == target->name);
}

void PrivateKeyOp(AgentBuffer& in, int32_t id) {
    const auto request = kv::DecodePrivateKeyOpRequest(in);
    if (!request || !Rebuildable(request->origins) || request->fields.operation.empty()) return;
    const auto& f = request->fields;
    AgentBuffer again(
        kv::BuildPrivateKeyOpRequest(id, Forwarded(request->origins), f.operation, f.blob, f.data));
    Check(again.ReadIntField() == id);
    const auto decoded = kv::DecodePrivateKeyOpRequest(again);
    Check(decoded && decoded->fields.operation == f.operation && decoded->fields.blob == f.blob &&
          decoded->fields.data == f.data);
}

void Replies(std::span<const uint8_t> payload) {
    if (const auto list = kv::ParseListReply(payload)) {
        const auto again = kv::ParseListReply(kv::BuildListReply(list->id, list->keys));
        Check(again && again->id == list->id && SameEntries(again->keys, list->keys));
    }
    (void)kv::ParseStatusReply(payload);
    (void)kv::ParsePrivateKeyOpReply(payload);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const std::span<const uint8_t> payload(data + 1, size - 1);
    AgentBuffer in(payload);
    const int32_t id = in.ReadIntField();
    switch (data[0] % 5) {
        case 0:
            List(in, id);
            break;
        case 1:
            Add(in, id);
            break;
        case 2:
            Delete(in, id);
            break;
        case 3:
            PrivateKeyOp(in, id);
            break;
        default:
            Replies(payload);
            break;
    }
    return 0;
}
