#include "kvclm/public_key.h"

#include <cstring>

#include "kvclm/curve_keys.h"
#include "kvclm/key_numbers.h"
#include "kvclm/private_key.h"
#include "kvclm/verify.h"
#include "kvclm/wire.h"

namespace kvclm {
namespace {

constexpr std::string_view kRsaName = "ssh-rsa";
constexpr std::string_view kDssName = "ssh-dss";

kvclm_public_key* CheckedPublic(KVCLM_PUBLIC_KEY h) {
    return (h != nullptr && h->magic == kPublicMagic) ? h : nullptr;
}

}  // namespace

int PublicBlobOf(const EVP_PKEY* key, Bytes* blob) {
    Writer<Bytes> w(blob);
    const int type = KeyTypeOf(key);
    if (type == KVCLM_KEY_RSA) {
        RsaNumbers k;
        const int rc = GetRsaNumbers(key, &k, false);
        if (rc != KVCLM_OK) return rc;
        w.String(kRsaName);
        w.Mpint(k.e.get());
        w.Mpint(k.n.get());
        return KVCLM_OK;
    }
    if (type == KVCLM_KEY_DSS) {
        DsaNumbers k;
        const int rc = GetDsaNumbers(key, &k, false);
        if (rc != KVCLM_OK) return rc;
        w.String(kDssName);
        w.Mpint(k.p.get());
        w.Mpint(k.q.get());
        w.Mpint(k.g.get());
        w.Mpint(k.y.get());
        return KVCLM_OK;
    }
    if (const CurveKind* curve = CurveKindOf(key)) return CurvePublicBlob(*curve, key, blob);
    return KVCLM_E_UNSUPPORTED;
}

int ParsePublicBlob(const std::uint8_t* blob, std::size_t n, int* type, std::uint32_t* bits) {
    Reader r(blob, n);
    std::string_view name;
    if (!r.String(&name)) return KVCLM_E_BAD_FORMAT;
    int rc = KVCLM_OK;
    if (name == kRsaName) {
        RsaNumbers k;
        if (!r.Mpint(&k.e) || !r.Mpint(&k.n)) return KVCLM_E_BAD_FORMAT;
        rc = CheckRsaPublic(k);
        *type = KVCLM_KEY_RSA;
        *bits = rc == KVCLM_OK ? static_cast<std::uint32_t>(BN_num_bits(k.n.get())) : 0;
    } else if (name == kDssName) {
        DsaNumbers k;
        if (!r.Mpint(&k.p) || !r.Mpint(&k.q) || !r.Mpint(&k.g) || !r.Mpint(&k.y))
            return KVCLM_E_BAD_FORMAT;
        rc = CheckDsaPublic(k);
        *type = KVCLM_KEY_DSS;
        *bits = rc == KVCLM_OK ? static_cast<std::uint32_t>(BN_num_bits(k.p.get())) : 0;
    } else if (const CurveKind* curve = CurveKindBySshName(name)) {
        rc = ReadCurvePublic(*curve, r);
        *type = curve->type;
        *bits = curve->bits;
    } else {
        return KVCLM_E_UNSUPPORTED;
    }
    if (rc == KVCLM_OK && r.Remaining() != 0) return KVCLM_E_BAD_FORMAT;
    return rc;
}

int FillKeyInfo(int level, int type, std::uint32_t bits, KeyInfo* info) {
    if (info == nullptr || level != KVCLM_INFO_LEVEL) return KVCLM_E_BAD_PARAM;
    if (info->size != KVCLM_KEYINFO_SIZE || info->magic != KVCLM_KEYINFO_MAGIC)
        return KVCLM_E_BAD_RECORD;
    info->type = static_cast<std::uint32_t>(type);
    std::memset(info->algorithm, 0, sizeof(info->algorithm));
    const char* name = type == KVCLM_KEY_RSA       ? "RSA"
                       : type == KVCLM_KEY_ED25519 ? "ED25519"
                       : type == KVCLM_KEY_ECDSA   ? "ECDSA"
                                                   : "DSA";
    std::memcpy(info->algorithm, name, std::strlen(name));
    info->bits = bits;
    info->reserved[0] = info->reserved[1] = 0;
    return KVCLM_OK;
}

}  // namespace kvclm

using namespace kvclm;

