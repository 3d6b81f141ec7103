// Import, export and inspection of private keys.
#include "kvclm/private_key.h"

#include "kvclm/container.h"
#include "kvclm/curve_keys.h"
#include "kvclm/key_numbers.h"
#include "kvclm/protected_container.h"
#include "kvclm/public_key.h"

namespace kvclm {

int NewPrivateHandle(PkeyPtr key, KVCLM_PRIVATE_KEY* out) {
    const int type = KeyTypeOf(key.get());
    if (type < 0) return KVCLM_E_UNSUPPORTED;
    auto h = std::make_unique<kvclm_private_key>();
    h->magic = kPrivateMagic;
    h->type = type;
    // Curve keys report their curve's size (OpenSSL says 253 for Ed25519).
    const CurveKind* curve = CurveKindOf(key.get());
    h->kind = curve != nullptr ? curve->kind : type;
    h->bits =
        curve != nullptr ? curve->bits : static_cast<std::uint32_t>(EVP_PKEY_get_bits(key.get()));
    h->pkey = std::move(key);
    *out = h.release();
    return KVCLM_OK;
}

namespace {

int OpenContainer(const std::uint8_t* blob, std::size_t n, const std::uint8_t* pass,
                  std::size_t passLength, PkeyPtr* key) {
    ContainerView view;
    const int rc = ParseContainer(blob, n, &view);
    if (rc != KVCLM_OK) return rc;
    if (view.cipher == kCipherNone) return OpenPlain(view, key);
    if (passLength == 0) {
        const bool known = view.cipher == kCipherProtected || view.cipher == kCipher3des;
        return known ? KVCLM_E_NEED_PASSPHRASE : KVCLM_E_UNSUPPORTED;
    }
    if (view.cipher == kCipherProtected) return OpenProtected(blob, n, view, pass, passLength, key);
    if (view.cipher == kCipher3des) return Open3des(view, pass, passLength, key);
    return KVCLM_E_UNSUPPORTED;
}

int CheckExportParams(const ExportParams* p, ProtectSettings* s) {
    if (p->size != KVCLM_EXPORT_PARAMS_SIZE && p->size != sizeof(ExportParams))
        return KVCLM_E_BAD_RECORD;
    if (p->passphraseKind != KVCLM_PASSPHRASE_TEXT || p->passphrase == nullptr ||
        p->passphraseLength == 0 || p->saltLength > 64)
        return KVCLM_E_BAD_PARAM;
    s->iterations =
        p->iterations > KVCLM_PBKDF2_MIN_ITERATIONS ? p->iterations : KVCLM_PBKDF2_MIN_ITERATIONS;
    if (s->iterations > 10000000u) return KVCLM_E_BAD_PARAM;
    s->saltLength = p->saltLength < 16 ? 16 : p->saltLength;
    return KVCLM_OK;
}

int ExportPlain(const kvclm_private_key* k, const SecureBytes& payload, unsigned char* out,
                uint32_t* outLength) {
    const std::size_t needed = ContainerHeaderSize(k->kind, kCipherNone) + 4 + payload.size();
    int rc = CheckCapacity(needed, out, outLength);
    if (rc != KVCLM_OK) return rc;
    SecureBytes blob;
    WriteContainerHeader(k->kind, kCipherNone, 4 + payload.size(), &blob);
    blob.push_back(static_cast<std::uint8_t>(payload.size() >> 24));
    blob.push_back(static_cast<std::uint8_t>(payload.size() >> 16));
    blob.push_back(static_cast<std::uint8_t>(payload.size() >> 8));
    blob.push_back(static_cast<std::uint8_t>(payload.size()));
    blob.insert(blob.end(), payload.begin(), payload.end());
    return CopyOut(blob.data(), blob.size(), out, outLength);
}

int ExportProtected(kvclm_private_key* k, const SecureBytes& payload, const ExportParams* p,
                    unsigned char* out, uint32_t* outLength) {
    ProtectSettings s{};
    int rc = CheckExportParams(p, &s);
    if (rc != KVCLM_OK) return rc;
    // Size first: the derivation is only paid when the buffer is there.
    rc = CheckCapacity(ProtectedSize(k->kind, payload.size(), s), out, outLength);
    if (rc != KVCLM_OK) return rc;
    SecureBytes blob;
    rc = WriteProtected(k->kind, payload, s, p->passphrase, p->passphraseLength, k->pkey.get(),
                        &blob);
    if (rc != KVCLM_OK) return rc;
    return CopyOut(blob.data(), blob.size(), out, outLength);
}

}  // namespace
}  // namespace kvclm

