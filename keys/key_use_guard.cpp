#include "keys/key_use_guard.h"

#include <algorithm>

#include "keys/key_store.h"

namespace kv {

KeyUseGuard::KeyUseGuard(const KeyStore& keys, const KeyPair& key)
    : m_keys(keys), m_lock_epoch(keys.LockEpoch()), m_number(key.Number()), m_blob(key.Blob()) {}

bool KeyUseGuard::LockedSince() const { return m_keys.LockEpoch() != m_lock_epoch; }

KeyUseGuard::Verdict KeyUseGuard::Check() const {
    // A lock that was undone by an unlock still ended the use the key was opened for.
    if (m_keys.IsLocked() || LockedSince()) return Verdict::kLocked;
    // A number is given again only after its key went; the blob tells the keys apart. A key
    // past its lifetime is gone even before the sweep (which waits while a prompt is open)
    // takes it out of the list.
    const KeyPair* key = m_keys.FindByNumber(m_number);
    if (key == nullptr || !std::ranges::equal(key->Blob(), m_blob) ||
        key->IsExpired(m_keys.TimeSource().Now())) {
        return Verdict::kKeyGone;
    }
    return Verdict::kGoAhead;
}

}  // namespace kv
