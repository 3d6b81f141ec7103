// Whether a private-key computation prepared earlier may still run or be answered: the agent
// must not have locked, unlocked again or changed its passphrase since, and the key must still
// be stored and within its lifetime. A request takes the guard once the agent is unlocked and its
// key found, and checks it after every prompt and once its result is in, so that nothing computed
// with a key opened before a lock ever leaves a locked agent.
//
// Check() reads the key store, so it runs where the store lives (the user-interface thread),
// also for a computation that ran elsewhere.
#pragma once

#include <cstdint>

#include "platform/secure_memory.h"

namespace kv {

class KeyPair;
class KeyStore;

class KeyUseGuard {
  public:
    enum class Verdict {
        kGoAhead,
        kLocked,   // refuse as for a locked agent
        kKeyGone,  // refuse as for a key that is not stored
    };

    // `key` must be stored in `keys`, and the agent unlocked.
    KeyUseGuard(const KeyStore& keys, const KeyPair& key);

    Verdict Check() const;
    // Whether the agent locked, unlocked or changed its passphrase since the guard was
    // taken. Reads only the store's lock epoch, so a worker may ask it before it computes,
    // to spare a computation whose result Check() would refuse anyway.
    bool LockedSince() const;

  private:
    const KeyStore& m_keys;
    std::uint64_t m_lock_epoch;
    std::int32_t m_number;
    Bytes m_blob;
};

}  // namespace kv
