#include "cryptomodule/module_location.h"

#include <cstdlib>
#include <string>

#include "platform/paths.h"

namespace kv {

std::string DefaultModuleDirectory() {
    if (const char* overridden = std::getenv(kModuleDirectoryVariable);
        overridden != nullptr && *overridden != '\0') {
        return overridden;
    }
    std::string dir = paths::ExecutableDir();
    if (dir.empty()) return {};
    if (dir.back() != '/') dir += '/';
    return dir + "crypto";
}

}  // namespace kv
