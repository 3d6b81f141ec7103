// Embedded keys and answers for the load-time self-tests.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kvclm {

extern const std::uint8_t kSelfTestRsaKey[];
extern const std::size_t kSelfTestRsaKeySize;
extern const std::uint8_t kSelfTestDsaKey[];
extern const std::size_t kSelfTestDsaKeySize;
extern const std::uint8_t kSelfTestRsaSignature[128];
extern const std::uint8_t kSelfTestDsaSignature[40];

}  // namespace kvclm
