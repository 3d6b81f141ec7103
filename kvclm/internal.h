// Shared internals of the module: handle layouts, owning wrappers for OpenSSL objects, wiping
// buffers and the guard every exported call runs inside.
#pragma once

#ifndef KVCLM_BUILDING
#define KVCLM_BUILDING 1
#endif
#include <openssl/bn.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <vector>

#include "kvclm/kvclm.h"

namespace kvclm {

template <class T>
struct WipingAllocator {
    using value_type = T;
    WipingAllocator() noexcept = default;
    template <class U>
    WipingAllocator(const WipingAllocator<U>&) noexcept {}
    T* allocate(std::size_t n) { return std::allocator<T>{}.allocate(n); }
    void deallocate(T* p, std::size_t n) noexcept {
        OPENSSL_cleanse(p, n * sizeof(T));
        std::allocator<T>{}.deallocate(p, n);
    }
    template <class U>
    bool operator==(const WipingAllocator<U>&) const noexcept {
        return true;
    }
};

using Bytes = std::vector<std::uint8_t>;
// Anything that holds key material, passphrases or derived keys.
using SecureBytes = std::vector<std::uint8_t, WipingAllocator<std::uint8_t>>;

struct PkeyFree {
    void operator()(EVP_PKEY* p) const noexcept { EVP_PKEY_free(p); }
};
struct BnFree {
    void operator()(BIGNUM* p) const noexcept { BN_clear_free(p); }
};
struct BnCtxFree {
    void operator()(BN_CTX* p) const noexcept { BN_CTX_free(p); }
};
struct PkeyCtxFree {
    void operator()(EVP_PKEY_CTX* p) const noexcept { EVP_PKEY_CTX_free(p); }
};
struct MdCtxFree {
    void operator()(EVP_MD_CTX* p) const noexcept { EVP_MD_CTX_free(p); }
};
struct CipherCtxFree {
    void operator()(EVP_CIPHER_CTX* p) const noexcept { EVP_CIPHER_CTX_free(p); }
};
struct ParamBldFree {
    void operator()(OSSL_PARAM_BLD* p) const noexcept { OSSL_PARAM_BLD_free(p); }
};
struct ParamFree {
    // The array may hold a key's private numbers: each value is wiped before it is freed.
    void operator()(OSSL_PARAM* p) const noexcept {
        for (OSSL_PARAM* q = p; q != nullptr && q->key != nullptr; ++q) {
            if (q->data != nullptr) OPENSSL_cleanse(q->data, q->data_size);
        }
        OSSL_PARAM_free(p);
    }
};
using PkeyPtr = std::unique_ptr<EVP_PKEY, PkeyFree>;
using BnPtr = std::unique_ptr<BIGNUM, BnFree>;
using BnCtxPtr = std::unique_ptr<BN_CTX, BnCtxFree>;
using PkeyCtxPtr = std::unique_ptr<EVP_PKEY_CTX, PkeyCtxFree>;
using MdCtxPtr = std::unique_ptr<EVP_MD_CTX, MdCtxFree>;
using CipherCtxPtr = std::unique_ptr<EVP_CIPHER_CTX, CipherCtxFree>;
using ParamBldPtr = std::unique_ptr<OSSL_PARAM_BLD, ParamBldFree>;
using ParamPtr = std::unique_ptr<OSSL_PARAM, ParamFree>;

inline BnPtr NewBn() {
    BnPtr bn(BN_new());
    if (!bn) throw std::bad_alloc();
    return bn;
}

// Magic words inside the handles: a stale or foreign pointer is refused instead of used.
constexpr std::uint32_t kPrivateMagic = 0x4b56504bu;
constexpr std::uint32_t kPublicMagic = 0x4b565055u;
constexpr std::uint32_t kHashMagic = 0x4b564853u;

bool ModuleReady() noexcept;
bool FipsMode() noexcept;

// Runs one exported call: checks the reserved argument (and readiness when the call does
// cryptography) and keeps exceptions inside the module.
template <class F>
int Guarded(int reserved, bool needReady, F&& body) noexcept {
    if (reserved != 0) return KVCLM_E_BAD_PARAM;
    if (needReady && !ModuleReady()) return KVCLM_E_NOT_READY;
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return KVCLM_E_NO_MEMORY;
    } catch (...) {
        return KVCLM_E_CRYPTO;
    }
}

// The two-call output rule: 1070 with the size stored when out is null or short.
int CopyOut(const std::uint8_t* src, std::size_t n, std::uint8_t* out, std::uint32_t* outLength);

// Checks a caller's output size before the work that fills it.
inline int CheckCapacity(std::size_t needed, const std::uint8_t* out, std::uint32_t* outLength) {
    if (outLength == nullptr) return KVCLM_E_BAD_PARAM;
    if (needed == 0) return KVCLM_OK;
    if (out == nullptr || *outLength < needed) {
        *outLength = static_cast<std::uint32_t>(needed);
        return KVCLM_E_SHORT_BUFFER;
    }
    return KVCLM_OK;
}

// Null data is fine only with length 0.
inline bool ValidInput(const void* data, std::uint32_t length) {
    return data != nullptr || length == 0;
}

}  // namespace kvclm

struct kvclm_private_key {
    std::uint32_t magic;
    int type;  // KVCLM_KEY_*
    int kind;  // its container kind (see container.h)
    std::uint32_t bits;
    kvclm::PkeyPtr pkey;
};

struct kvclm_public_key {
    std::uint32_t magic;
    int type;
    std::uint32_t bits;
    kvclm::Bytes blob;  // canonical SSH wire form
};

struct kvclm_hash {
    std::uint32_t magic;
    int algorithm;
    bool finished;
    kvclm::MdCtxPtr ctx;
};
