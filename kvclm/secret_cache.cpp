#include "kvclm/secret_cache.h"

#include <openssl/core_names.h>
#include <openssl/rand.h>

#include <cstring>
#include <list>
#include <mutex>
#include <unordered_map>

#include "kvclm/hash.h"
#include "kvclm/wire.h"

namespace kvclm {
namespace {

struct DerivedEntry {
    KdfId id;
    SecureBytes key;
};

struct OpenedEntry {
    BlobDigest blob;
    KdfId id;
    PkeyPtr key;
    PkeyCtxPtr signContext;  // made at the first signature with the key
    std::shared_ptr<const RsaCrtKey> rsaCrt;
    bool rsaCrtTried = false;
};

struct MacCtxFree {
    void operator()(EVP_MAC_CTX* p) const noexcept { EVP_MAC_CTX_free(p); }
};
using MacCtxPtr = std::unique_ptr<EVP_MAC_CTX, MacCtxFree>;

bool SameId(const KdfId& a, const KdfId& b) {
    return CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

// Identifiers are keyed MACs and blob digests are SHA-256: any eight bytes of them are a
// good hash. The indexes keep only these, never a whole identifier.
std::uint64_t HashOf(const std::array<std::uint8_t, 32>& bytes) {
    std::uint64_t h = 0;
    std::memcpy(&h, bytes.data(), sizeof h);
    return h;
}

std::uint64_t HashOf(const BlobDigest& blob, const KdfId& id) { return HashOf(blob) ^ HashOf(id); }

template <typename Entry>
using Entries = std::list<Entry>;  // oldest first; an entry never moves, so indexes may point at it
template <typename Entry>
using HashIndex = std::unordered_multimap<std::uint64_t, typename Entries<Entry>::iterator>;

template <typename Index>
void Unindex(Index& index, std::uint64_t hash, typename Index::mapped_type at) {
    auto [first, last] = index.equal_range(hash);
    for (; first != last; ++first) {
        if (first->second == at) {
            index.erase(first);
            return;
        }
    }
}

struct Cache {
    std::mutex mutex;
    // HMAC-SHA-256 keyed with a random per-process secret, ready for the identifiers: each
    // one starts from a copy. Made at first use, and anew after every Clear.
    MacCtxPtr idMac;
    Entries<DerivedEntry> derived;
    HashIndex<DerivedEntry> derivedById;
    Entries<OpenedEntry> opened;
    HashIndex<OpenedEntry> openedByBlobAndId;
    std::unordered_map<const EVP_PKEY*, Entries<OpenedEntry>::iterator> openedByKey;

    DerivedEntry* FindDerived(const KdfId& id) {
        auto [first, last] = derivedById.equal_range(HashOf(id));
        for (; first != last; ++first)
            if (SameId(first->second->id, id)) return &*first->second;
        return nullptr;
    }

    OpenedEntry* FindOpened(const BlobDigest& blob, const KdfId& id) {
        auto [first, last] = openedByBlobAndId.equal_range(HashOf(blob, id));
        for (; first != last; ++first) {
            OpenedEntry& e = *first->second;
            if (e.blob == blob && SameId(e.id, id)) return &e;
        }
        return nullptr;
    }

    OpenedEntry* FindOpenedByKey(const EVP_PKEY* key) {
        const auto found = openedByKey.find(key);
        return found == openedByKey.end() ? nullptr : &*found->second;
    }

    void AddDerived(DerivedEntry entry) {
        if (derived.size() >= kMaxRememberedEntries) {
            Unindex(derivedById, HashOf(derived.front().id), derived.begin());
            OPENSSL_cleanse(derived.front().id.data(), derived.front().id.size());
            derived.pop_front();
        }
        const std::uint64_t hash = HashOf(entry.id);
        derivedById.emplace(hash, derived.insert(derived.end(), std::move(entry)));
    }

    void AddOpened(OpenedEntry entry) {
        if (opened.size() >= kMaxRememberedEntries) {
            Unindex(openedByBlobAndId, HashOf(opened.front().blob, opened.front().id),
                    opened.begin());
            const auto byKey = openedByKey.find(opened.front().key.get());
            if (byKey != openedByKey.end() && byKey->second == opened.begin())
                openedByKey.erase(byKey);
            OPENSSL_cleanse(opened.front().id.data(), opened.front().id.size());
            opened.pop_front();
        }
        const std::uint64_t hash = HashOf(entry.blob, entry.id);
        const auto at = opened.insert(opened.end(), std::move(entry));
        openedByBlobAndId.emplace(hash, at);
        openedByKey[at->key.get()] = at;
    }

    void Clear() noexcept {
        for (auto& e : derived) OPENSSL_cleanse(e.id.data(), e.id.size());
        for (auto& e : opened) OPENSSL_cleanse(e.id.data(), e.id.size());
        derivedById.clear();
        openedByBlobAndId.clear();
        openedByKey.clear();
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
    const DerivedEntry* e = c.FindDerived(id);
    if (e == nullptr) return false;
    *key = e->key;
    return true;
}

void RememberDerivedKey(const KdfId& id, const SecureBytes& key) {
    Cache& c = TheCache();
    std::lock_guard<std::mutex> lock(c.mutex);
    if (c.FindDerived(id) == nullptr) c.AddDerived(DerivedEntry{id, key});
}

PkeyPtr LookupOpenedKey(const BlobDigest& blob, const KdfId& id) {
    Cache& c = TheCache();
    std::lock_guard<std::mutex> lock(c.mutex);
    const OpenedEntry* e = c.FindOpened(blob, id);
    if (e == nullptr || EVP_PKEY_up_ref(e->key.get()) != 1) return nullptr;
    return PkeyPtr(e->key.get());
}

void RememberOpenedKey(const BlobDigest& blob, const KdfId& id, EVP_PKEY* key) {
    if (EVP_PKEY_up_ref(key) != 1) return;
    PkeyPtr ref(key);
    Cache& c = TheCache();
    std::lock_guard<std::mutex> lock(c.mutex);
    if (c.FindOpened(blob, id) == nullptr)
        c.AddOpened(OpenedEntry{blob, id, std::move(ref), nullptr, nullptr, false});
}

PkeyCtxPtr CopyRememberedSignContext(EVP_PKEY* key, PkeyCtxPtr (*make)(EVP_PKEY*)) {
    Cache& c = TheCache();
    std::lock_guard<std::mutex> lock(c.mutex);
    OpenedEntry* e = c.FindOpenedByKey(key);
    if (e == nullptr) return nullptr;
    if (!e->signContext) e->signContext = make(key);
    return PkeyCtxPtr(e->signContext ? EVP_PKEY_CTX_dup(e->signContext.get()) : nullptr);
}

std::shared_ptr<const RsaCrtKey> RememberedRsaCrtKey(EVP_PKEY* key) {
    Cache& c = TheCache();
    std::lock_guard<std::mutex> lock(c.mutex);
    OpenedEntry* e = c.FindOpenedByKey(key);
    if (e == nullptr) return nullptr;
    if (!e->rsaCrtTried) {
        e->rsaCrt = RsaCrtKey::From(key);
        e->rsaCrtTried = true;
    }
    return e->rsaCrt;
}

void ForgetSecrets() noexcept {
    Cache& c = TheCache();
    std::lock_guard<std::mutex> lock(c.mutex);
    c.Clear();
}

}  // namespace kvclm
