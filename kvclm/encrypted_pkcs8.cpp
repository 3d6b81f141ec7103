#include "kvclm/encrypted_pkcs8.h"

#include <openssl/bio.h>
#include <openssl/objects.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>
#include <openssl/x509.h>

#include <climits>

#include "kvclm/protected_container.h"

namespace kvclm {
namespace {

constexpr int kSaltLength = 16;

template <class T, void (*Free)(T*)>
struct FreeWith {
    void operator()(T* p) const noexcept { Free(p); }
};
template <class T, void (*Free)(T*)>
using Owned = std::unique_ptr<T, FreeWith<T, Free>>;

using BioPtr = Owned<BIO, BIO_free_all>;
using SigPtr = Owned<X509_SIG, X509_SIG_free>;
using KeyInfoPtr = Owned<PKCS8_PRIV_KEY_INFO, PKCS8_PRIV_KEY_INFO_free>;

// The parameters of an algorithm identifier, decoded as T; null when they are not a T.
template <class T, void (*Free)(T*)>
Owned<T, Free> Unpack(const ASN1_ITEM* item, const ASN1_TYPE* parameter) {
    return Owned<T, Free>(static_cast<T*>(ASN1_TYPE_unpack_sequence(item, parameter)));
}

// A count from 1 to max; anything else, a negative or absent one too, is refused.
bool CountWithin(const ASN1_INTEGER* value, std::uint64_t max, std::uint64_t* out = nullptr) {
    std::uint64_t v = 0;
    if (value == nullptr || ASN1_INTEGER_get_uint64(&v, value) != 1 || v == 0 || v > max)
        return false;
    if (out != nullptr) *out = v;
    return true;
}

// PBKDF2 and the PBES1 / PKCS#12 schemes: parameters of type T whose `iter` is the cost.
template <class T, void (*Free)(T*)>
int CheckIterations(const ASN1_ITEM* item, const ASN1_TYPE* parameter) {
    const auto kdf = Unpack<T, Free>(item, parameter);
    if (!kdf) return KVCLM_E_BAD_FORMAT;
    return CountWithin(kdf->iter, kMaxImportIterations) ? KVCLM_OK : KVCLM_E_UNSUPPORTED;
}

int CheckScrypt(const ASN1_TYPE* parameter) {
    const auto kdf =
        Unpack<SCRYPT_PARAMS, SCRYPT_PARAMS_free>(ASN1_ITEM_rptr(SCRYPT_PARAMS), parameter);
    if (!kdf) return KVCLM_E_BAD_FORMAT;
    constexpr std::uint64_t kMaxBlocks = kMaxScryptMemory / 128;  // N * r
    std::uint64_t r = 0;
    if (!CountWithin(kdf->blockSize, kMaxBlocks, &r) ||
        !CountWithin(kdf->costParameter, kMaxBlocks / r) ||
        !CountWithin(kdf->parallelizationParameter, kMaxScryptParallel))
        return KVCLM_E_UNSUPPORTED;
    return KVCLM_OK;
}

int CheckPbes2(const ASN1_TYPE* parameter) {
    const auto pbe2 = Unpack<PBE2PARAM, PBE2PARAM_free>(ASN1_ITEM_rptr(PBE2PARAM), parameter);
    if (!pbe2 || pbe2->keyfunc == nullptr) return KVCLM_E_BAD_FORMAT;
    const X509_ALGOR* kdf = pbe2->keyfunc;
    switch (OBJ_obj2nid(kdf->algorithm)) {
        case NID_id_pbkdf2:
            return CheckIterations<PBKDF2PARAM, PBKDF2PARAM_free>(ASN1_ITEM_rptr(PBKDF2PARAM),
                                                                  kdf->parameter);
        case NID_id_scrypt:
            return CheckScrypt(kdf->parameter);
        default:
            return KVCLM_E_UNSUPPORTED;
    }
}

int CheckDerivationCost(const X509_SIG* sig) {
    const X509_ALGOR* scheme = nullptr;
    X509_SIG_get0(sig, &scheme, nullptr);
    if (scheme == nullptr) return KVCLM_E_BAD_FORMAT;
    const int nid = OBJ_obj2nid(scheme->algorithm);
    if (nid == NID_pbes2) return CheckPbes2(scheme->parameter);
    if (EVP_PBE_find(EVP_PBE_TYPE_OUTER, nid, nullptr, nullptr, nullptr) == 1)
        // PBES1 and PKCS#12's schemes share one parameter form: salt and iterations.
        return CheckIterations<PBEPARAM, PBEPARAM_free>(ASN1_ITEM_rptr(PBEPARAM),
                                                        scheme->parameter);
    return KVCLM_E_UNSUPPORTED;
}

// The outer PEM block carries no passphrase of its own: never let OpenSSL prompt for one.
int NoPemPassword(char*, int, int, void*) { return -1; }

}  // namespace

int ReadEncryptedPkcs8(std::string_view armored, const std::uint8_t* pass, std::size_t passLength,
                       PkeyPtr* key) {
    BioPtr bio(BIO_new_mem_buf(armored.data(), static_cast<int>(armored.size())));
    if (!bio) throw std::bad_alloc();
    // The very structure that was checked is the one decrypted.
    const SigPtr sig(PEM_read_bio_PKCS8(bio.get(), nullptr, NoPemPassword, nullptr));
    if (!sig) return KVCLM_E_BAD_FORMAT;
    const int rc = CheckDerivationCost(sig.get());
    if (rc != KVCLM_OK) return rc;
    if (passLength == 0) return KVCLM_E_NEED_PASSPHRASE;
    if (passLength > INT_MAX) return KVCLM_E_BAD_PASSPHRASE;
    const KeyInfoPtr info(PKCS8_decrypt_ex(sig.get(), reinterpret_cast<const char*>(pass),
                                           static_cast<int>(passLength), nullptr, nullptr));
    if (!info) return KVCLM_E_BAD_PASSPHRASE;
    key->reset(EVP_PKCS82PKEY_ex(info.get(), nullptr, nullptr));
    return *key ? KVCLM_OK : KVCLM_E_UNSUPPORTED;
}

int WriteEncryptedPkcs8(const EVP_PKEY* key, const std::uint8_t* pass, std::size_t passLength,
                        SecureBytes* text) {
    if (passLength > INT_MAX) return KVCLM_E_BAD_PARAM;
    const KeyInfoPtr info(EVP_PKEY2PKCS8(key));
    if (!info) return KVCLM_E_CRYPTO;
    X509_ALGOR* pbe =
        PKCS5_pbe2_set_iv_ex(EVP_aes_256_cbc(), static_cast<int>(KVCLM_PBKDF2_MIN_ITERATIONS),
                             nullptr, kSaltLength, nullptr, NID_hmacWithSHA256, nullptr);
    if (pbe == nullptr) return KVCLM_E_CRYPTO;
    const SigPtr sig(PKCS8_set0_pbe_ex(reinterpret_cast<const char*>(pass),
                                       static_cast<int>(passLength), info.get(), pbe, nullptr,
                                       nullptr));
    if (!sig) {
        X509_ALGOR_free(pbe);  // only a successful set0 takes it over
        return KVCLM_E_CRYPTO;
    }
    BioPtr bio(BIO_new(BIO_s_mem()));
    if (!bio) throw std::bad_alloc();
    if (PEM_write_bio_PKCS8(bio.get(), sig.get()) != 1) return KVCLM_E_CRYPTO;
    char* data = nullptr;
    const long n = BIO_get_mem_data(bio.get(), &data);
    if (n <= 0 || data == nullptr) return KVCLM_E_CRYPTO;
    text->assign(data, data + n);
    return KVCLM_OK;
}

}  // namespace kvclm
