#include "agent/openssh/signature.h"

#include <array>

#include "agent/openssh/messages.h"
#include "agent/openssh/ssh_wire.h"
#include "cryptomodule/hash.h"

namespace kv {

namespace {

// DER of DigestInfo up to the digest itself (RFC 8017, section 9.2, note 1).
constexpr std::array<uint8_t, 19> kSha256Prefix = {0x30, 0x31, 0x30, 0x0d, 0x06, 0x09, 0x60,
                                                   0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02,
                                                   0x01, 0x05, 0x00, 0x04, 0x20};
constexpr std::array<uint8_t, 19> kSha512Prefix = {0x30, 0x51, 0x30, 0x0d, 0x06, 0x09, 0x60,
                                                   0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02,
                                                   0x03, 0x05, 0x00, 0x04, 0x40};
constexpr std::size_t kDssSignatureSize = 40;
constexpr std::size_t kEd25519SignatureSize = 64;
constexpr std::size_t kMaxRsaSignature = kMaxMpintBytes;
// r and s of nistp521 are at most 66 bytes, 67 with the mpint's sign byte.
constexpr std::size_t kMaxEcdsaNumber = 67;

// mpint r, mpint s, both positive, nothing after them.
bool IsEcdsaSignature(std::span<const uint8_t> result) {
    SshReader in(result);
    for (int i = 0; i < 2; ++i) {
        const auto raw = in.String();
        if (!in.Ok() || raw.empty() || raw.size() > kMaxEcdsaNumber || (raw[0] & 0x80) != 0)
            return false;
    }
    return in.AtEnd();
}

std::optional<SignPlan> PlanRsaSha2(std::span<const uint8_t> data, bool sha512,
                                    const DigestFunction& digest) {
    const int algorithm = sha512 ? KVCLM_HASH_SHA512 : KVCLM_HASH_SHA256;
    const auto& prefix = sha512 ? kSha512Prefix : kSha256Prefix;
    const auto hash = digest(algorithm, data);
    if (!hash || hash->size() != prefix.back()) return std::nullopt;
    SignPlan plan{"sign", sha512 ? "rsa-sha2-512" : "rsa-sha2-256", {}};
    plan.data.assign(prefix.begin(), prefix.end());
    plan.data.insert(plan.data.end(), hash->begin(), hash->end());
    return plan;
}

}  // namespace

std::optional<Bytes> ModuleDigest(int algorithm, std::span<const uint8_t> data) {
    auto result = Hash::OfBuffer(algorithm, data);
    if (!result.ok()) return std::nullopt;
    return std::move(result.value);
}

std::optional<SignPlan> PlanSignature(SshKeyType type, std::span<const uint8_t> data,
                                      uint32_t flags, const DigestFunction& digest) {
    // The native request needs at least one byte to sign; SSH never asks for less.
    if (data.empty()) return std::nullopt;
    if (type == SshKeyType::kDss || type == SshKeyType::kEd25519 || IsEcdsa(type))
        return SignPlan{"sign", NameOfKeyType(type), Bytes(data.begin(), data.end())};
    if (type != SshKeyType::kRsa) return std::nullopt;
    if ((flags & openssh::kFlagRsaSha256) != 0) return PlanRsaSha2(data, false, digest);
    if ((flags & openssh::kFlagRsaSha512) != 0) return PlanRsaSha2(data, true, digest);
    return SignPlan{"hash-and-sign", kSshRsa, Bytes(data.begin(), data.end())};
}

std::optional<Bytes> SignatureBlob(const SignPlan& plan, std::span<const uint8_t> result) {
    const SshKeyType type = KeyTypeOfName(AsBytes(plan.algorithm));
    bool fits = false;
    if (type == SshKeyType::kDss) {
        fits = result.size() == kDssSignatureSize;
    } else if (type == SshKeyType::kEd25519) {
        fits = result.size() == kEd25519SignatureSize;
    } else if (IsEcdsa(type)) {
        fits = IsEcdsaSignature(result);
    } else {
        fits = !result.empty() && result.size() <= kMaxRsaSignature;  // the RSA names
    }
    if (!fits) return std::nullopt;
    SshWriter out;
    out.String(plan.algorithm);
    out.String(result);
    return Bytes(out.Data().begin(), out.Data().end());
}

}  // namespace kv