namespace {

int NewPublicHandle(int type, std::uint32_t bits, Bytes blob, KVCLM_PUBLIC_KEY* out) {
    auto h = std::make_unique<kvclm_public_key>();
    h->magic = kPublicMagic;
    h->type = type;
    h->bits = bits;
    h->blob = std::move(blob);
    *out = h.release();
    return KVCLM_OK;
}

}  // namespace

extern "C" int kvclm_PublicKeyImport(KVCLM_PUBLIC_KEY* pub, const unsigned char* blob,
                                     uint32_t blobLength, int format, int reserved) {
    return Guarded(reserved, true, [&] {
        if (pub == nullptr || !ValidInput(blob, blobLength)) return KVCLM_E_BAD_PARAM;
        if (format != KVCLM_PUBLIC_IMPORT_SSH) return KVCLM_E_UNSUPPORTED;
        int type = -1;
        std::uint32_t bits = 0;
        const int rc = ParsePublicBlob(blob, blobLength, &type, &bits);
        if (rc != KVCLM_OK) return rc;
        return NewPublicHandle(type, bits, Bytes(blob, blob + blobLength), pub);
    });
}

extern "C" int kvclm_PublicKeyExport(KVCLM_PUBLIC_KEY pub, int format, int flags,
                                     unsigned char* out, uint32_t* outLength, int reserved) {
    return Guarded(reserved, true, [&] {
        const kvclm_public_key* h = CheckedPublic(pub);
        if (h == nullptr || flags != 0) return KVCLM_E_BAD_PARAM;
        if (format != KVCLM_FORMAT_SSH_PUBLIC) return KVCLM_E_UNSUPPORTED;
        return CopyOut(h->blob.data(), h->blob.size(), out, outLength);
    });
}

extern "C" int kvclm_PublicKeyGetData(KVCLM_PUBLIC_KEY pub, int level, KeyInfo* info,
                                      int reserved) {
    return Guarded(reserved, true, [&] {
        const kvclm_public_key* h = CheckedPublic(pub);
        if (h == nullptr) return KVCLM_E_BAD_PARAM;
        return FillKeyInfo(level, h->type, h->bits, info);
    });
}

extern "C" int kvclm_PublicKeyVerifySsh(KVCLM_PUBLIC_KEY pub, int flags, const unsigned char* data,
                                        uint32_t dataLength, const unsigned char* signature,
                                        uint32_t signatureLength, int reserved) {
    return Guarded(reserved, true, [&] {
        const kvclm_public_key* h = CheckedPublic(pub);
        if (h == nullptr || flags != 0 || !ValidInput(data, dataLength) ||
            !ValidInput(signature, signatureLength))
            return KVCLM_E_BAD_PARAM;
        return VerifySshSignature(h->blob, data, dataLength, signature, signatureLength);
    });
}

extern "C" int kvclm_PublicKeyFree(KVCLM_PUBLIC_KEY pub, int reserved) {
    return Guarded(reserved, false, [&] {
        if (pub == nullptr) return KVCLM_OK;
        kvclm_public_key* h = CheckedPublic(pub);
        if (h == nullptr) return KVCLM_E_BAD_PARAM;
        h->magic = 0;
        delete h;
        return KVCLM_OK;
    });
}

extern "C" int kvclm_PrivateKeyDerivePublic(KVCLM_PUBLIC_KEY* pub, KVCLM_PRIVATE_KEY key,
                                            int reserved) {
    return Guarded(reserved, true, [&] {
        const kvclm_private_key* k = CheckedPrivate(key);
        if (pub == nullptr || k == nullptr) return KVCLM_E_BAD_PARAM;
        Bytes blob;
        const int rc = PublicBlobOf(k->pkey.get(), &blob);
        if (rc != KVCLM_OK) return rc;
        return NewPublicHandle(k->type, k->bits, std::move(blob), pub);
    });
}

extern "C" int kvclm_PKVerifyKeyPair(KVCLM_PRIVATE_KEY key, KVCLM_PUBLIC_KEY pub, int* match,
                                     int reserved) {
    return Guarded(reserved, true, [&] {
        const kvclm_private_key* k = CheckedPrivate(key);
        const kvclm_public_key* p = CheckedPublic(pub);
        if (k == nullptr || p == nullptr || match == nullptr) return KVCLM_E_BAD_PARAM;
        Bytes blob;
        const int rc = PublicBlobOf(k->pkey.get(), &blob);
        if (rc != KVCLM_OK) return rc;
        *match = (blob == p->blob) ? 1 : 0;
        return KVCLM_OK;
    });
}
