// Digests and Base64 through the built module.
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "cryptomodule/base64.h"
#include "cryptomodule/hash.h"
#include "tests/cryptomodule/test_module.h"

namespace kv {
namespace {

using test::AsBytes;

std::string Hex(const Bytes& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (std::uint8_t b : bytes) {
        text += digits[b >> 4];
        text += digits[b & 15];
    }
    return text;
}

class ModuleTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(test::BuiltModule().IsAvailable()) << test::BuiltModule().LoadError();
    }
};

using HashTest = ModuleTest;
using Base64Test = ModuleTest;

TEST_F(HashTest, OneCallDigestsHaveTheAlgorithmsSize) {
    auto sha1 = Hash::OfBuffer(KVCLM_HASH_SHA1, AsBytes("abc"));
    ASSERT_TRUE(sha1.ok()) << sha1.code;
    EXPECT_EQ(Hex(sha1.value), "a9993e364706816aba3e25717850c26c9cd0d89d");
    auto md5 = Hash::OfBuffer(KVCLM_HASH_MD5, {});
    ASSERT_TRUE(md5.ok()) << md5.code;
    EXPECT_EQ(Hex(md5.value), "d41d8cd98f00b204e9800998ecf8427e");
    for (int algorithm : {KVCLM_HASH_SHA256, KVCLM_HASH_SHA512}) {
        auto digest = Hash::OfBuffer(algorithm, AsBytes("abc"));
        ASSERT_TRUE(digest.ok()) << algorithm;
        EXPECT_EQ(digest.value.size(), Hash::DigestSize(algorithm));
    }
    EXPECT_EQ(Hash::OfBuffer(7, AsBytes("abc")).code, KVCLM_E_UNSUPPORTED);
}

TEST_F(HashTest, StreamingEqualsOneCall) {
    const std::string text = "The SSH1 response hashes a challenge, then a session id.";
    for (int algorithm : {KVCLM_HASH_SHA1, KVCLM_HASH_MD5, KVCLM_HASH_SHA256, KVCLM_HASH_SHA512}) {
        auto hash = Hash::Alloc(algorithm);
        ASSERT_TRUE(hash.ok()) << algorithm;
        ASSERT_EQ(hash.value.Update(AsBytes(text).first(10)), KVCLM_OK);
        ASSERT_EQ(hash.value.Update({}), KVCLM_OK);
        ASSERT_EQ(hash.value.Update(AsBytes(text).subspan(10)), KVCLM_OK);
        auto streamed = hash.value.Final();
        ASSERT_TRUE(streamed.ok()) << streamed.code;
        EXPECT_EQ(streamed.value, Hash::OfBuffer(algorithm, AsBytes(text)).value) << algorithm;
        EXPECT_NE(hash.value.Update(AsBytes("more")), KVCLM_OK) << "a finished hash is done";
    }
    EXPECT_EQ(Hash::Alloc(-1).code, KVCLM_E_UNSUPPORTED);
    EXPECT_EQ(Hash().Update(AsBytes("x")), KVCLM_E_BAD_PARAM);
}

TEST_F(Base64Test, EncodesInSixtyCharacterLinesWithoutTheClosingNul) {
    auto foobar = Base64::Encode(AsBytes("foobar"));
    ASSERT_TRUE(foobar.ok()) << foobar.code;
    EXPECT_EQ(foobar.value, "Zm9vYmFy");
    auto empty = Base64::Encode({});
    ASSERT_TRUE(empty.ok()) << empty.code;
    EXPECT_EQ(empty.value, "");

    const std::string data(90, 'x');  // 120 characters: exactly two full lines
    auto two = Base64::Encode(AsBytes(data));
    ASSERT_TRUE(two.ok());
    ASSERT_EQ(two.value.size(), 121u);
    EXPECT_EQ(two.value.find('\n'), 60u);
    EXPECT_NE(two.value.back(), '\n');
    auto single = Base64::Encode(AsBytes(data), 0);
    ASSERT_TRUE(single.ok());
    EXPECT_EQ(single.value.find('\n'), std::string::npos);

    auto secret = Base64::EncodeSecret(AsBytes("foobar"));
    ASSERT_TRUE(secret.ok());
    EXPECT_EQ(std::string(secret.value.begin(), secret.value.end()), "Zm9vYmFy");
}

TEST_F(Base64Test, DecodeSkipsLineBreaksAndRefusesOtherBytes) {
    const std::string data(100, '\x5a');
    auto text = Base64::Encode(AsBytes(data));
    ASSERT_TRUE(text.ok());
    auto back = Base64::Decode(text.value);
    ASSERT_TRUE(back.ok()) << back.code;
    EXPECT_EQ(std::string(back.value.begin(), back.value.end()), data);

    auto crlf = Base64::DecodeSecret("Zm9v\r\nYmFy\r\n");
    ASSERT_TRUE(crlf.ok()) << crlf.code;
    EXPECT_EQ(std::string(crlf.value.begin(), crlf.value.end()), "foobar");

    auto nothing = Base64::Decode("");
    EXPECT_TRUE(nothing.ok()) << nothing.code;
    EXPECT_TRUE(nothing.value.empty());

    using namespace std::string_view_literals;
    for (std::string_view bad : {"Zm9v YmFy"sv, "Zm9v!"sv, "Zm=v"sv, "Zg="sv, "Zm9v\0Ym"sv}) {
        auto refused = Base64::Decode(bad);
        EXPECT_FALSE(refused.ok()) << bad;
        EXPECT_TRUE(refused.value.empty());
    }
}

}  // namespace
}  // namespace kv
