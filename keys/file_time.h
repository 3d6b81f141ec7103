// Instants as the agent stores them: 64-bit counts of 100-nanosecond units since 1 January
// 1601, UTC. All bits set means "never" (a key's expiry) or "none" (the auto-lock deadline).
// Time is read through a Clock so that tests can move it.
#pragma once

#include <cstdint>
#include <mutex>

namespace kv {

using FileTime = std::uint64_t;

inline constexpr FileTime kFileTimeNever = ~FileTime{0};
inline constexpr FileTime kFileTimeUnitsPerSecond = 10'000'000;
// 1970-01-01 minus 1601-01-01, in FileTime units.
inline constexpr FileTime kUnixEpochAsFileTime = 116'444'736'000'000'000;

// `base` moved by a signed number of seconds or minutes, saturated so that it never wraps
// and never lands on kFileTimeNever: a far future stays "far", a far past becomes 0.
FileTime AddSeconds(FileTime base, std::int64_t seconds);

class Clock {
  public:
    virtual ~Clock() = default;
    // The current UTC time.
    virtual FileTime Now() const = 0;
};

// The wall clock, except that it never goes back: set back, it would lengthen every key's
// lifetime and the automatic lock by as much. Until the wall clock is again ahead, the time
// last returned is moved on by the boot-time clock, which clock changes do not move and which
// counts suspended time. A clock set forward is followed.
class SystemClock final : public Clock {
  public:
    using Source = FileTime (*)();  // the wall clock, and nanoseconds since boot
    SystemClock();
    SystemClock(Source wall, Source since_boot) : m_wall(wall), m_since_boot(since_boot) {}
    FileTime Now() const override;

  private:
    Source m_wall;
    Source m_since_boot;
    mutable std::mutex m_mutex;
    mutable FileTime m_last = 0;
    mutable FileTime m_last_boot = 0;
};

// The clock the agent runs on.
const Clock& TheSystemClock();

// A clock that stands still until told otherwise.
class FakeClock final : public Clock {
  public:
    explicit FakeClock(FileTime now = kUnixEpochAsFileTime) : m_now(now) {}
    FileTime Now() const override { return m_now; }
    void Set(FileTime now) { m_now = now; }
    void AdvanceSeconds(std::int64_t seconds) { m_now = AddSeconds(m_now, seconds); }

  private:
    FileTime m_now;
};

}  // namespace kv
