// The module's output convention: a call whose buffer is null or short answers
// KVCLM_E_SHORT_BUFFER with the size it needs; the caller allocates that much and calls again.
#pragma once

#include <cstdint>
#include <new>

#include "cryptomodule/module_result.h"

namespace kv {

// `call(out, &length)` runs the module call with an output buffer and its capacity word (the
// module puts the output length there). The first round offers `capacity` bytes (null for 0);
// only a KVCLM_E_SHORT_BUFFER answer leads to the second round. Buffer is Bytes, or SecureBytes
// for secrets, which thus never sit in a buffer that is not wiped.
template <class Buffer, class Call>
ModuleResult<Buffer> CallTwice(Call&& call, std::uint32_t capacity = 0) {
    ModuleResult<Buffer> result;
    auto fail = [&result](int code) {
        result.code = code;
        result.value.clear();
        return result;
    };
    try {
        result.value.resize(capacity);
    } catch (const std::bad_alloc&) {
        return fail(KVCLM_E_NO_MEMORY);
    }
    std::uint32_t length = capacity;
    int code = call(capacity != 0 ? result.value.data() : nullptr, &length);
    if (code == KVCLM_E_SHORT_BUFFER) {
        // A size no larger than what was offered would make the second round fail the same way.
        if (length <= capacity) return fail(KVCLM_E_CRYPTO);
        try {
            result.value.resize(length);
        } catch (const std::bad_alloc&) {
            return fail(KVCLM_E_NO_MEMORY);
        }
        capacity = length;
        code = call(result.value.data(), &length);
    }
    if (code != KVCLM_OK) return fail(code);
    // Success with more output than room (or any output without a buffer) is a module fault.
    if (length > capacity) return fail(KVCLM_E_CRYPTO);
    result.value.resize(length);  // shrinking keeps the storage, so nothing is left unwiped
    result.code = KVCLM_OK;
    return result;
}

}  // namespace kv
