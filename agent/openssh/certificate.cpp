#include "agent/openssh/certificate.h"

#include "agent/openssh/key_blobs.h"
#include "agent/openssh/ssh_wire.h"
#include "cryptomodule/public_key.h"

namespace kv {

namespace {

// The longest certificate the key store keeps beside a key.
constexpr std::size_t kMaxCertificateBytes = 16 * 1024;
constexpr uint32_t kUserCertificate = 1;
constexpr uint32_t kHostCertificate = 2;
// As many principals as OpenSSH reads.
constexpr std::size_t kMaxPrincipals = 256;

// A list of strings, each of them text without a NUL (OpenSSH reads them as C strings).
bool ReadPrincipals(std::span<const uint8_t> section) {
    SshReader in(section);
    for (std::size_t count = 0; !in.AtEnd(); ++count) {
        const auto principal = in.String();
        if (!in.Ok() || count == kMaxPrincipals) return false;
        for (const uint8_t byte : principal)
            if (byte == 0) return false;
    }
    return true;
}

// Critical options and extensions: pairs of a name and a string of data.
bool ReadOptions(std::span<const uint8_t> section) {
    SshReader in(section);
    while (!in.AtEnd()) {
        in.String();
        in.String();
        if (!in.Ok()) return false;
    }
    return true;
}

}  // namespace

bool CertificateIsSound(std::span<const uint8_t> certificate) {
    if (certificate.size() > kMaxCertificateBytes) return false;
    SshReader in(certificate);
    const SshKeyType type = CertifiedKeyTypeOfName(in.String());
    in.String();  // nonce
    if (!in.Ok() || type == SshKeyType::kUnsupported) return false;
    ReadPublicFields(type, in);
    in.Uint32();  // serial, high and low halves
    in.Uint32();
    const uint32_t kind = in.Uint32();
    in.String();  // key id
    const auto principals = in.String();
    for (int half = 0; half < 4; ++half) in.Uint32();  // valid after, valid before
    const auto critical = in.String();
    const auto extensions = in.String();
    in.String();  // reserved
    const auto ca = in.String();
    const std::size_t signed_length = certificate.size() - in.Remaining();
    const auto signature = in.String();
    if (!in.Ok() || !in.AtEnd() || (kind != kUserCertificate && kind != kHostCertificate) ||
        !ReadPrincipals(principals) || !ReadOptions(critical) || !ReadOptions(extensions) ||
        KeyTypeOfBlob(ca) == SshKeyType::kUnsupported) {
        return false;
    }
    const auto ca_key = PublicKey::Import(ca);
    if (!ca_key) return false;
    const auto verified = ca_key.value.VerifySsh(certificate.first(signed_length), signature);
    return verified.ok() && verified.value;
}

}  // namespace kv
