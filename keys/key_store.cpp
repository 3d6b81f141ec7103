#include "keys/key_store.h"

#include <algorithm>
#include <limits>
#include <optional>

#include "core/event_log.h"
#include "keys/key_registry_layout.h"
#include "keys/key_text.h"
#include "platform/registry/registry.h"
#include "res/string_ids.h"

namespace kv {

namespace {

// Numbers with values but no key row are passed over; this many in a row means the
// registry cannot tell (it answers every query with a failure).
constexpr int kMaxNumbersSkipped = 64;

std::string_view BlobBytes(std::span<const std::uint8_t> blob) {
    return {reinterpret_cast<const char*>(blob.data()), blob.size()};
}

}  // namespace

KeyStore::KeyStore(EventLog& log, const Clock& clock) : m_log(log), m_clock(clock) {
    ReadPassphraseHash();
    Load();
}

void KeyStore::Append(std::unique_ptr<KeyPair> key) {
    const KeyPair* raw = key.get();
    m_keys.push_back(std::move(key));
    auto found = m_by_blob.find(BlobBytes(raw->Blob()));
    if (found == m_by_blob.end()) {
        m_by_blob.emplace(std::string(BlobBytes(raw->Blob())), std::vector<const KeyPair*>{raw});
    } else {
        found->second.push_back(raw);
    }
}

KeyPair* KeyStore::FindByNumber(std::int32_t number) {
    for (const auto& key : m_keys) {
        if (key->Number() == number) return key.get();
    }
    return nullptr;
}

const KeyPair* KeyStore::FindByNumber(std::int32_t number) const {
    return const_cast<KeyStore*>(this)->FindByNumber(number);
}

const KeyPair* KeyStore::FindByBlob(std::span<const std::uint8_t> blob) const {
    const auto found = m_by_blob.find(BlobBytes(blob));
    return found == m_by_blob.end() ? nullptr : found->second.front();
}

std::int32_t KeyStore::FindSameKey(const KeyPair& key) const {
    for (const auto& stored : m_keys) {
        if (stored->IsSameKey(key)) return stored->Number();
    }
    return KeyPair::kNotStored;
}

bool KeyStore::NameInUse(std::string_view name) const {
    return std::any_of(m_keys.begin(), m_keys.end(), [name](const auto& key) {
        return NamesEqualIgnoringCase(key->Name(), name);
    });
}

// One past the highest number in use, in the list or in the registry: a subkey that was not
// loaded (loading stopped before it, or its deletion failed) must not be overwritten. Nor
// must values whose key lost its row: the key is hidden, but its private half is there.
std::optional<std::int32_t> KeyStore::NextKeyNumber() const {
    std::int32_t highest = 0;
    for (const auto& key : m_keys) highest = std::max(highest, key->Number());
    RegistryKey parent;
    if (parent.Open(kKeyPairsRegistryPath, false)) {
        for (const std::string& name : parent.SubkeyNames()) {
            // A number too large for 31 bits can never be formatted into a new name.
            const std::optional<std::int32_t> number = KeyNumberFromSubkeyName(name);
            if (number) highest = std::max(highest, *number);
        }
        if (parent.LastError() != kRegOk) return std::nullopt;
    }
    for (int skipped = 0; skipped < kMaxNumbersSkipped; ++skipped) {
        if (highest == std::numeric_limits<std::int32_t>::max()) return std::nullopt;
        ++highest;
        if (!RegistryKey::HoldsValues(KeySubkeyPath(highest))) return highest;
    }
    return std::nullopt;
}

bool KeyStore::WritePrivateValue(std::int32_t number, const SecureBytes& blob) const {
    // Read again from the registry next time: the write may yet be rolled back.
    m_read_private.erase(number);
    RegistryKey subkey;
    return blob.size() <= kMaxPrvSize && subkey.Open(KeySubkeyPath(number), true) &&
           subkey.WriteBinary(kPrvValue, blob.data(), static_cast<std::uint32_t>(blob.size()));
}

std::int32_t KeyStore::Add(const PrivateKeyBlob& blob, KeyPair& key) {
    // Locked, the held passphrase is empty, and a plain private half would "match" it.
    if (IsLocked()) return KeyPair::kNotStored;
    if (!blob.Matches(key, HeldPassphrase())) {
        m_log.LogMessage(nullptr, LogContinuation, IDS_KEY_MISMATCH);
        return KeyPair::kNotStored;
    }
    if (const std::int32_t same = FindSameKey(key); same != KeyPair::kNotStored) {
        return StoreAgain(same, blob, key) ? same : KeyPair::kNotStored;
    }
    const std::optional<std::int32_t> number = NextKeyNumber();
    if (!number) return KeyPair::kNotStored;
    auto stored = std::make_unique<KeyPair>();
    stored->CopyFrom(key);
    stored->SetNumber(*number);
    ApplyExpectedAdd(*stored);
    if (!WriteWholeEntry(*stored, blob.Blob())) return KeyPair::kNotStored;
    key.SetNumber(*number);
    Append(std::move(stored));
    return *number;
}

// The entry stays; what the add asks for beyond the private half is given to it too: its
// lifetime, when it has one, and a refusal of SSH1 use. A limit it had is never lifted, but a
// lifetime that has run out is no limit any more: the entry only waits for the sweep (which
// waits while a prompt is open), and keeping its expiry would lose the key just added.
bool KeyStore::StoreAgain(std::int32_t number, const PrivateKeyBlob& blob, const KeyPair& key) {
    KeyPair* stored = FindByNumber(number);
    KeyPair updated = *stored;
    if (key.Expiry() != kFileTimeNever || stored->IsExpired(m_clock.Now()))
        updated.SetExpiry(key.Expiry());
    if (key.Compat() == 0) updated.SetCompat(0);
    ApplyExpectedAdd(updated);
    if (updated.Expiry() == stored->Expiry() && updated.Compat() == stored->Compat() &&
        updated.RequiresConfirmation() == stored->RequiresConfirmation() &&
        std::ranges::equal(updated.Certificate(), stored->Certificate()))
        return WritePrivateValue(number, blob.Blob());
    if (!WriteWholeEntry(updated, blob.Blob())) return false;
    *stored = updated;
    return true;
}

// The whole subkey or nothing: a listed key always has its private half.
bool KeyStore::WriteWholeEntry(const KeyPair& key, const SecureBytes& blob) const {
    m_read_private.erase(key.Number());
    RegistryTransaction transaction;
    RegistryKey subkey;
    return blob.size() <= kMaxPrvSize && subkey.Open(KeySubkeyPath(key.Number()), true) &&
           WritePublicValues(subkey, key) &&
           subkey.WriteBinary(kPrvValue, blob.data(), static_cast<std::uint32_t>(blob.size())) &&
           transaction.Commit();
}

bool KeyStore::Update(const KeyPair& key) {
    if (key.Number() < 0) return false;
    RegistryTransaction transaction;
    RegistryKey subkey;
    return subkey.Open(KeySubkeyPath(key.Number()), true) && WritePublicValues(subkey, key) &&
           transaction.Commit();
}

bool KeyStore::UpdateEveryKeyWith(std::span<const std::uint8_t> blob,
                                  const std::function<bool(KeyPair&)>& change) {
    bool found = false;
    bool stored = true;
    for (auto& key : m_keys) {
        if (!std::ranges::equal(key->Blob(), blob)) continue;
        found = true;
        if (change(*key)) stored = Update(*key) && stored;
    }
    return found && stored;
}

void KeyStore::ExpectAdd(std::span<const std::uint8_t> blob, bool confirm,
                         std::span<const std::uint8_t> certificate) {
    m_expected_add = ExpectedAdd{Bytes(blob.begin(), blob.end()), confirm,
                                 Bytes(certificate.begin(), certificate.end())};
}

void KeyStore::ApplyExpectedAdd(KeyPair& key) const {
    if (!m_expected_add || !std::ranges::equal(key.Blob(), m_expected_add->blob)) return;
    if (m_expected_add->confirm) key.SetRequiresConfirmation(true);
    const Bytes& certificate = m_expected_add->certificate;
    if (!certificate.empty() && certificate.size() <= kMaxCertificateSize)
        key.SetCertificate(certificate);
}

bool KeyStore::RequireConfirmation(std::span<const std::uint8_t> blob) {
    return UpdateEveryKeyWith(blob, [](KeyPair& key) {
        if (key.RequiresConfirmation()) return false;
        key.SetRequiresConfirmation(true);
        return true;
    });
}

bool KeyStore::SetLifetime(std::span<const std::uint8_t> blob, std::int32_t seconds) {
    const FileTime now = m_clock.Now();
    return UpdateEveryKeyWith(blob, [&](KeyPair& key) {
        key.SetLifetime(seconds, now);
        return true;
    });
}

bool KeyStore::AttachCertificate(std::span<const std::uint8_t> blob,
                                 std::span<const std::uint8_t> certificate) {
    if (certificate.empty() || certificate.size() > kMaxCertificateSize) return false;
    return UpdateEveryKeyWith(blob, [&](KeyPair& key) {
        if (std::ranges::equal(key.Certificate(), certificate)) return false;
        key.SetCertificate(certificate);
        return true;
    });
}

std::uint32_t KeyStore::ReadPrivateValue(std::int32_t number, SecureBytes& out) const {
    RegistryKey subkey;
    if (!subkey.Open(KeySubkeyPath(number), false)) return subkey.LastError();
    out.assign(kMaxPrvSize, 0);
    std::uint32_t size = kMaxPrvSize;
    if (!subkey.ReadRaw(kPrvValue, out.data(), &size)) {
        out.clear();
        return subkey.LastError();
    }
    out.resize(size);
    return kRegOk;
}

std::optional<PrivateKeyBlob> KeyStore::ReadPrivateKey(std::int32_t number) const {
    const KeyPair* owner = FindByNumber(number);
    if (owner == nullptr) return std::nullopt;
    auto cached = m_read_private.find(number);
    if (cached == m_read_private.end()) {
        SecureBytes value;
        if (ReadPrivateValue(number, value) != kRegOk) return std::nullopt;
        cached = m_read_private.emplace(number, std::move(value)).first;
    }
    PrivateKeyBlob blob(owner);
    blob.SetBlob(cached->second);
    return blob;
}

bool KeyStore::DeleteAt(std::size_t index) {
    const std::int32_t number = m_keys[index]->Number();
    m_read_private.erase(number);
    const auto found = m_by_blob.find(BlobBytes(m_keys[index]->Blob()));
    if (found != m_by_blob.end()) {
        std::erase(found->second, m_keys[index].get());
        if (found->second.empty()) m_by_blob.erase(found);
    }
    m_keys.erase(m_keys.begin() + static_cast<std::ptrdiff_t>(index));
    if (m_on_removed) m_on_removed(number);
    RegistryKey parent;
    return parent.Open(kKeyPairsRegistryPath, false) &&
           parent.DeleteSubkey(KeySubkeyName(number).c_str());
}

bool KeyStore::Delete(std::int32_t number) {
    for (std::size_t i = 0; i < m_keys.size(); ++i) {
        if (m_keys[i]->Number() == number) return DeleteAt(i);
    }
    return false;
}

bool KeyStore::DeleteAll() {
    RegistryKey parent;
    if (!parent.Open(kKeyPairsRegistryPath, false)) {
        if (parent.LastError() != kRegNotFound) return false;
        ClearList();  // nothing stored, so nothing can have been loaded
        return true;
    }
    {
        RegistryTransaction transaction;
        const std::vector<std::string> names = parent.SubkeyNames();
        if (parent.LastError() != kRegOk) return false;
        for (const std::string& name : names) {
            if (!parent.DeleteSubkey(name.c_str())) return false;
        }
        if (!transaction.Commit()) return false;
    }
    ClearList();
    m_keys_left_unlisted = false;
    return true;
}

void KeyStore::ClearList() {
    m_read_private.clear();
    std::vector<std::int32_t> numbers;
    for (const auto& key : m_keys) numbers.push_back(key->Number());
    m_keys.clear();
    m_by_blob.clear();
    if (m_on_removed)
        for (const std::int32_t number : numbers) m_on_removed(number);
}

int KeyStore::ExpirySweep() {
    const FileTime now = m_clock.Now();
    int deleted = 0;
    // One registry transaction for the whole sweep: keys whose lifetimes end together (added
    // with the same `ssh-add -t`) would otherwise cost a commit each on the event loop.
    std::optional<RegistryTransaction> transaction;
    for (std::size_t i = 0; i < m_keys.size();) {
        if (!m_keys[i]->IsExpired(now)) {
            ++i;
            continue;
        }
        if (!transaction) transaction.emplace();
        const std::string comment = m_keys[i]->Comment();
        // The key leaves the list even when its subkey cannot be deleted: it must not be
        // used any more, and the next start sweeps it again.
        DeleteAt(i);
        m_log.LogMessage(nullptr, LogDelete, IDS_KEY_EXPIRED, comment.c_str());
        ++deleted;
    }
    if (transaction) (void)transaction->Commit();
    return deleted;
}

}  // namespace kv
