// The table of the module's exported calls, filled by dlsym when the module loads. The pointer
// types come from kvclm.h, so a changed signature there changes them here.
#pragma once

#include "kvclm/kvclm.h"

namespace kv {

// Every call the module exports; the loader refuses a module that lacks any of them.
#define KV_KVCLM_FUNCTIONS(X) \
    X(SetModuleMode)          \
    X(GetModuleMode)          \
    X(GetModuleVersion)       \
    X(GetModuleStatus)        \
    X(Selftest)               \
    X(ForgetSecrets)          \
    X(TestCorruptSelfTest)    \
    X(PrivateKeyImport)       \
    X(PrivateKeyExport)       \
    X(PrivateKeyGetData)      \
    X(PrivateKeySign)         \
    X(PrivateKeyDecrypt)      \
    X(PrivateKeyDerivePublic) \
    X(PKVerifyKeyPair)        \
    X(PrivateKeyFree)         \
    X(RSAKeyStructInit)       \
    X(DSSKeyStructInit)       \
    X(PrivateKeyGenerate)     \
    X(RSAKeyStructZeroize)    \
    X(DSSKeyStructZeroize)    \
    X(PublicKeyImport)        \
    X(PublicKeyExport)        \
    X(PublicKeyGetData)       \
    X(PublicKeyVerifySsh)     \
    X(PublicKeyFree)          \
    X(HashOfBuffer)           \
    X(HashAlloc)              \
    X(HashUpdate)             \
    X(HashFinal)              \
    X(HashFree)               \
    X(GetBase64Length)        \
    X(EncodeBase64)           \
    X(DecodeBase64)           \
    X(PrivateKeySignSsh)      \
    X(CurveKeyGenerate)       \
    X(PrivateKeyImportFile)   \
    X(PrivateKeyFileComment)  \
    X(PrivateKeyExportFile)

struct KvclmFunctions {
#define KV_KVCLM_POINTER(name) decltype(&::kvclm_##name) name = nullptr;
    KV_KVCLM_FUNCTIONS(KV_KVCLM_POINTER)
#undef KV_KVCLM_POINTER
};

}  // namespace kv
