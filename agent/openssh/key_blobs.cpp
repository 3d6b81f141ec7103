#include "agent/openssh/key_blobs.h"

#include <algorithm>
#include <array>
#include <bit>
#include <initializer_list>

namespace kv {

namespace {

constexpr std::string_view kCertSuffix = "-cert-v01@openssh.com";

struct TypeName {
    SshKeyType type;
    std::string_view name;
    std::string_view curve;
    std::size_t point_bytes;
};

constexpr std::array<TypeName, 6> kTypes = {{
    {SshKeyType::kRsa, kSshRsa, "", 0},
    {SshKeyType::kDss, kSshDss, "", 0},
    {SshKeyType::kEd25519, kSshEd25519, "", 0},
    {SshKeyType::kEcdsaP256, "ecdsa-sha2-nistp256", "nistp256", 65},
    {SshKeyType::kEcdsaP384, "ecdsa-sha2-nistp384", "nistp384", 97},
    {SshKeyType::kEcdsaP521, "ecdsa-sha2-nistp521", "nistp521", 133},
}};

const TypeName* Find(SshKeyType type) {
    for (const auto& t : kTypes)
        if (t.type == type) return &t;
    return nullptr;
}

bool NameIs(std::span<const uint8_t> name, std::string_view text) {
    return std::ranges::equal(name, AsBytes(text));
}

Bytes ToBytes(const SecureBytes& data) { return Bytes(data.begin(), data.end()); }

// The point must be uncompressed (04 || x || y) and as long as the curve says.
bool ValidPoint(SshKeyType type, std::span<const uint8_t> point) {
    return point.size() == EcdsaPointBytes(type) && point[0] == 0x04;
}

}  // namespace

SshKeyType KeyTypeOfName(std::span<const uint8_t> name) {
    for (const auto& t : kTypes)
        if (NameIs(name, t.name)) return t.type;
    return SshKeyType::kUnsupported;
}

std::string_view NameOfKeyType(SshKeyType type) {
    const TypeName* t = Find(type);
    return t != nullptr ? t->name : std::string_view();
}

bool IsEcdsa(SshKeyType type) { return !CurveNameOf(type).empty(); }

std::string_view CurveNameOf(SshKeyType type) {
    const TypeName* t = Find(type);
    return t != nullptr ? t->curve : std::string_view();
}

std::size_t EcdsaPointBytes(SshKeyType type) {
    const TypeName* t = Find(type);
    return t != nullptr ? t->point_bytes : 0;
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

namespace {

// Reads and checks the public fields that follow the type name; with `blob`, also writes the
// key's canonical blob (a list only checks, and need not pay for the copy).
void ReadFields(SshKeyType type, SshReader& in, Bytes* blob) {
    if (type == SshKeyType::kRsa) {
        const auto e = ReadPositiveMpint(in);
        const auto n = ReadPositiveMpint(in);
        // OpenSSH refuses a shorter modulus wherever it meets one: in a list it fails the
        // whole list in ssh and ssh-add.
        const std::size_t bits =
            n.empty() ? 0 : n.size() * 8 - static_cast<std::size_t>(std::countl_zero(n[0]));
        if (in.Ok() && bits < kMinRsaModulusBits) in.Fail();
        if (in.Ok() && blob != nullptr) *blob = RsaPublicBlob(e, n);
    } else if (type == SshKeyType::kDss) {
        const auto p = ReadPositiveMpint(in);
        const auto q = ReadPositiveMpint(in);
        const auto g = ReadPositiveMpint(in);
        const auto y = ReadPositiveMpint(in);
        if (in.Ok() && blob != nullptr) *blob = DssPublicBlob(p, q, g, y);
    } else if (type == SshKeyType::kEd25519) {
        const auto key = in.String();
        if (in.Ok() && key.size() != kEd25519KeyBytes) in.Fail();
        if (in.Ok() && blob != nullptr) *blob = Ed25519PublicBlob(key);
    } else if (IsEcdsa(type)) {
        const auto curve = in.String();
        const auto point = in.String();
        if (in.Ok() && (!NameIs(curve, CurveNameOf(type)) || !ValidPoint(type, point))) in.Fail();
        if (in.Ok() && blob != nullptr) *blob = EcdsaPublicBlob(type, point);
    } else {
        in.Fail();
    }
}

}  // namespace

Bytes ReadPublicFields(SshKeyType type, SshReader& in) {
    Bytes blob;  // written only when every field read well
    ReadFields(type, in, &blob);
    return blob;
}

SshKeyType KeyTypeOfBlob(std::span<const uint8_t> blob) {
    SshReader in(blob);
    const SshKeyType type = KeyTypeOfName(in.String());
    ReadFields(type, in, nullptr);
    return in.Ok() && in.AtEnd() ? type : SshKeyType::kUnsupported;
}

SshKeyType CertifiedKeyTypeOfName(std::span<const uint8_t> name) {
    if (name.size() <= kCertSuffix.size()) return SshKeyType::kUnsupported;
    if (!NameIs(name.last(kCertSuffix.size()), kCertSuffix)) return SshKeyType::kUnsupported;
    return KeyTypeOfName(name.first(name.size() - kCertSuffix.size()));
}

bool IsCertificateBlob(std::span<const uint8_t> blob) {
    SshReader in(blob);
    const auto name = in.String();
    return in.Ok() && CertifiedKeyTypeOfName(name) != SshKeyType::kUnsupported;
}

std::optional<Bytes> PlainBlobOfCertificate(std::span<const uint8_t> certificate) {
    SshReader in(certificate);
    const SshKeyType type = CertifiedKeyTypeOfName(in.String());
    in.String();  // nonce
    if (!in.Ok() || type == SshKeyType::kUnsupported) return std::nullopt;
    Bytes plain = ReadPublicFields(type, in);
    if (!in.Ok()) return std::nullopt;
    return plain;
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

Bytes Ed25519PublicBlob(std::span<const uint8_t> key) {
    SshWriter out;
    out.String(kSshEd25519);
    out.String(key);
    return ToBytes(out.Data());
}

Bytes EcdsaPublicBlob(SshKeyType type, std::span<const uint8_t> point) {
    SshWriter out;
    out.String(NameOfKeyType(type));
    out.String(CurveNameOf(type));
    out.String(point);
    return ToBytes(out.Data());
}

}  // namespace kv
