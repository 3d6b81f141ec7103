// Every key pair the agent holds: an ordered list in memory (load order, then additions)
// backed by one registry subkey per key under "KeyPairs". Public halves are loaded at
// construction; a protected private half is read from the registry only when needed.
//
// The same object holds the agent's lock: whether it is locked, the stored hash of the
// agent passphrase ("PassphraseHash") and, while unlocked, the passphrase itself.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "keys/file_time.h"
#include "keys/key_pair.h"
#include "keys/private_key_blob.h"
#include "platform/secure_memory.h"

namespace kv {

class EventLog;

class KeyStore {
  public:
    // Reads "PassphraseHash", then loads the stored keys. Starts locked. `log` is used only
    // by later calls, so it may be constructed after the store.
    KeyStore(EventLog& log, const Clock& clock);
    KeyStore(const KeyStore&) = delete;
    KeyStore& operator=(const KeyStore&) = delete;

    // ---- The key list ----
    std::size_t Count() const { return m_keys.size(); }
    // The key at `index` in list order (0 <= index < Count()).
    const KeyPair& At(std::size_t index) const { return *m_keys[index]; }

    // For edits followed by Update. The blob of a stored key must not change.
    KeyPair* FindByNumber(std::int32_t number);
    const KeyPair* FindByNumber(std::int32_t number) const;
    // The first key in list order with exactly these blob bytes.
    const KeyPair* FindByBlob(std::span<const std::uint8_t> blob) const;
    // The number of the first stored key with the same blob, comment and name, or -1.
    std::int32_t FindSameKey(const KeyPair& key) const;
    // True when a stored key has this name, letter case ignored.
    bool NameInUse(std::string_view name) const;

    // Stores `key` with its private half, which must match it under the agent passphrase.
    // A key stored already (same blob, comment and name) gets `blob` as its new private half,
    // and the lifetime `key` carries (if any) and its refusal of SSH1 use, and what ExpectAdd
    // asked for, nothing else.
    // Returns the key's number, or -1 when nothing was stored (always while locked); on
    // success `key` carries the number. Either every value of a new key is written or none.
    std::int32_t Add(const PrivateKeyBlob& blob, KeyPair& key);
    // The next Add of a key with this public blob stores the confirm mark and the certificate
    // too, in the same registry transaction as the key, so that the key is never stored
    // without them. Holds until ClearExpectedAdd.
    void ExpectAdd(std::span<const std::uint8_t> blob, bool confirm,
                   std::span<const std::uint8_t> certificate);
    void ClearExpectedAdd() { m_expected_add.reset(); }
    // Rewrites the public values of the key's subkey (created when missing), all or none.
    bool Update(const KeyPair& key);
    // Marks every key with this public blob "confirm before use", in memory at once and in
    // the registry. False when no key has the blob or a write failed.
    bool RequireConfirmation(std::span<const std::uint8_t> blob);
    // Gives every key with this public blob `seconds` more to live from now, in memory at
    // once and in the registry. False when no key has the blob or a write failed.
    bool SetLifetime(std::span<const std::uint8_t> blob, std::int32_t seconds);
    // Gives every key with this public blob the OpenSSH certificate (replacing one it had),
    // in memory at once and in the registry. False when no key has the blob or a write
    // failed.
    bool AttachCertificate(std::span<const std::uint8_t> blob,
                           std::span<const std::uint8_t> certificate);
    // The stored private half of key `number`, owned by that key; nothing when the key or
    // its "Prv" value cannot be found or read. Read from the registry once, then from memory
    // until the store changes it.
    std::optional<PrivateKeyBlob> ReadPrivateKey(std::int32_t number) const;
    // Removes the key from the list, then its subkey from the registry. False when there is
    // no such key or the subkey could not be deleted (it then comes back at the next start).
    bool Delete(std::int32_t number);
    // Deletes every subkey in one transaction; the list is emptied only when that succeeds.
    bool DeleteAll();
    // Deletes every expired key, logging each; returns how many went.
    int ExpirySweep();
    // Told the number of every key that leaves the list (deleted one by one, all at once or
    // expired), so that what was granted for a key goes with it.
    void SetOnRemoved(std::function<void(std::int32_t number)> on_removed) {
        m_on_removed = std::move(on_removed);
    }

    // ---- The lock ----
    bool IsLocked() const { return m_locked; }
    // Moves on whenever the agent locks, unlocks or gets a new passphrase. Work prepared
    // before a prompt compares it afterwards (KeyUseGuard, keys/key_use_guard.h). Moved on
    // this thread only, but read by the compute pool's workers too.
    std::uint64_t LockEpoch() const { return m_lock_epoch.load(std::memory_order_relaxed); }
    // The agent passphrase while unlocked; empty while locked. The view ends with the next
    // Unlock, Lock or ChangePassphrase: take it again after anything that may run a prompt.
    Passphrase HeldPassphrase() const;
    bool HasPassphraseHash() const { return m_hash_present; }
    // No passphrase chosen yet and no key stored: the next Unlock sets the passphrase. Never
    // while the registry could not be read, or holds keys the list could not load: its hash
    // and keys may be there all the same.
    bool IsFirstUse() const {
        return !m_hash_present && m_keys.empty() && !m_unread && !m_keys_left_unlisted;
    }
    // The registry failed when the hash or the keys were read; the next Unlock reads again.
    bool CouldNotBeRead() const { return m_unread; }

