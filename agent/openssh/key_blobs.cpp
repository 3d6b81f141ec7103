#include "agent/openssh/key_blobs.h"

#include <algorithm>
#include <initializer_list>

namespace kv {

namespace {

bool NameIs(std::span<const uint8_t> name, std::string_view text) {
    return std::ranges::equal(name, AsBytes(text));
}

Bytes ToBytes(const SecureBytes& data) { return Bytes(data.begin(), data.end()); }

}  // namespace

SshKeyType KeyTypeOfName(std::span<const uint8_t> name) {
    if (NameIs(name, kSshRsa)) return SshKeyType::kRsa;
    if (NameIs(name, kSshDss)) return SshKeyType::kDss;
    return SshKeyType::kUnsupported;
}

std::span<const uint8_t> ReadPositiveMpint(SshReader& in) {
    const auto raw = in.String();
    if (!in.Ok()) return {};
    const auto value = StripLeadingZeros(raw);
    if ((!raw.empty() && (raw[0] & 0x80) != 0) || value.empty() || value.size() > kMaxMpintBytes) {
        in.Fail();
        return {};
    }
    return value;
}

SshKeyType KeyTypeOfBlob(std::span<const uint8_t> blob) {
    SshReader in(blob);
    const SshKeyType type = KeyTypeOfName(in.String());
    const int numbers = type == SshKeyType::kRsa ? 2 : type == SshKeyType::kDss ? 4 : 0;
    for (int i = 0; i < numbers; ++i) ReadPositiveMpint(in);
    return in.Ok() && in.AtEnd() ? type : SshKeyType::kUnsupported;
}

Bytes RsaPublicBlob(std::span<const uint8_t> e, std::span<const uint8_t> n) {
    SshWriter out;
    out.String(kSshRsa);
    out.Mpint(e);
    out.Mpint(n);
    return ToBytes(out.Data());
}

Bytes DssPublicBlob(std::span<const uint8_t> p, std::span<const uint8_t> q,
                    std::span<const uint8_t> g, std::span<const uint8_t> y) {
    SshWriter out;
    out.String(kSshDss);
    for (auto value : {p, q, g, y}) out.Mpint(value);
    return ToBytes(out.Data());
}

}  // namespace kv
