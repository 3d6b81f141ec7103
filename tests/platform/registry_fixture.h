// Every registry test starts from an empty database of its own, reached the way the agent
// reaches it: through XDG_CONFIG_HOME.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "platform/registry/registry.h"
#include "tests/platform/temp_home.h"

namespace kv::testing {

class RegistryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        RegistryDatabase::UseFile("");
        RegistryDatabase::Close();
        registry_testing::Reset();
    }
    void TearDown() override {
        RegistryDatabase::Close();
        registry_testing::Reset();
    }

    // Opens (creating) `path`, failing the test when it cannot.
    static RegistryKey Key(const std::string& path) {
        RegistryKey key;
        EXPECT_TRUE(key.Open(path)) << path << ": " << key.LastError();
        return key;
    }

    static std::string Text(RegistryKey& key, const char* name) {
        char buffer[1024];
        return key.ReadString(name, buffer, sizeof buffer) ? buffer : "<error>";
    }

    TempHome m_home;
};

}  // namespace kv::testing