    // Unlocks when `passphrase` is the agent passphrase (or, in the first-use state, makes
    // it the agent passphrase). An empty passphrase never unlocks. What the registry could
    // not give at construction (another process held it, say) is read again first; while it
    // still cannot be read, nothing unlocks.
    bool Unlock(Passphrase passphrase);
    // Drops the passphrase and makes the module forget what it derived from it.
    void Lock();
    // Re-protects every stored private key and the hash with `new_passphrase`, all in one
    // registry transaction: on any failure nothing changes and the old passphrase stays.
    bool ChangePassphrase(Passphrase old_passphrase, Passphrase new_passphrase);

    const Clock& TimeSource() const { return m_clock; }

  private:
    // Changes every key with this public blob, in memory and in the registry; `change`
    // returns false for a key it leaves as it was, which is not written again. False when no
    // key has the blob or a write failed.
    bool UpdateEveryKeyWith(std::span<const std::uint8_t> blob,
                            const std::function<bool(KeyPair&)>& change);
    // Gives `key` what ExpectAdd asked for, when it has that blob.
    void ApplyExpectedAdd(KeyPair& key) const;

    using Digest = std::array<std::uint8_t, 20>;
    struct BlobHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view bytes) const {
            return std::hash<std::string_view>{}(bytes);
        }
    };
    struct ReprotectedKey {
        std::int32_t number;
        SecureBytes blob;
    };
    // What a key's stored private half says about a passphrase.
    enum class StoredPrivate {
        kOpens,
        kDoesNotOpen,  // well-formed, but not under this passphrase (or damaged)
        kUnusable,     // missing, too long or malformed: no passphrase can ever open it
        kUnreadable,   // the registry or the module failed to read it this time
    };
    // Whether the first key that can be tried decides, or any key that opens will do.
    enum class KeysToTry { kFirst, kAny };
    // Unlock's verdict over every stored key.
    enum class StoredKeysVerdict { kOpened, kRefused, kNoneUsable };

    void ReadPassphraseHash();
    void Load();
    void ReadAgainWhatFailed();
    void Append(std::unique_ptr<KeyPair> key);
    bool DeleteAt(std::size_t index);
    bool StoreAgain(std::int32_t number, const PrivateKeyBlob& blob, const KeyPair& key);
    void ClearList();
    std::optional<std::int32_t> NextKeyNumber() const;
    bool WritePrivateValue(std::int32_t number, const SecureBytes& blob) const;
    bool WriteWholeEntry(const KeyPair& key, const SecureBytes& blob) const;
    std::uint32_t ReadPrivateValue(std::int32_t number, SecureBytes& out) const;
    StoredPrivate OpenStoredPrivate(std::int32_t number, Passphrase passphrase,
                                    SecureBytes& value) const;
    StoredKeysVerdict VerifyAgainstStoredKeys(Passphrase passphrase, KeysToTry which) const;
    bool FinishUnlock(bool log_failure);
    std::optional<std::vector<ReprotectedKey>> ReprotectAll(Passphrase old_passphrase,
                                                            Passphrase new_passphrase) const;
    // The numbers of the stored keys loading did not reach; nothing when the registry failed.
    std::optional<std::vector<std::int32_t>> UnlistedKeyNumbers() const;
    std::optional<std::vector<ReprotectedKey>> ReprotectUnlisted(
        Passphrase old_passphrase, Passphrase new_passphrase,
        std::vector<ReprotectedKey> done) const;
    bool StoreReprotected(const std::vector<ReprotectedKey>& keys, const Digest& hash) const;

    EventLog& m_log;
    const Clock& m_clock;
    std::vector<std::unique_ptr<KeyPair>> m_keys;
    // Blob bytes to the keys holding them, in list order: finds stay quick for large stores.
    std::unordered_map<std::string, std::vector<const KeyPair*>, BlobHash, std::equal_to<>>
        m_by_blob;

    std::function<void(std::int32_t)> m_on_removed;
    // "Prv" values read for private-key requests, so that a signature does not read the
    // registry each time. Still protected by the agent passphrase; dropped whenever this
    // store writes or deletes a key's "Prv", loads the list and at every lock.
    mutable std::unordered_map<std::int32_t, SecureBytes> m_read_private;

    bool m_locked = true;
    std::atomic<std::uint64_t> m_lock_epoch{0};
    bool m_hash_present = false;
    // The hash or the key list could not be read (not merely absent): m_hash_present and
    // m_keys then say nothing about what is stored.
    bool m_unread = false;
    // Loading stopped before the last stored key (Load): the registry holds more keys.
    bool m_keys_left_unlisted = false;
    Digest m_hash{};
    std::optional<SecureBytes> m_passphrase;
    struct ExpectedAdd {
        Bytes blob;
        bool confirm = false;
        Bytes certificate;
    };
    std::optional<ExpectedAdd> m_expected_add;
};

}  // namespace kv
