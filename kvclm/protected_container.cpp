#include "kvclm/protected_container.h"

#include <openssl/rand.h>

#include <cstring>

#include "kvclm/hash.h"
#include "kvclm/secret_cache.h"
#include "kvclm/wire.h"

namespace kvclm {
namespace {

constexpr std::size_t kKeySize = 32, kNonceSize = 12, kTagSize = 16;
// Imports accept any count from the smallest a caller may ask for up to kMaxImportIterations.
constexpr std::uint32_t kMinImportIterations = 10000;

SecureBytes DeriveKey(const std::uint8_t* pass, std::size_t passLength, const std::uint8_t* salt,
                      std::size_t saltLength, std::uint32_t iterations) {
#ifdef KVCLM_CHEAP_KDF
    // The fuzzers' module only: one round instead of the count the container names, so that
    // an input that protects a key costs microseconds. Never built into the agent's module.
    iterations = 1;
#endif
    SecureBytes key(kKeySize);
    if (PKCS5_PBKDF2_HMAC(reinterpret_cast<const char*>(pass), static_cast<int>(passLength), salt,
                          static_cast<int>(saltLength), static_cast<int>(iterations), Sha256(),
                          static_cast<int>(kKeySize), key.data()) != 1)
        throw std::bad_alloc();
    return key;
}

// The derived key for these inputs, from the cache when it was seen before.
SecureBytes KeyFor(const KdfId& id, const std::uint8_t* pass, std::size_t passLength,
                   const std::uint8_t* salt, std::size_t saltLength, std::uint32_t iterations) {
    SecureBytes key;
    if (LookupDerivedKey(id, &key)) return key;
    return DeriveKey(pass, passLength, salt, saltLength, iterations);
}

bool Gcm(bool encrypt, const SecureBytes& key, const std::uint8_t* nonce, const std::uint8_t* aad,
         std::size_t aadLength, const std::uint8_t* in, std::size_t n, std::uint8_t* out,
         std::uint8_t* tag) {
    CipherCtxPtr ctx(EVP_CIPHER_CTX_new());
    int len = 0;
    if (!ctx ||
        EVP_CipherInit_ex(ctx.get(), EVP_aes_256_gcm(), nullptr, nullptr, nullptr,
                          encrypt ? 1 : 0) != 1 ||
        EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_IVLEN, kNonceSize, nullptr) != 1 ||
        EVP_CipherInit_ex(ctx.get(), nullptr, nullptr, key.data(), nonce, -1) != 1 ||
        EVP_CipherUpdate(ctx.get(), nullptr, &len, aad, static_cast<int>(aadLength)) != 1)
        return false;
    if (n != 0 && EVP_CipherUpdate(ctx.get(), out, &len, in, static_cast<int>(n)) != 1)
        return false;
    if (!encrypt && EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_TAG, kTagSize, tag) != 1)
        return false;
    if (EVP_CipherFinal_ex(ctx.get(), out + len, &len) != 1) return false;
    return !encrypt || EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_GET_TAG, kTagSize, tag) == 1;
}

}  // namespace

std::size_t ProtectedSize(int keyType, std::size_t payloadLength, const ProtectSettings& s) {
    return ContainerHeaderSize(keyType, kCipherProtected) + 4 + 4 + s.saltLength + kNonceSize +
           payloadLength + kTagSize;
}

int WriteProtected(int keyType, const SecureBytes& payload, const ProtectSettings& s,
                   const std::uint8_t* pass, std::size_t passLength, EVP_PKEY* openedKey,
                   SecureBytes* out) {
    std::uint8_t salt[64], nonce[kNonceSize];
    if (s.saltLength > sizeof(salt) || RAND_bytes(salt, static_cast<int>(s.saltLength)) != 1 ||
        RAND_bytes(nonce, kNonceSize) != 1)
        return KVCLM_E_CRYPTO;
    const KdfId id = MakeKdfId(s.iterations, salt, s.saltLength, pass, passLength);
    const SecureBytes key = KeyFor(id, pass, passLength, salt, s.saltLength, s.iterations);

    SecureBytes blob;
    blob.reserve(ProtectedSize(keyType, payload.size(), s));
    const std::size_t cipherBlobLength =
        4 + 4 + s.saltLength + kNonceSize + payload.size() + kTagSize;
    WriteContainerHeader(keyType, kCipherProtected, cipherBlobLength, &blob);
    Writer<SecureBytes> w(&blob);
    w.U32(s.iterations);
    w.String(salt, s.saltLength);
    w.Raw(nonce, kNonceSize);
    const std::size_t aadLength = blob.size();
    blob.resize(aadLength + payload.size() + kTagSize);
    if (!Gcm(true, key, nonce, blob.data(), aadLength, payload.data(), payload.size(),
             blob.data() + aadLength, blob.data() + aadLength + payload.size()))
        return KVCLM_E_CRYPTO;
    RememberDerivedKey(id, key);
    if (openedKey != nullptr)
        RememberOpenedKey(DigestOfBlob(blob.data(), blob.size()), id, openedKey);
    *out = std::move(blob);
    return KVCLM_OK;
}

int OpenProtected(const std::uint8_t* blob, std::size_t n, const ContainerView& view,
                  const std::uint8_t* pass, std::size_t passLength, PkeyPtr* key) {
    Reader r(view.cipherBlob, view.cipherBlobLength);
    std::uint32_t iterations = 0;
    const std::uint8_t *salt = nullptr, *nonce = nullptr;
    std::size_t saltLength = 0;
    if (!r.U32(&iterations) || !r.String(&salt, &saltLength) || !r.Raw(kNonceSize, &nonce) ||
        r.Remaining() < kTagSize)
        return KVCLM_E_BAD_FORMAT;
    if (iterations < kMinImportIterations || iterations > kMaxImportIterations || saltLength < 8 ||
        saltLength > 64)
        return KVCLM_E_BAD_FORMAT;
    const KdfId id = MakeKdfId(iterations, salt, saltLength, pass, passLength);
    const BlobDigest digest = DigestOfBlob(blob, n);
    if (PkeyPtr cached = LookupOpenedKey(digest, id)) {
        *key = std::move(cached);
        return KVCLM_OK;
    }
    const std::size_t textLength = r.Remaining() - kTagSize;
    const std::uint8_t* ciphertext = r.Position();
    std::uint8_t tag[kTagSize];
    std::memcpy(tag, ciphertext + textLength, kTagSize);
    const SecureBytes derived = KeyFor(id, pass, passLength, salt, saltLength, iterations);
    SecureBytes payload(textLength);
    if (!Gcm(false, derived, nonce, blob, static_cast<std::size_t>(ciphertext - blob), ciphertext,
             textLength, payload.data(), tag))
        return KVCLM_E_BAD_PASSPHRASE;
    RememberDerivedKey(id, derived);
    const int rc = DecodePayload(view.keyType, payload.data(), payload.size(), key);
    if (rc == KVCLM_OK) RememberOpenedKey(digest, id, key->get());
    return rc;
}

}  // namespace kvclm
