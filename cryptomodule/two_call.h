// The module's output convention: a call with no buffer answers KVCLM_E_SHORT_BUFFER and the
// size it needs; the caller allocates that much and calls again.
#pragma once

#include <cstdint>
#include <new>

#include "cryptomodule/module_result.h"

namespace kv {

// `call(out, &length)` runs the module call with an output buffer (null on the first round)
// and its capacity/length word. Buffer is Bytes or SecureBytes: secrets are never copied into a
// buffer that is not wiped.
template <class Buffer, class Call>
ModuleResult<Buffer> CallTwice(Call&& call) {
    ModuleResult<Buffer> result;
    std::uint32_t needed = 0;
    int code = call(nullptr, &needed);
    if (code == KVCLM_OK) {
        // Only an empty output may succeed without a buffer; anything else is a module fault.
        result.code = needed == 0 ? KVCLM_OK : KVCLM_E_CRYPTO;
        return result;
    }
    if (code != KVCLM_E_SHORT_BUFFER) {
        result.code = code;
        return result;
    }
    try {
        result.value.resize(needed);
    } catch (const std::bad_alloc&) {
        result.code = KVCLM_E_NO_MEMORY;
        return result;
    }
    std::uint32_t length = needed;
    code = call(result.value.data(), &length);
    if (code != KVCLM_OK || length > needed) {
        result.code = code != KVCLM_OK ? code : KVCLM_E_CRYPTO;
        result.value.clear();
        return result;
    }
    result.value.resize(length);  // shrinking keeps the storage, so nothing is left unwiped
    result.code = KVCLM_OK;
    return result;
}

}  // namespace kv
