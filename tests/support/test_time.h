// The instant tests set their clocks to (2023-11-14 22:13:20 UTC), so that times they write and
// read back are the same in every test.
#pragma once

#include "keys/file_time.h"

namespace kv::test {

inline constexpr FileTime kTestNow =
    kUnixEpochAsFileTime + 1'700'000'000ull * kFileTimeUnitsPerSecond;

}  // namespace kv::test
