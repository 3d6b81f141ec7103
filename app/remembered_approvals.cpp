#include "app/remembered_approvals.h"

#include <algorithm>

namespace kv {

namespace {

constexpr std::int64_t kSecondsPerMinute = 60;

bool SameBlob(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b) {
    return std::ranges::equal(a, b);
}

}  // namespace

// A clock set back past the moment an approval was given ends it too: its age is unknown.
void RememberedApprovals::DropEnded(FileTime now) {
    std::erase_if(m_approvals,
                  [now](const Approval& a) { return now >= a.until || now < a.given; });
}

void RememberedApprovals::Remember(std::int32_t key_number, std::span<const std::uint8_t> key_blob,
                                   const ProgramIdentity& program, std::int32_t minutes) {
    if (minutes <= 0) return;
    const FileTime now = m_clock.Now();
    DropEnded(now);
    std::erase_if(m_approvals, [&](const Approval& a) {
        return a.key_number == key_number && a.program == program;
    });
    m_approvals.push_back({key_number, Bytes(key_blob.begin(), key_blob.end()), program, now,
                           AddSeconds(now, minutes * kSecondsPerMinute)});
}

bool RememberedApprovals::Allows(std::int32_t key_number, std::span<const std::uint8_t> key_blob,
                                 const ProgramIdentity& program, std::int32_t minutes) {
    if (minutes <= 0) return false;
    const FileTime now = m_clock.Now();
    DropEnded(now);
    return std::ranges::any_of(m_approvals, [&](const Approval& a) {
        return a.key_number == key_number && SameBlob(a.key_blob, key_blob) &&
               a.program == program && now < AddSeconds(a.given, minutes * kSecondsPerMinute);
    });
}

void RememberedApprovals::ForgetAll() {
    m_approvals.clear();
    ++m_generation;
}

void RememberedApprovals::ForgetKey(std::int32_t key_number) {
    ++m_key_removals;
    std::erase_if(m_approvals,
                  [key_number](const Approval& a) { return a.key_number == key_number; });
}

}  // namespace kv
