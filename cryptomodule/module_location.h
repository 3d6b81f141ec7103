// Where the agent's cryptographic module lives when nobody says otherwise.
#pragma once

#include <string>

namespace kv {

inline constexpr const char* kModuleDirectoryVariable = "KVSSHAA_MODULE_DIR";
inline constexpr const char* kModuleFileName = "libkvclm.so";

// $KVSSHAA_MODULE_DIR when set and not empty, else "<directory of the executable>/crypto".
// Empty when neither can be determined.
std::string DefaultModuleDirectory();

}  // namespace kv
