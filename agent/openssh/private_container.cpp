#include "agent/openssh/private_container.h"

#include <bit>
#include <initializer_list>
#include <string_view>

#include "agent/openssh/ssh_wire.h"

namespace kv {

namespace {

constexpr uint32_t kContainerMagic = 0x3f6ff9eb;
constexpr std::string_view kRsaType = "if-modn{sign{rsa-pkcs1-sha1},encrypt{rsa-pkcs1v2-oaep}}";
constexpr std::string_view kDssType = "dl-modp{sign{dsa-nist-sha1},dh{plain}}";

void BitsNumber(SshWriter& out, std::span<const uint8_t> magnitude) {
    const auto value = StripLeadingZeros(magnitude);
    const uint32_t bits =
        value.empty() ? 0
                      : static_cast<uint32_t>((value.size() - 1) * 8) +
                            static_cast<uint32_t>(std::bit_width(static_cast<unsigned>(value[0])));
    out.Uint32(bits);
    out.Raw(value);
}

SecureBytes Wrap(std::string_view type, const SecureBytes& numbers) {
    SshWriter cipher_blob;
    cipher_blob.String(numbers);
    SshWriter body;
    body.String(type);
    body.String("none");
    body.String(cipher_blob.Data());
    SshWriter out;
    out.Uint32(kContainerMagic);
    out.Uint32(static_cast<uint32_t>(8 + body.Data().size()));
    out.Raw(body.Data());
    return out.Release();
}

}  // namespace

SecureBytes BuildRsaContainer(const RsaNumbers& key) {
    // The container's coefficient is the inverse of its fifth number modulo its sixth.
    // OpenSSH's iqmp is q^-1 mod p, so q goes fifth and p sixth: no inverse to compute.
    SshWriter numbers;
    for (auto value : {key.e, key.d, key.n, key.iqmp, key.q, key.p}) BitsNumber(numbers, value);
    return Wrap(kRsaType, numbers.Data());
}

SecureBytes BuildDssContainer(const DssNumbers& key) {
    SshWriter numbers;
    numbers.Uint32(0);  // explicit parameters follow
    for (auto value : {key.p, key.g, key.q, key.y, key.x}) BitsNumber(numbers, value);
    return Wrap(kDssType, numbers.Data());
}

SecureBytes BuildCurveContainer(std::string_view ssh_name, const SecureBytes& fields) {
    return Wrap(ssh_name, fields);
}

}  // namespace kv
