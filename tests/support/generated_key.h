// A fresh 1024-bit key made by the module, as the native protocol carries it: the public blob
// and the plain private half. Small keys keep the tests quick.
#pragma once

#include <gtest/gtest.h>

#include "cryptomodule/key_generation.h"
#include "platform/secure_memory.h"

namespace kv::test {

struct TestKey {
    Bytes blob;
    SecureBytes plain;
};

inline TestKey MakeKey(bool rsa) {
    auto key = rsa ? GenerateRsaKey(1024) : GenerateDssKey(1024);
    EXPECT_TRUE(key.ok());
    auto plain = key.value.ExportPlain();
    auto pub = key.value.DerivePublic();
    EXPECT_TRUE(plain.ok() && pub.ok());
    auto blob = pub.value.Export();
    EXPECT_TRUE(blob.ok());
    return TestKey{blob.value, plain.value};
}

}  // namespace kv::test
