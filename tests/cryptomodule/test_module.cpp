#include "tests/cryptomodule/test_module.h"

#include <cstdlib>

namespace kv::test {

std::string BuiltModuleDirectory() {
    // ctest says where the build put its programs; a test run by hand uses the configured path.
    if (const char* bin = std::getenv("KV_BIN_DIR"); bin != nullptr && *bin != '\0') {
        return std::string(bin) + "/crypto";
    }
    return KV_TEST_MODULE_DIR;
}

CryptoModule& BuiltModule() {
    static CryptoModule& module = []() -> CryptoModule& {
        Module().SetDirectoryForTesting(BuiltModuleDirectory());
        return Module();
    }();
    return module;
}

}  // namespace kv::test
