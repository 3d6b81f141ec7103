#include "kvclm/secret_cache.h"

#include <openssl/core_names.h>
#include <openssl/rand.h>

#include <deque>
#include <mutex>

#include "kvclm/hash.h"
#include "kvclm/wire.h"

namespace kvclm {
namespace {

// Enough for every key of a large store; the oldest entry goes first.
constexpr std::size_t kMaxEntries = 256;

struct DerivedEntry {
    KdfId id;
    SecureBytes key;
};

struct OpenedEntry {
    BlobDigest blob;
    KdfId id;
    PkeyPtr key;
    PkeyCtxPtr signContext;  // made at the first signature with the key
};

struct MacCtxFree {
    void operator()(EVP_MAC_CTX* p) const noexcept { EVP_MAC_CTX_free(p); }
};
using MacCtxPtr = std::unique_ptr<EVP_MAC_CTX, MacCtxFree>;

struct Cache {
    std::mutex mutex;
    // HMAC-SHA-256 keyed with a random per-process secret, ready for the identifiers: each
    // one starts from a copy. Made at first use, and anew after every Clear.
    MacCtxPtr idMac;
    std::deque<DerivedEntry> derived;
    std::deque<OpenedEntry> opened;

    void Clear() noexcept {
        for (auto& e : derived) OPENSSL_cleanse(e.id.data(), e.id.size());
        for (auto& e : opened) OPENSSL_cleanse(e.id.data(), e.id.size());
        derived.clear();
        opened.clear();
        idMac.reset();  // OpenSSL wipes the key state it holds
    }
};

// Never destroyed by the C++ runtime: the module empties it itself at unload, while OpenSSL is
// still there to free the keys (see module.cpp).
Cache& TheCache() {
    static Cache* cache = new Cache;
    return *cache;
}

bool SameId(const KdfId& a, const KdfId& b) {
    return CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

MacCtxPtr NewIdMac() {
    std::array<std::uint8_t, 32> secret;
    if (RAND_bytes(secret.data(), static_cast<int>(secret.size())) != 1) throw std::bad_alloc();
    EVP_MAC* hmac = EVP_MAC_fetch(nullptr, "HMAC", nullptr);
    MacCtxPtr mac(hmac != nullptr ? EVP_MAC_CTX_new(hmac) : nullptr);
    EVP_MAC_free(hmac);
    char digest[] = "SHA256";
    const OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digest, 0),
                                 OSSL_PARAM_END};
    const bool ok = mac && EVP_MAC_init(mac.get(), secret.data(), secret.size(), params) == 1;
    OPENSSL_cleanse(secret.data(), secret.size());
    if (!ok) throw std::bad_alloc();
    return mac;
}

}  // namespace

KdfId MakeKdfId(std::uint32_t iterations, const std::uint8_t* salt, std::size_t saltLength,
                const std::uint8_t* pass, std::size_t passLength) {
    Cache& c = TheCache();
    MacCtxPtr mac;
    {
        std::lock_guard<std::mutex> lock(c.mutex);
        if (!c.idMac) c.idMac = NewIdMac();
        mac.reset(EVP_MAC_CTX_dup(c.idMac.get()));
    }
    SecureBytes message;
    Writer<SecureBytes> w(&message);
    w.U32(iterations);
    w.String(salt, saltLength);
    w.String(pass, passLength);
    KdfId id{};
    std::size_t length = 0;
    if (!mac || EVP_MAC_update(mac.get(), message.data(), message.size()) != 1 ||
        EVP_MAC_final(mac.get(), id.data(), &length, id.size()) != 1 || length != id.size())
        throw std::bad_alloc();
    return id;
}

BlobDigest DigestOfBlob(const std::uint8_t* blob, std::size_t n) {
    BlobDigest d{};
    unsigned len = 0;
    if (EVP_Digest(blob, n, d.data(), &len, Sha256(), nullptr) != 1) throw std::bad_alloc();
    return d;
}

bool LookupDerivedKey(const KdfId& id, SecureBytes* key) {
    Cache& c = TheCache();
    std::lock_guard<std::mutex> lock(c.mutex);
    for (const auto& e : c.derived) {
        if (SameId(e.id, id)) {
            *key = e.key;
            return true;
        }
    }
    return false;
}

void RememberDerivedKey(const KdfId& id, const SecureBytes& key) {
    Cache& c = TheCache();
    std::lock_guard<std::mutex> lock(c.mutex);
    for (const auto& e : c.derived)
        if (SameId(e.id, id)) return;
    if (c.derived.size() >= kMaxEntries) c.derived.pop_front();
    c.derived.push_back(DerivedEntry{id, key});
}

PkeyPtr LookupOpenedKey(const BlobDigest& blob, const KdfId& id) {
    Cache& c = TheCache();
    std::lock_guard<std::mutex> lock(c.mutex);
    for (const auto& e : c.opened) {
        if (e.blob == blob && SameId(e.id, id)) {
            if (EVP_PKEY_up_ref(e.key.get()) != 1) return nullptr;
            return PkeyPtr(e.key.get());
        }
    }
    return nullptr;
}

void RememberOpenedKey(const BlobDigest& blob, const KdfId& id, EVP_PKEY* key) {
    if (EVP_PKEY_up_ref(key) != 1) return;
    PkeyPtr ref(key);
    Cache& c = TheCache();
    std::lock_guard<std::mutex> lock(c.mutex);
    for (const auto& e : c.opened)
        if (e.blob == blob && SameId(e.id, id)) return;
    if (c.opened.size() >= kMaxEntries) c.opened.pop_front();
    c.opened.push_back(OpenedEntry{blob, id, std::move(ref), nullptr});
}

PkeyCtxPtr CopyRememberedSignContext(EVP_PKEY* key, PkeyCtxPtr (*make)(EVP_PKEY*)) {
    Cache& c = TheCache();
    std::lock_guard<std::mutex> lock(c.mutex);
    for (auto& e : c.opened) {
        if (e.key.get() != key) continue;
        if (!e.signContext) e.signContext = make(key);
        return PkeyCtxPtr(e.signContext ? EVP_PKEY_CTX_dup(e.signContext.get()) : nullptr);
    }
    return nullptr;
}

void ForgetSecrets() noexcept {
    Cache& c = TheCache();
    std::lock_guard<std::mutex> lock(c.mutex);
    c.Clear();
}

}  // namespace kvclm
