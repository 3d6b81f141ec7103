// Result codes of the registry layer. They carry the numbers the desktop registry uses, so
// code written against that registry reads the same here; docs/registry-errors.md says when
// each one occurs.
#pragma once

#include <cstdint>

namespace kv {

enum RegistryError : std::uint32_t {
    kRegOk = 0,
    kRegNotFound = 2,            // the key or value does not exist
    kRegAccessDenied = 5,        // deleting a key that still has subkeys
    kRegInvalidHandle = 6,       // the RegistryKey is not open
    kRegInvalidParameter = 87,   // missing name or buffer, malformed key path
    kRegMoreData = 234,          // the caller's buffer is too small
    kRegNoMoreItems = 259,       // enumeration past the last subkey
    kRegIoFailed = 1016,         // the database failed (or a test injected a failure)
    kRegKeyDeleted = 1018,       // writing to a key that was deleted after it was opened
    kRegUnsupportedType = 1630,  // ReadString on a value that is not REG_SZ
};

}  // namespace kv
