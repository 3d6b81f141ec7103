// Ed25519 (RFC 8709) and ECDSA on nistp256, nistp384 and nistp521 (RFC 5656): their SSH
// names, their private fields as OpenSSH writes them, public blobs, signatures and generation.
//
// Private fields, after the key type name (also the payload of their private key container):
//   ssh-ed25519           string public key (32), string seed || public key (64)
//   ecdsa-sha2-nistpN     string "nistpN", string Q (uncompressed point), mpint d
#pragma once

#include <string_view>

#include "kvclm/internal.h"
#include "kvclm/wire.h"

namespace kvclm {

// Container kinds of the curve keys. RSA and DSS containers use their KeyInfo types (1, 0).
constexpr int kKindEd25519 = 2;
constexpr int kKindEcdsaP256 = 3;
constexpr int kKindEcdsaP384 = 4;
constexpr int kKindEcdsaP521 = 5;

struct CurveKind {
    int kind;
    int type;  // KVCLM_KEY_ED25519 or KVCLM_KEY_ECDSA
    std::uint32_t bits;
    std::string_view sshName;    // "ssh-ed25519", "ecdsa-sha2-nistp256", ...
    std::string_view curveName;  // "nistp256", ...; empty for Ed25519
    const char* group;           // OpenSSL's name of the group; null for Ed25519
};

// Null when nothing matches.
const CurveKind* CurveKindByKind(int kind);
const CurveKind* CurveKindBySshName(std::string_view name);
const CurveKind* CurveKindOf(const EVP_PKEY* key);
const CurveKind* CurveKindByTypeAndBits(int type, std::uint32_t bits);

// Reads the private fields and checks that the halves belong together.
int ReadCurvePrivate(const CurveKind& kind, Reader& r, PkeyPtr* key);
int WriteCurvePrivate(const CurveKind& kind, const EVP_PKEY* key, SecureBytes* out);

// The public blob's fields after the name, checked (a point on the curve); nothing after them.
// With `key`, the public key for verifying.
int ReadCurvePublic(const CurveKind& kind, Reader& r, PkeyPtr* key = nullptr);
// The whole public blob, name included.
int CurvePublicBlob(const CurveKind& kind, const EVP_PKEY* key, Bytes* blob);

// The signature as SSH carries it inside the signature blob: Ed25519 the 64 bytes; ECDSA
// mpint r, mpint s over the data hashed with the curve's hash.
int SignCurve(const CurveKind& kind, EVP_PKEY* key, const std::uint8_t* data, std::size_t n,
              Bytes* signature);
// A signature as SignCurve gives it in the form OpenSSL verifies (ECDSA: DER of r and s), and
// the digest it was made over (null for Ed25519). KVCLM_E_BAD_SIGNATURE when it is malformed.
int CurveSignatureToVerify(const CurveKind& kind, const std::uint8_t* signature,
                           std::size_t signatureLength, Bytes* out, const EVP_MD** md);
// The largest signature SignCurve gives for the kind.
std::size_t CurveSignatureCapacity(const CurveKind& kind);

int GenerateCurve(const CurveKind& kind, PkeyPtr* key);

}  // namespace kvclm
