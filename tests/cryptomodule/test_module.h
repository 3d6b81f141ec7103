// Shared by the tests of the module wrappers: where the built module is, and byte helpers.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "cryptomodule/crypto_module.h"

namespace kv::test {

// The directory holding the module built with these tests.
std::string BuiltModuleDirectory();

// kv::Module(), pointed at the built module before its first call.
CryptoModule& BuiltModule();

inline std::span<const std::uint8_t> AsBytes(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

}  // namespace kv::test
