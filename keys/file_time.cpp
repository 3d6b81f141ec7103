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

FileTime SystemClock::Now() const {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    const auto seconds = static_cast<std::int64_t>(now.tv_sec);
    const FileTime since_1970 =
        static_cast<FileTime>(now.tv_nsec) / 100 +
        (seconds > 0 ? static_cast<FileTime>(seconds) * kFileTimeUnitsPerSecond : 0);
    return kUnixEpochAsFileTime + since_1970;
}

const Clock& TheSystemClock() {
    static const SystemClock clock;
    return clock;
}

}  // namespace kv
