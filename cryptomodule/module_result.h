// What a wrapped module call gives back: the module's own result code and, on success, the value.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>

#include "kvclm/kvclm.h"

namespace kv {

// Returned by every wrapper when the module could not be loaded. It is the module's own
// "not ready" code, so callers need no extra case for a missing module.
inline constexpr int kModuleUnavailable = KVCLM_E_NOT_READY;

template <class T>
struct [[nodiscard]] ModuleResult {
    int code = kModuleUnavailable;  // KVCLM_OK or a KVCLM_E_* value
    T value{};                      // meaningful only when ok()

    bool ok() const { return code == KVCLM_OK; }
    explicit operator bool() const { return ok(); }
};

// The module counts bytes in 32 bits; longer inputs are refused before any call.
inline bool FitsModuleLength(std::size_t n) {
    return n <= std::numeric_limits<std::uint32_t>::max();
}

}  // namespace kv
