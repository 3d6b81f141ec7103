// Approvals a user let the agent remember: "this program may use this key without asking"
// for a number of minutes. They live only in memory. A lock forgets them all, deleting a key
// forgets those of that key, and each ends when its minutes run out.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "keys/file_time.h"
#include "platform/process_identity.h"
#include "platform/secure_memory.h"

namespace kv {

class RememberedApprovals {
  public:
    explicit RememberedApprovals(const Clock& clock) : m_clock(clock) {}

    // From now for `minutes` (nothing when not above 0). The key is its number and public
    // blob; an approval given again for the same key and program replaces the old one.
    void Remember(std::int32_t key_number, std::span<const std::uint8_t> key_blob,
                  const ProgramIdentity& program, std::int32_t minutes);

    // True while an approval for this key and program runs: before its end, and within
    // `minutes` (the setting as it is now) of when it was given, so that lowering the setting
    // shortens what was given before.
    bool Allows(std::int32_t key_number, std::span<const std::uint8_t> key_blob,
                const ProgramIdentity& program, std::int32_t minutes);

    void ForgetAll();
    void ForgetKey(std::int32_t key_number);

    // Moves on with every ForgetAll: a prompt that was open across a lock compares it, so that
    // its answer is not remembered past the lock.
    std::uint64_t Generation() const { return m_generation; }
    // Moves on with every ForgetKey: a key deleted and stored again under the same number
    // while a prompt was open is not the key the prompt asked about.
    std::uint64_t KeyRemovals() const { return m_key_removals; }
    std::size_t Count() const { return m_approvals.size(); }

  private:
    struct Approval {
        std::int32_t key_number;
        Bytes key_blob;
        ProgramIdentity program;
        FileTime given;
        FileTime until;
    };

    void DropEnded(FileTime now);

    const Clock& m_clock;
    std::vector<Approval> m_approvals;  // a handful: one per key and program in use
    std::uint64_t m_generation = 0;
    std::uint64_t m_key_removals = 0;
};

}  // namespace kv
