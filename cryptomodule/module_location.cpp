#include "cryptomodule/module_location.h"

#include <unistd.h>

#include <cstdlib>
#include <string>

namespace kv {

namespace {

std::string ExecutableDirectory() {
    std::string path(4096, '\0');
    const ssize_t n = readlink("/proc/self/exe", path.data(), path.size());
    if (n <= 0 || static_cast<std::size_t>(n) >= path.size()) return {};
    path.resize(static_cast<std::size_t>(n));
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return {};
    return path.substr(0, slash == 0 ? 1 : slash);
}

}  // namespace

std::string DefaultModuleDirectory() {
    if (const char* overridden = std::getenv(kModuleDirectoryVariable);
        overridden != nullptr && *overridden != '\0') {
        return overridden;
    }
    std::string dir = ExecutableDirectory();
    if (dir.empty()) return {};
    if (dir.back() != '/') dir += '/';
    return dir + "crypto";
}

}  // namespace kv
