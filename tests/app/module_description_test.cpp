#include "app/module_description.h"

#include <gtest/gtest.h>

#include <string>

#include "res/string_ids.h"
#include "res/string_table.h"

namespace kv {
namespace {

TEST(ModuleDescription, FeatureListNamesSetBitsInOrderAndCapitalisesTheFirst) {
    EXPECT_EQ(ModuleFeatureList(0), "");
    EXPECT_EQ(ModuleFeatureList(0x20), "Rsa");
    EXPECT_EQ(ModuleFeatureList(0x3F), "International, selftest, fips140, bignum, dl, rsa");
    EXPECT_EQ(ModuleFeatureList(0x1A), "Selftest, bignum, dl");
    EXPECT_EQ(ModuleFeatureList(0xC0), "");  // unknown bits name nothing
}

TEST(ModuleDescription, ModeAndStatusTextsCoverUnknownValues) {
    EXPECT_EQ(ModuleModeText(0), "Non-FIPS mode");
    EXPECT_EQ(ModuleModeText(1), "FIPS-140 mode");
    EXPECT_EQ(ModuleModeText(-1), "Cannot determine module mode");
    EXPECT_EQ(ModuleStatusText(2), "ready");
    EXPECT_EQ(ModuleStatusText(4), "ERROR");
    EXPECT_EQ(ModuleStatusText(7), "unknown status");
}

TEST(ModuleDescription, FillsTheAboutAndStatusFormats) {
    ModuleFacts facts;
    facts.major = 3;
    facts.minor = 1;
    facts.build = 56;
    facts.flags = 0x3B;
    facts.mode = 0;
    facts.status = 2;
    EXPECT_EQ(DescribeModule(LoadString(IDS_MODULE_DESCRIPTION), facts),
              "\nCryptographic library version 3.1 build 56\n"
              "International, selftest, bignum, dl, rsa\n\nNon-FIPS mode");
    EXPECT_EQ(DescribeModule(LoadString(IDS_STATUS_VERSION_FORMAT), facts), "3.1 build 56");
    EXPECT_EQ(DescribeModule(nullptr, facts), "");
}

TEST(ModuleDescription, ResultIsCutAt299Characters) {
    const std::string wide(400, 'x');
    EXPECT_EQ(DescribeModule(wide.c_str(), ModuleFacts{}).size(), 299u);
}

}  // namespace
}  // namespace kv
