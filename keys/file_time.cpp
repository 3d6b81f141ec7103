#include "keys/file_time.h"

#include <ctime>
#include <limits>

namespace kv {

FileTime AddSeconds(FileTime base, std::int64_t seconds) {
    constexpr FileTime kLatest = kFileTimeNever - 1;
    constexpr auto kUnits = static_cast<std::int64_t>(kFileTimeUnitsPerSecond);
    if (base > kLatest) base = kLatest;
    if (seconds >= 0) {
        // Both factors are non-negative, so the bound can be checked by division.
        const auto s = static_cast<FileTime>(seconds);
        if (s > kLatest / kFileTimeUnitsPerSecond) return kLatest;
        const FileTime delta = s * kFileTimeUnitsPerSecond;
        return delta > kLatest - base ? kLatest : base + delta;
    }
    if (seconds < std::numeric_limits<std::int64_t>::min() / kUnits) return 0;
    const auto delta = static_cast<FileTime>(-(seconds * kUnits));
    return delta > base ? 0 : base - delta;
}

namespace {

FileTime WallNow() {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    const auto seconds = static_cast<std::int64_t>(now.tv_sec);
    const FileTime since_1970 =
        static_cast<FileTime>(now.tv_nsec) / 100 +
        (seconds > 0 ? static_cast<FileTime>(seconds) * kFileTimeUnitsPerSecond : 0);
    return kUnixEpochAsFileTime + since_1970;
}

FileTime NanosecondsSinceBoot() {
    timespec now{};
    ::clock_gettime(CLOCK_BOOTTIME, &now);
    return static_cast<FileTime>(now.tv_sec) * 1'000'000'000 + static_cast<FileTime>(now.tv_nsec);
}

}  // namespace

SystemClock::SystemClock() : SystemClock(WallNow, NanosecondsSinceBoot) {}

FileTime SystemClock::Now() const {
    std::lock_guard lock(m_mutex);  // read under it too: the boot time must not go back
    const FileTime wall = m_wall();
    const FileTime boot = m_since_boot();
    const FileTime carried = m_last + (boot - m_last_boot) / 100;
    if (m_last == 0 || wall >= carried) {
        m_last = wall;
        m_last_boot = boot;
    } else {
        // Whole units only, so that the remainder is carried to the next call.
        m_last = carried;
        m_last_boot += (boot - m_last_boot) / 100 * 100;
    }
    return m_last;
}

const Clock& TheSystemClock() {
    static const SystemClock clock;
    return clock;
}

}  // namespace kv
