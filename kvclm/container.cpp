#include "kvclm/container.h"

#include <cstring>

#include "kvclm/curve_keys.h"
#include "kvclm/hash.h"
#include "kvclm/key_numbers.h"
#include "kvclm/wire.h"

namespace kvclm {
namespace {

constexpr std::string_view kRsaTypeName = "if-modn{sign{rsa-pkcs1-sha1},encrypt{rsa-pkcs1v2-oaep}}";
constexpr std::string_view kDsaTypeName = "dl-modp{sign{dsa-nist-sha1},dh{plain}}";
constexpr std::string_view kRsaTypePrefix = "if-modn{sign{rsa";
constexpr std::string_view kDsaTypePrefix = "dl-modp{sign{dsa";

// Curve keys go by their SSH names: the tools that read SSH2 containers know none of them.
std::string_view TypeName(int kind) {
    if (const CurveKind* curve = CurveKindByKind(kind)) return curve->sshName;
    return kind == KVCLM_KEY_RSA ? kRsaTypeName : kDsaTypeName;
}

int DecodeRsa(Reader& r, PkeyPtr* key) {
    RsaNumbers k;
    BnPtr containerP, containerQ;
    if (!r.BitsNumber(&k.e) || !r.BitsNumber(&k.d) || !r.BitsNumber(&k.n) ||
        !r.BitsNumber(&k.iqmp) || !r.BitsNumber(&containerP) || !r.BitsNumber(&containerQ))
        return KVCLM_E_BAD_FORMAT;
    if (r.Remaining() != 0) return KVCLM_E_BAD_FORMAT;
    k.p = std::move(containerQ);
    k.q = std::move(containerP);
    return BuildRsaPrivate(k, key);
}

int DecodeDsa(Reader& r, PkeyPtr* key) {
    DsaNumbers k;
    std::uint32_t predefined = 1;
    if (!r.U32(&predefined) || predefined != 0) return KVCLM_E_BAD_FORMAT;
    if (!r.BitsNumber(&k.p) || !r.BitsNumber(&k.g) || !r.BitsNumber(&k.q) || !r.BitsNumber(&k.y) ||
        !r.BitsNumber(&k.x))
        return KVCLM_E_BAD_FORMAT;
    if (r.Remaining() != 0) return KVCLM_E_BAD_FORMAT;
    return BuildDsaPrivate(k, key);
}

// PuTTYgen's passphrase-to-key: MD5(P) || MD5(P || MD5(P)), first 24 bytes; zero IV.
void Derive3desKey(const std::uint8_t* pass, std::size_t n, std::uint8_t key[24]) {
    std::uint8_t a[16], b[16];
    unsigned len = 0;
    SecureBytes buf(pass, pass + n);
    EVP_Digest(buf.data(), buf.size(), a, &len, Md5(), nullptr);
    buf.insert(buf.end(), a, a + 16);
    EVP_Digest(buf.data(), buf.size(), b, &len, Md5(), nullptr);
    std::memcpy(key, a, 16);
    std::memcpy(key + 16, b, 8);
    OPENSSL_cleanse(a, sizeof(a));
    OPENSSL_cleanse(b, sizeof(b));
}

bool Decrypt3des(const std::uint8_t key[24], const std::uint8_t* in, std::size_t n,
                 std::uint8_t* out) {
    const std::uint8_t iv[8] = {};
    CipherCtxPtr ctx(EVP_CIPHER_CTX_new());
    int len = 0, fin = 0;
    return ctx && EVP_DecryptInit_ex(ctx.get(), EVP_des_ede3_cbc(), nullptr, key, iv) == 1 &&
           EVP_CIPHER_CTX_set_padding(ctx.get(), 0) == 1 &&
           EVP_DecryptUpdate(ctx.get(), out, &len, in, static_cast<int>(n)) == 1 &&
           EVP_DecryptFinal_ex(ctx.get(), out + len, &fin) == 1;
}

}  // namespace

int ParseContainer(const std::uint8_t* blob, std::size_t n, ContainerView* view) {
    Reader r(blob, n);
    std::uint32_t magic = 0, total = 0;
    std::string_view type;
    if (!r.U32(&magic) || !r.U32(&total)) return KVCLM_E_BAD_FORMAT;
    if (magic != kContainerMagic || total != n) return KVCLM_E_BAD_FORMAT;
    if (!r.String(&type) || !r.String(&view->cipher) ||
        !r.String(&view->cipherBlob, &view->cipherBlobLength) || r.Remaining() != 0)
        return KVCLM_E_BAD_FORMAT;
    if (type.size() > kRsaTypePrefix.size() && type.starts_with(kRsaTypePrefix)) {
        view->keyType = KVCLM_KEY_RSA;
    } else if (type.size() > kDsaTypePrefix.size() && type.starts_with(kDsaTypePrefix)) {
        view->keyType = KVCLM_KEY_DSS;
    } else if (const CurveKind* curve = CurveKindBySshName(type)) {
        view->keyType = curve->kind;
    } else {
        return KVCLM_E_UNSUPPORTED;
    }
    return KVCLM_OK;
}

int DecodePayload(int keyType, const std::uint8_t* payload, std::size_t n, PkeyPtr* key) {
    Reader r(payload, n);
    if (const CurveKind* curve = CurveKindByKind(keyType)) {
        const int rc = ReadCurvePrivate(*curve, r, key);
        if (rc != KVCLM_OK) return rc;
        return r.Remaining() == 0 ? KVCLM_OK : KVCLM_E_BAD_FORMAT;
    }
    return keyType == KVCLM_KEY_RSA ? DecodeRsa(r, key) : DecodeDsa(r, key);
}

int EncodePayload(const EVP_PKEY* key, int keyType, SecureBytes* payload) {
    if (const CurveKind* curve = CurveKindByKind(keyType))
        return WriteCurvePrivate(*curve, key, payload);
    Writer<SecureBytes> w(payload);
    if (keyType == KVCLM_KEY_RSA) {
        RsaNumbers k;
        const int rc = GetRsaNumbers(key, &k, true);
        if (rc != KVCLM_OK) return rc;
        for (const BIGNUM* v :
             {k.e.get(), k.d.get(), k.n.get(), k.iqmp.get(), k.q.get(), k.p.get()})
            w.BitsNumber(v);
        return KVCLM_OK;
    }
    DsaNumbers k;
    const int rc = GetDsaNumbers(key, &k, true);
    if (rc != KVCLM_OK) return rc;
    w.U32(0);
    for (const BIGNUM* v : {k.p.get(), k.g.get(), k.q.get(), k.y.get(), k.x.get()}) w.BitsNumber(v);
    return KVCLM_OK;
}

std::size_t ContainerHeaderSize(int keyType, std::string_view cipher) {
    return 4 + 4 + 4 + TypeName(keyType).size() + 4 + cipher.size() + 4;
}

void WriteContainerHeader(int keyType, std::string_view cipher, std::size_t cipherBlobLength,
                          SecureBytes* out) {
    Writer<SecureBytes> w(out);
    w.U32(kContainerMagic);
    w.U32(static_cast<std::uint32_t>(ContainerHeaderSize(keyType, cipher) + cipherBlobLength));
    w.String(TypeName(keyType));
    w.String(cipher);
    w.U32(static_cast<std::uint32_t>(cipherBlobLength));
}

int OpenPlain(const ContainerView& view, PkeyPtr* key) {
    Reader r(view.cipherBlob, view.cipherBlobLength);
    const std::uint8_t* payload = nullptr;
    std::size_t n = 0;
    if (!r.String(&payload, &n) || r.Remaining() != 0) return KVCLM_E_BAD_FORMAT;
    return DecodePayload(view.keyType, payload, n, key);
}

int Open3des(const ContainerView& view, const std::uint8_t* pass, std::size_t passLength,
             PkeyPtr* key) {
    const std::size_t n = view.cipherBlobLength;
    if (n == 0 || n % 8 != 0) return KVCLM_E_BAD_FORMAT;
    std::uint8_t desKey[24];
    Derive3desKey(pass, passLength, desKey);
    SecureBytes clear(n);
    const bool ok = Decrypt3des(desKey, view.cipherBlob, n, clear.data());
    OPENSSL_cleanse(desKey, sizeof(desKey));
    if (!ok) return KVCLM_E_CRYPTO;
    // No integrity check in this format: any failure from here on means a wrong passphrase.
    Reader r(clear.data(), n);
    const std::uint8_t* payload = nullptr;
    std::size_t len = 0;
    if (!r.String(&payload, &len) || r.Remaining() >= 8) return KVCLM_E_BAD_PASSPHRASE;
    const int rc = DecodePayload(view.keyType, payload, len, key);
    if (rc == KVCLM_E_NO_MEMORY || rc == KVCLM_E_CRYPTO) return rc;
    return rc == KVCLM_OK ? KVCLM_OK : KVCLM_E_BAD_PASSPHRASE;
}

}  // namespace kvclm