using namespace kvclm;

extern "C" int kvclm_PrivateKeyImport(KVCLM_PRIVATE_KEY* key, const unsigned char* passphrase,
                                      uint32_t passphraseLength, int passphraseKind,
                                      const unsigned char* blob, uint32_t blobLength, int format,
                                      int flags, int reserved) {
    return Guarded(reserved, true, [&] {
        if (key == nullptr || blob == nullptr) return KVCLM_E_BAD_PARAM;
        if (flags != 0 && flags != KVCLM_IMPORT_CHECK_PRIMES) return KVCLM_E_BAD_PARAM;
        if (format != KVCLM_FORMAT_AUTO && format != KVCLM_FORMAT_SSH2_CONTAINER)
            return KVCLM_E_UNSUPPORTED;
        if (passphraseKind == KVCLM_PASSPHRASE_NONE) {
            passphraseLength = 0;
        } else if (passphraseKind != KVCLM_PASSPHRASE_TEXT ||
                   !ValidInput(passphrase, passphraseLength)) {
            return KVCLM_E_BAD_PARAM;
        }
        PkeyPtr pkey;
        int rc = OpenContainer(blob, blobLength, passphrase, passphraseLength, &pkey);
        if (rc == KVCLM_OK && flags == KVCLM_IMPORT_CHECK_PRIMES) rc = CheckPrimes(pkey.get());
        if (rc != KVCLM_OK) return rc;
        return NewPrivateHandle(std::move(pkey), key);
    });
}

extern "C" int kvclm_PrivateKeyExport(KVCLM_PRIVATE_KEY key, int format, int flags,
                                      const ExportParams* params, int plain, unsigned char* out,
                                      uint32_t* outLength, int reserved) {
    return Guarded(reserved, true, [&] {
        kvclm_private_key* k = CheckedPrivate(key);
        if (k == nullptr || outLength == nullptr || flags != 0) return KVCLM_E_BAD_PARAM;
        if (format != KVCLM_FORMAT_SSH2_CONTAINER) return KVCLM_E_UNSUPPORTED;
        if ((plain == 1) == (params != nullptr) || (plain != 0 && plain != 1))
            return KVCLM_E_BAD_PARAM;
        SecureBytes payload;
        const int rc = EncodePayload(k->pkey.get(), k->kind, &payload);
        if (rc != KVCLM_OK) return rc;
        return plain ? ExportPlain(k, payload, out, outLength)
                     : ExportProtected(k, payload, params, out, outLength);
    });
}

extern "C" int kvclm_PrivateKeyGetData(KVCLM_PRIVATE_KEY key, int level, KeyInfo* info,
                                       int reserved) {
    return Guarded(reserved, true, [&] {
        const kvclm_private_key* k = CheckedPrivate(key);
        if (k == nullptr) return KVCLM_E_BAD_PARAM;
        return FillKeyInfo(level, k->type, k->bits, info);
    });
}

extern "C" int kvclm_PrivateKeyFree(KVCLM_PRIVATE_KEY key, int reserved) {
    return Guarded(reserved, false, [&] {
        if (key == nullptr) return KVCLM_OK;
        kvclm_private_key* k = CheckedPrivate(key);
        if (k == nullptr) return KVCLM_E_BAD_PARAM;
        k->pkey.reset();
        OPENSSL_cleanse(k, sizeof(*k));
        delete k;
        return KVCLM_OK;
    });
}
