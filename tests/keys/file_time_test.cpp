// The agent's clock when the wall clock is set back or forward (by hand, or by NTP).
#include "keys/file_time.h"

#include <gtest/gtest.h>

namespace kv {
namespace {

FileTime g_wall = 0;
FileTime g_since_boot = 0;  // nanoseconds

constexpr FileTime kSecond = 1'000'000'000;

// Set back, the wall clock would lengthen every key lifetime and the automatic lock by as
// much: the time goes on from where it was instead. Set forward, it is followed.
TEST(SystemClockTest, NeverGoesBackAndFollowsAClockSetForward) {
    const FileTime start = AddSeconds(kUnixEpochAsFileTime, 1'700'000'000);
    g_wall = start;
    g_since_boot = 5 * kSecond;
    const SystemClock clock([] { return g_wall; }, [] { return g_since_boot; });
    EXPECT_EQ(clock.Now(), start);
    g_wall = AddSeconds(start, 10 - 3600);  // set back an hour while 10 s passed
    g_since_boot += 10 * kSecond;
    EXPECT_EQ(clock.Now(), AddSeconds(start, 10));
    g_wall = AddSeconds(g_wall, 20);
    g_since_boot += 20 * kSecond;
    EXPECT_EQ(clock.Now(), AddSeconds(start, 30));
    g_wall = AddSeconds(start, 7200);  // set forward
    g_since_boot += kSecond;
    EXPECT_EQ(clock.Now(), AddSeconds(start, 7200));
}

}  // namespace
}  // namespace kv
