#include "cryptomodule/key_info.h"

#include <cstring>

namespace kv {

::KeyInfo EmptyKeyInfoRecord() {
    ::KeyInfo record{};
    record.size = KVCLM_KEYINFO_SIZE;
    record.magic = KVCLM_KEYINFO_MAGIC;
    return record;
}

ModuleKeyInfo FromKeyInfoRecord(const ::KeyInfo& record) {
    ModuleKeyInfo info;
    info.type = static_cast<int>(record.type);
    // The name field need not end with a NUL when it is full.
    info.algorithm.assign(record.algorithm, strnlen(record.algorithm, sizeof record.algorithm));
    info.bits = record.bits;
    return info;
}

}  // namespace kv
