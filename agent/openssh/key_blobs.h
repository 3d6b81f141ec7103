// SSH public key blobs of the key types the agent stores, and the OpenSSH certificates of them:
//   string "ssh-rsa", mpint e, mpint n          string "ssh-dss", mpint p, q, g, y
//   string "ssh-ed25519", string key (32)        string "ecdsa-sha2-nistpN", string "nistpN",
//                                                string Q (uncompressed point)
// A certificate ("<type>-cert-v01@openssh.com") carries, after its name and a nonce, the same
// fields as the plain blob, then its own (serial, principals, validity, CA, signature).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "agent/openssh/ssh_wire.h"
#include "platform/secure_memory.h"

namespace kv {

enum class SshKeyType { kUnsupported, kRsa, kDss, kEd25519, kEcdsaP256, kEcdsaP384, kEcdsaP521 };

inline constexpr std::string_view kSshRsa = "ssh-rsa";
inline constexpr std::string_view kSshDss = "ssh-dss";
inline constexpr std::string_view kSshEd25519 = "ssh-ed25519";

// The largest number accepted, as OpenSSH limits it (16384 bits).
inline constexpr std::size_t kMaxMpintBytes = 2048;
inline constexpr std::size_t kEd25519KeyBytes = 32;
// The shortest RSA modulus OpenSSH accepts; a blob with a shorter one is no supported blob.
inline constexpr std::size_t kMinRsaModulusBits = 1024;

// The type a name stands for.
SshKeyType KeyTypeOfName(std::span<const uint8_t> name);
// The type's name in blobs and signatures ("ssh-rsa", "ecdsa-sha2-nistp256", ...).
std::string_view NameOfKeyType(SshKeyType type);
bool IsEcdsa(SshKeyType type);
// "nistp256" and so on for ECDSA types; empty for the others.
std::string_view CurveNameOf(SshKeyType type);
// The length of an uncompressed point of an ECDSA type's curve.
std::size_t EcdsaPointBytes(SshKeyType type);

// The key type of a blob whose fields are all well formed and that has nothing after them;
// kUnsupported for anything else.
SshKeyType KeyTypeOfBlob(std::span<const uint8_t> blob);

// The plain key type a certificate name ("ssh-ed25519-cert-v01@openssh.com") stands for;
// kUnsupported for any other name.
SshKeyType CertifiedKeyTypeOfName(std::span<const uint8_t> name);
// True when the blob starts with a certificate name of a supported type.
bool IsCertificateBlob(std::span<const uint8_t> blob);
// The plain public key blob a certificate holds; nullopt when it is not a certificate of a
// supported type or its key fields are malformed. The rest of it is not checked: sshd does.
std::optional<Bytes> PlainBlobOfCertificate(std::span<const uint8_t> certificate);

// Reads an mpint that must be positive and fit the limit; returns its magnitude without
// leading zeros. Zero, negative or oversized values fail the reader.
std::span<const uint8_t> ReadPositiveMpint(SshReader& in);

Bytes RsaPublicBlob(std::span<const uint8_t> e, std::span<const uint8_t> n);
Bytes DssPublicBlob(std::span<const uint8_t> p, std::span<const uint8_t> q,
                    std::span<const uint8_t> g, std::span<const uint8_t> y);
Bytes Ed25519PublicBlob(std::span<const uint8_t> key);
Bytes EcdsaPublicBlob(SshKeyType type, std::span<const uint8_t> point);

// Reads a type's public fields (after its name) and gives them as a plain blob; fails the
// reader when they are malformed.
Bytes ReadPublicFields(SshKeyType type, SshReader& in);

}  // namespace kv
