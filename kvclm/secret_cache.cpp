#include "kvclm/secret_cache.h"

#include <openssl/hmac.h>
#include <openssl/rand.h>

#include <deque>
#include <mutex>

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
};

struct Cache {
    std::mutex mutex;
    bool haveSecret = false;
    std::array<std::uint8_t, 32> secret{};
    std::deque<DerivedEntry> derived;
    std::deque<OpenedEntry> opened;

    void Clear() noexcept {
        for (auto& e : derived) OPENSSL_cleanse(e.id.data(), e.id.size());
        for (auto& e : opened) OPENSSL_cleanse(e.id.data(), e.id.size());
        derived.clear();
        opened.clear();
        OPENSSL_cleanse(secret.data(), secret.size());
        haveSecret = false;
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

}  // namespace

KdfId MakeKdfId(std::uint32_t iterations, const std::uint8_t* salt, std::size_t saltLength,
                const std::uint8_t* pass, std::size_t passLength) {
    Cache& c = TheCache();
    std::array<std::uint8_t, 32> secret;
    {
        std::lock_guard<std::mutex> lock(c.mutex);
        if (!c.haveSecret) {
            if (RAND_bytes(c.secret.data(), static_cast<int>(c.secret.size())) != 1)
                throw std::bad_alloc();
            c.haveSecret = true;
        }
        secret = c.secret;
    }
    SecureBytes message;
    Writer<SecureBytes> w(&message);
    w.U32(iterations);
    w.String(salt, saltLength);
    w.String(pass, passLength);
    KdfId id{};
    unsigned len = 0;
    const bool ok = HMAC(EVP_sha256(), secret.data(), static_cast<int>(secret.size()),
                         message.data(), message.size(), id.data(), &len) != nullptr;
    OPENSSL_cleanse(secret.data(), secret.size());
    if (!ok) throw std::bad_alloc();
    return id;
}

BlobDigest DigestOfBlob(const std::uint8_t* blob, std::size_t n) {
    BlobDigest d{};
    unsigned len = 0;
    if (EVP_Digest(blob, n, d.data(), &len, EVP_sha256(), nullptr) != 1) throw std::bad_alloc();
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
    c.opened.push_back(OpenedEntry{blob, id, std::move(ref)});
}

void ForgetSecrets() noexcept {
    Cache& c = TheCache();
    std::lock_guard<std::mutex> lock(c.mutex);
    c.Clear();
}

}  // namespace kvclm
