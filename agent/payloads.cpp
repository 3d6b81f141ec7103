// Requests: the decoders used by the agent and the builders used by clients.
#include "agent/payloads.h"

#include <algorithm>
#include <limits>

namespace kv {

namespace {

Bytes ToBytes(const SecureBytes& bytes) { return Bytes(bytes.begin(), bytes.end()); }

bool IsDeleteAllMarker(std::span<const uint8_t> field) {
    return std::equal(field.begin(), field.end(), kDeleteAllMarker.begin(), kDeleteAllMarker.end());
}

bool FitsField(std::size_t n) {
    return n > 0 && n <= static_cast<std::size_t>(std::numeric_limits<int32_t>::max());
}

// The identifier and origin list every request starts with; false when the origins cannot
// be written as a well-formed list.
bool StartRequest(int32_t id, const std::vector<std::string>& origins, AgentBuffer& out) {
    if (!OriginsAreWritable(origins)) return false;
    out.AppendIntField(id);
    WriteOriginList(origins, out);
    return true;
}

Bytes ToPayload(AgentBuffer& buffer) {
    SecureBytes bytes = buffer.Release();
    return ToBytes(bytes);
}

}  // namespace

std::optional<DecodedListRequest> DecodeListRequest(AgentBuffer& in) {
    std::optional<OriginList> origins = ReadOriginList(in);
    if (!origins || in.Length() != 0) return std::nullopt;
    return DecodedListRequest{std::move(*origins)};
}

std::optional<DecodedAddRequest> DecodeAddRequest(AgentBuffer& in) {
    std::optional<OriginList> origins = ReadOriginList(in);
    if (!origins) return std::nullopt;
    DecodedAddRequest request{std::move(*origins), {}, {}};
    if (!ReadKeyEntry(in, request.entry)) return std::nullopt;
    std::optional<SecureBytes> private_blob = in.ReadStringField();
    if (!private_blob) return std::nullopt;
    request.private_blob = std::move(*private_blob);
    return request;
}

std::optional<DeleteTarget> DecodeDeleteTarget(AgentBuffer& in) {
    std::optional<SecureBytes> first = in.ReadStringField();
    if (!first) return std::nullopt;
    // Compared byte for byte: "*ALL*" or "*all*\0" is a public key blob.
    if (IsDeleteAllMarker(*first)) return DeleteTarget{true, {}, {}};
    std::optional<std::string> name = in.ReadTextField();
    if (!name) return std::nullopt;
    return DeleteTarget{false, ToBytes(*first), std::move(*name)};
}

std::optional<DecodedDeleteRequest> DecodeDeleteRequest(AgentBuffer& in) {
    std::optional<OriginList> origins = ReadOriginList(in);
    if (!origins) return std::nullopt;
    std::optional<DeleteTarget> target = DecodeDeleteTarget(in);
    if (!target) return std::nullopt;
    return DecodedDeleteRequest{std::move(*origins), std::move(*target)};
}

std::optional<PrivateKeyOpFields> DecodePrivateKeyOpFields(AgentBuffer& in) {
    std::optional<std::string> operation = in.ReadTextField();
    if (!operation) return std::nullopt;
    std::optional<SecureBytes> blob = in.ReadStringField();
    if (!blob) return std::nullopt;
    std::optional<SecureBytes> data = in.ReadStringField();
    if (!data) return std::nullopt;
    return PrivateKeyOpFields{std::move(*operation), ToBytes(*blob), ToBytes(*data)};
}

std::optional<DecodedPrivateKeyOpRequest> DecodePrivateKeyOpRequest(AgentBuffer& in) {
    std::optional<OriginList> origins = ReadOriginList(in);
    if (!origins) return std::nullopt;
    std::optional<PrivateKeyOpFields> fields = DecodePrivateKeyOpFields(in);
    if (!fields) return std::nullopt;
    return DecodedPrivateKeyOpRequest{std::move(*origins), std::move(*fields)};
}

Bytes BuildListRequest(int32_t id, const std::vector<std::string>& origins) {
    AgentBuffer out;
    if (!StartRequest(id, origins, out)) return {};
    return ToPayload(out);
}

SecureBytes BuildAddRequest(int32_t id, const std::vector<std::string>& origins,
                            const AgentKeyEntry& entry, std::span<const uint8_t> private_blob) {
    if (!FitsField(entry.blob.size()) || entry.flags == -1 || !FitsField(private_blob.size()))
        return {};
    AgentBuffer out;
    if (!StartRequest(id, origins, out) || !WriteKeyEntry(entry, out)) return {};
    out.AppendStringField(private_blob);
    return out.Release();
}

Bytes BuildDeleteRequest(int32_t id, const std::vector<std::string>& origins,
                         std::span<const uint8_t> blob_or_all, std::optional<std::string> name) {
    const bool all = IsDeleteAllMarker(blob_or_all);
    if (!FitsField(blob_or_all.size())) return {};
    if (!all && (!name || !FitsField(name->size()))) return {};
    AgentBuffer out;
    if (!StartRequest(id, origins, out)) return {};
    out.AppendStringField(blob_or_all);
    if (!all) out.AppendStringField(std::string_view(*name));
    return ToPayload(out);
}

Bytes BuildDeleteAllRequest(int32_t id, const std::vector<std::string>& origins) {
    const auto* marker = reinterpret_cast<const uint8_t*>(kDeleteAllMarker.data());
    return BuildDeleteRequest(id, origins, {marker, kDeleteAllMarker.size()}, std::nullopt);
}

Bytes BuildPrivateKeyOpRequest(int32_t id, const std::vector<std::string>& origins,
                               std::string_view operation, std::span<const uint8_t> blob,
                               std::span<const uint8_t> data) {
    if (!FitsField(operation.size()) || !FitsField(blob.size()) || !FitsField(data.size())) {
        return {};
    }
    AgentBuffer out;
    if (!StartRequest(id, origins, out)) return {};
    out.AppendStringField(operation);
    out.AppendStringField(blob);
    out.AppendStringField(data);
    return ToPayload(out);
}

}  // namespace kv
