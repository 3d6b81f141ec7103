// The agent lock: the passphrase hash in the registry, unlocking, locking and changing the
// passphrase of every stored key.
#include "core/event_log.h"
#include "cryptomodule/hash.h"
#include "keys/key_registry_layout.h"
#include "keys/key_store.h"
#include "platform/ascii_case.h"
#include "platform/registry/registry.h"
#include "res/string_ids.h"

namespace kv {

namespace {

// SHA-1 of the passphrase bytes, as "PassphraseHash" holds it.
std::optional<std::array<std::uint8_t, 20>> HashOfPassphrase(Passphrase passphrase) {
    const ModuleResult<Bytes> hash = Hash::OfBuffer(KVCLM_HASH_SHA1, passphrase);
    std::array<std::uint8_t, 20> digest{};
    if (!hash.ok() || hash.value.size() != digest.size()) return std::nullopt;
    std::copy(hash.value.begin(), hash.value.end(), digest.begin());
    return digest;
}

bool WriteHash(RegistryKey& settings, const std::array<std::uint8_t, 20>& hash) {
    return settings.Open(kAgentRegistryPath, true) &&
           settings.WriteBinary(kPassphraseHashValue, hash.data(),
                                static_cast<std::uint32_t>(hash.size()));
}

}  // namespace

// Only a value of exactly 20 bytes counts; anything else means "no passphrase chosen".
void KeyStore::ReadPassphraseHash() {
    m_hash_present = false;
    RegistryKey settings;
    if (!settings.Open(kAgentRegistryPath, false)) {
        if (settings.LastError() != kRegNotFound) m_unread = true;
        return;
    }
    Digest buffer{};
    std::uint32_t size = buffer.size();
    if (settings.ReadRaw(kPassphraseHashValue, buffer.data(), &size) && size == buffer.size()) {
        m_hash = buffer;
        m_hash_present = true;
    } else if (settings.LastError() != kRegOk && settings.LastError() != kRegNotFound &&
               settings.LastError() != kRegMoreData) {
        m_unread = true;
    }
}

// Without this, a registry that was busy at start looks like a first use: the passphrase
// typed next would replace the stored hash and leave every stored key under another one.
void KeyStore::ReadAgainWhatFailed() {
    if (!m_unread) return;
    m_unread = false;
    ReadPassphraseHash();
    if (m_keys.empty()) Load();
}

Passphrase KeyStore::HeldPassphrase() const {
    if (!m_passphrase) return {};
    return *m_passphrase;
}

// Missing, too long for its buffer, or not a container at all: the same for every
// passphrase, so such a key neither decides an unlock nor stops a passphrase change.
KeyStore::StoredPrivate KeyStore::OpenStoredPrivate(std::int32_t number, Passphrase passphrase,
                                                    SecureBytes& value) const {
    const std::uint32_t read = ReadPrivateValue(number, value);
    if (read == kRegNotFound || read == kRegMoreData) return StoredPrivate::kUnusable;
    if (read != kRegOk) return StoredPrivate::kUnreadable;
    const ModuleResult<PrivateKey> opened = PrivateKey::Import(value, passphrase);
    if (opened.ok()) return StoredPrivate::kOpens;
    if (opened.code == KVCLM_E_BAD_FORMAT) return StoredPrivate::kUnusable;
    return opened.code == KVCLM_E_BAD_PASSPHRASE ? StoredPrivate::kDoesNotOpen
                                                 : StoredPrivate::kUnreadable;
}

// Keys without a readable, well-formed "Prv" are skipped: they cannot be opened by any
// passphrase, and one of them first in the list would otherwise lock the user out for good.
// With kFirst the first key that can be tried decides; with kAny one that opens is enough.
// Keys loading did not reach come last: without them a store whose first key lost its public
// half would take any passphrase.
KeyStore::StoredKeysVerdict KeyStore::VerifyAgainstStoredKeys(Passphrase passphrase,
                                                              KeysToTry which) const {
    std::vector<std::int32_t> numbers;
    for (const auto& key : m_keys) numbers.push_back(key->Number());
    if (m_keys_left_unlisted) {
        const auto unlisted = UnlistedKeyNumbers();
        if (!unlisted) return StoredKeysVerdict::kNoneUsable;
        numbers.insert(numbers.end(), unlisted->begin(), unlisted->end());
    }
    bool refused = false;
    for (const std::int32_t number : numbers) {
        SecureBytes value;
        switch (OpenStoredPrivate(number, passphrase, value)) {
            case StoredPrivate::kOpens:
                return StoredKeysVerdict::kOpened;
            case StoredPrivate::kDoesNotOpen:
                if (which == KeysToTry::kFirst) return StoredKeysVerdict::kRefused;
                refused = true;
                break;
            case StoredPrivate::kUnusable:
            case StoredPrivate::kUnreadable:
                break;
        }
    }
    if (refused) return StoredKeysVerdict::kRefused;
    return numbers.empty() ? StoredKeysVerdict::kOpened : StoredKeysVerdict::kNoneUsable;
}

// The first key may have been opened (and its derived key kept by the module) before the
// unlock failed: a locked store keeps nothing opened, as after Lock().
bool KeyStore::FinishUnlock(bool log_failure) {
    m_passphrase.reset();
    m_read_private.clear();
    Module().ForgetSecrets();
    if (log_failure) m_log.LogMessage(nullptr, LogError, IDS_CANNOT_UNLOCK);
    return false;
}

bool KeyStore::Unlock(Passphrase passphrase) {
    m_locked = true;
    ++m_lock_epoch;
    m_passphrase.reset();
    // An empty agent passphrase would store every key unprotected.
    if (passphrase.empty()) return false;
    const bool was_unread = m_unread;
    ReadAgainWhatFailed();
    if (m_unread) return FinishUnlock(true);
    // Read only now, the store may be empty after all: the passphrase was typed to unlock,
    // not chosen (and confirmed) as a new one.
    if (was_unread && IsFirstUse()) return FinishUnlock(false);
    m_passphrase.emplace(passphrase.begin(), passphrase.end());
    const auto hash = HashOfPassphrase(passphrase);
    if (!hash) {
        m_log.LogMessage(nullptr, LogError, IDS_HASH_ERROR);
        return FinishUnlock(true);
    }
    if (m_hash_present) {
        if (!ConstantTimeEqual(hash->data(), m_hash.data(), m_hash.size())) {
            return FinishUnlock(false);
        }
        // The hash has checked the passphrase, so a first key it does not open is damaged or
        // under another passphrase; it must not keep the user from every other key.
        if (VerifyAgainstStoredKeys(passphrase, KeysToTry::kAny) == StoredKeysVerdict::kRefused)
            return FinishUnlock(false);
    } else {
        const StoredKeysVerdict verdict = VerifyAgainstStoredKeys(passphrase, KeysToTry::kFirst);
        if (verdict == StoredKeysVerdict::kRefused) return FinishUnlock(false);
        // Without a hash nothing could check the passphrase: it would become the agent
        // passphrase, and keys that become readable again would then never open. Only a store
        // without keys takes a passphrase unchecked.
        if (verdict == StoredKeysVerdict::kNoneUsable) return FinishUnlock(true);
        RegistryKey settings;
        if (!WriteHash(settings, *hash)) return FinishUnlock(true);
        m_hash = *hash;
        m_hash_present = true;
    }
    m_locked = false;
    m_log.LogMessage(nullptr, LogUnlock, IDS_UNLOCKED_SUCCESSFULLY);
    return true;
}

void KeyStore::Lock() {
    m_locked = true;
    ++m_lock_epoch;
    m_passphrase.reset();
    m_read_private.clear();
    Module().ForgetSecrets();
}

// Every key's new container, or nothing when one that opens cannot be re-protected: going on
// would leave that key under a passphrase the agent no longer knows. A key no passphrase can
// open (the kind Unlock skips), or one the old passphrase, which the hash has checked, does
// not open, has nothing to re-protect; it is named and left as it is.
std::optional<std::vector<KeyStore::ReprotectedKey>> KeyStore::ReprotectAll(
    Passphrase old_passphrase, Passphrase new_passphrase) const {
    std::vector<ReprotectedKey> done;
    for (const auto& key : m_keys) {
        SecureBytes value;
        switch (OpenStoredPrivate(key->Number(), old_passphrase, value)) {
            case StoredPrivate::kUnusable:
                m_log.LogMessage(nullptr, LogError, IDS_CHANGE_READ_KEY_FAILED,
                                 key->Name().c_str());
                continue;
            case StoredPrivate::kUnreadable:
                m_log.LogMessage(nullptr, LogError, IDS_CHANGE_READ_KEY_FAILED,
                                 key->Name().c_str());
                return std::nullopt;
            case StoredPrivate::kDoesNotOpen:
                m_log.LogMessage(nullptr, LogError, IDS_CHANGE_KEY_PASSPHRASE_FAILED,
                                 key->Name().c_str());
                continue;
            case StoredPrivate::kOpens:
                break;
        }
        PrivateKeyBlob blob(key.get());
        blob.SetBlob(value);
        if (!blob.Reprotect(old_passphrase, new_passphrase)) {
            m_log.LogMessage(nullptr, LogError, IDS_CHANGE_KEY_PASSPHRASE_FAILED,
                             key->Name().c_str());
            return std::nullopt;
        }
        done.push_back({key->Number(), blob.Blob()});
    }
    return ReprotectUnlisted(old_passphrase, new_passphrase, std::move(done));
}

std::optional<std::vector<std::int32_t>> KeyStore::UnlistedKeyNumbers() const {
    std::vector<std::int32_t> numbers;
    RegistryKey parent;
    if (!parent.Open(kKeyPairsRegistryPath, false)) {
        if (parent.LastError() != kRegNotFound) return std::nullopt;
        return numbers;
    }
    const std::vector<std::string> names = parent.SubkeyNames();
    if (names.empty() && parent.LastError() != kRegOk && parent.LastError() != kRegNotFound)
        return std::nullopt;
    for (const std::string& name : names) {
        const std::optional<std::int32_t> number = KeyNumberFromSubkeyName(name);
        if (number && FindByNumber(*number) == nullptr &&
            EqualsIgnoringAsciiCase(name, KeySubkeyName(*number)))
            numbers.push_back(*number);
    }
    return numbers;
}

// Loading stops at the first subkey without a usable "Pub"; the keys after it stay in the
// registry for a later start, and must then open with the passphrase of that time. Those that
// open with the old passphrase move with the others; the rest cannot move, and stay.
std::optional<std::vector<KeyStore::ReprotectedKey>> KeyStore::ReprotectUnlisted(
    Passphrase old_passphrase, Passphrase new_passphrase, std::vector<ReprotectedKey> done) const {
    const auto numbers = UnlistedKeyNumbers();
    if (!numbers) return std::nullopt;
    for (const std::int32_t number : *numbers) {
        SecureBytes value;
        const StoredPrivate stored = OpenStoredPrivate(number, old_passphrase, value);
        if (stored == StoredPrivate::kUnreadable) return std::nullopt;
        if (stored != StoredPrivate::kOpens) continue;
        PrivateKeyBlob blob;
        blob.SetBlob(value);
        if (!blob.Reprotect(old_passphrase, new_passphrase)) return std::nullopt;
        done.push_back({number, blob.Blob()});
    }
    return done;
}

// Every "Prv" and the hash land together or not at all.
bool KeyStore::StoreReprotected(const std::vector<ReprotectedKey>& keys, const Digest& hash) const {
    RegistryTransaction transaction;
    for (const ReprotectedKey& key : keys) {
        if (!WritePrivateValue(key.number, key.blob)) {
            const KeyPair* pair = FindByNumber(key.number);
            m_log.LogMessage(nullptr, LogError, IDS_CHANGE_WRITE_KEY_FAILED,
                             pair != nullptr ? pair->Name().c_str() : "");
            return false;
        }
    }
    RegistryKey settings;
    if (!WriteHash(settings, hash) || !transaction.Commit()) {
        m_log.LogMessage(nullptr, LogError, IDS_STORE_PASSPHRASE_FAILED);
        return false;
    }
    return true;
}

bool KeyStore::ChangePassphrase(Passphrase old_passphrase, Passphrase new_passphrase) {
    if (m_locked) {
        m_log.LogMessage(nullptr, LogError, IDS_OPERATION_IMPOSSIBLE_LOCKED);
        return false;
    }
    if (!m_hash_present) {
        m_log.LogMessage(nullptr, LogError, IDS_HASH_ERROR);
        return false;
    }
    if (new_passphrase.empty()) return false;  // would leave every key unprotected
    const auto old_hash = HashOfPassphrase(old_passphrase);
    const auto new_hash = HashOfPassphrase(new_passphrase);
    if (!old_hash || !new_hash) {
        m_log.LogMessage(nullptr, LogError, IDS_HASH_ERROR);
        return false;
    }
    if (!ConstantTimeEqual(old_hash->data(), m_hash.data(), m_hash.size())) {
        m_log.LogMessage(nullptr, LogError, IDS_OLD_PASSPHRASE_MISMATCH);
        return false;
    }
    const auto reprotected = ReprotectAll(old_passphrase, new_passphrase);
    if (!reprotected || !StoreReprotected(*reprotected, *new_hash)) return false;
    m_hash = *new_hash;
    m_passphrase.emplace(new_passphrase.begin(), new_passphrase.end());
    ++m_lock_epoch;
    // What the module derived from the old passphrase is of no use any more.
    Module().ForgetSecrets();
    m_log.LogMessage(nullptr, LogInfo, IDS_PASSPHRASE_CHANGED);
    return true;
}

}  // namespace kv
