// The SSH2 private key container that other SSH2 key tools read and write:
//   uint32 0x3f6ff9eb, uint32 total length, string key type, string cipher, string cipher blob
// with, inside the (decrypted) cipher blob, a payload of bit-count-prefixed numbers:
//   RSA: e, d, n, u, p, q  where this p is OpenSSL's q, this q is OpenSSL's p, u = OpenSSL's iqmp
//   DSA: uint32 0, p, g, q, y, x
// The curve keys use the same framing with their SSH name as the key type and their OpenSSH
// private fields as the payload (see curve_keys.h).
//
// A container's kind is its KeyInfo type for RSA and DSS keys and a kKind* value of
// curve_keys.h for the others.
#pragma once

#include <string_view>

#include "kvclm/internal.h"

namespace kvclm {

constexpr std::uint32_t kContainerMagic = 0x3f6ff9ebu;
constexpr std::string_view kCipherNone = "none";
constexpr std::string_view kCipher3des = "3des-cbc";

struct ContainerView {
    int keyType = -1;  // the kind
    std::string_view cipher;
    const std::uint8_t* cipherBlob = nullptr;  // contents, without the length field
    std::size_t cipherBlobLength = 0;
};

// Checks the framing: magic, total length equal to n, known key type, nothing after the blob.
int ParseContainer(const std::uint8_t* blob, std::size_t n, ContainerView* view);

// Payload numbers to key and back. Decoding demands the payload be consumed exactly.
int DecodePayload(int keyType, const std::uint8_t* payload, std::size_t n, PkeyPtr* key);
int EncodePayload(const EVP_PKEY* key, int keyType, SecureBytes* payload);

// Appends magic, total length, key type, cipher and the cipher blob's length; the caller
// appends cipherBlobLength bytes of cipher blob afterwards.
void WriteContainerHeader(int keyType, std::string_view cipher, std::size_t cipherBlobLength,
                          SecureBytes* out);
std::size_t ContainerHeaderSize(int keyType, std::string_view cipher);

// Cipher "none": the cipher blob is exactly string payload.
int OpenPlain(const ContainerView& view, PkeyPtr* key);
// Cipher "3des-cbc" with the key derived from the passphrase as PuTTYgen does.
int Open3des(const ContainerView& view, const std::uint8_t* pass, std::size_t passLength,
             PkeyPtr* key);

}  // namespace kvclm
