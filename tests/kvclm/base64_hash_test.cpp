// Known answers for the digests and the Base64 text the key files carry.
#include <gtest/gtest.h>

#include "tests/kvclm/kvclm_test_support.h"

using namespace kvtest;

namespace {

Bytes HashOf(int algorithm, std::string_view text, std::size_t size) {
    Bytes out(size);
    EXPECT_EQ(kvclm_HashOfBuffer(algorithm, reinterpret_cast<const unsigned char*>(text.data()),
                                 static_cast<std::uint32_t>(text.size()), out.data(), 0),
              0);
    return out;
}

int Decode(std::string_view text, Bytes* out) {
    std::uint32_t n = 0;
    int rc = kvclm_DecodeBase64(text.data(), static_cast<std::uint32_t>(text.size()), nullptr, &n);
    if (rc != KVCLM_E_SHORT_BUFFER) return rc;
    out->resize(n);
    rc = kvclm_DecodeBase64(text.data(), static_cast<std::uint32_t>(text.size()), out->data(), &n);
    out->resize(n);
    return rc;
}

}  // namespace

TEST(Hash, KnownAnswersOfEmptyAndAbc) {
    struct Case {
        int algorithm;
        const char* text;
        const char* hex;
    } cases[] = {
        {KVCLM_HASH_SHA1, "", "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
        {KVCLM_HASH_SHA1, "abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
        {KVCLM_HASH_MD5, "", "d41d8cd98f00b204e9800998ecf8427e"},
        {KVCLM_HASH_MD5, "abc", "900150983cd24fb0d6963f7d28e17f72"},
        {KVCLM_HASH_SHA256, "", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {KVCLM_HASH_SHA256, "abc",
         "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {KVCLM_HASH_SHA512, "abc",
         "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a"
         "2192992a274fc1a836ba3c23a3feebbd454d4423643ce80e2a9ac94fa54ca49f"},
    };
    for (const Case& c : cases) {
        const Bytes expected = Unhex(c.hex);
        EXPECT_EQ(HashOf(c.algorithm, c.text, expected.size()), expected) << c.hex;
    }
}

TEST(Hash, IncrementalEqualsOneShotAndHandleIsSpentAfterFinal) {
    KVCLM_HASH h = nullptr;
    ASSERT_EQ(kvclm_HashAlloc(&h, KVCLM_HASH_MD5, 0), 0);
    EXPECT_EQ(kvclm_HashUpdate(h, reinterpret_cast<const unsigned char*>("a"), 1, 0), 0);
    EXPECT_EQ(kvclm_HashUpdate(h, nullptr, 0, 0), 0);
    EXPECT_EQ(kvclm_HashUpdate(h, reinterpret_cast<const unsigned char*>("bc"), 2, 0), 0);
    Bytes out(16);
    EXPECT_EQ(kvclm_HashFinal(h, out.data(), 0), 0);
    EXPECT_EQ(out, Unhex("900150983cd24fb0d6963f7d28e17f72"));
    EXPECT_EQ(kvclm_HashUpdate(h, reinterpret_cast<const unsigned char*>("x"), 1, 0),
              KVCLM_E_BAD_PARAM);
    EXPECT_EQ(kvclm_HashFinal(h, out.data(), 0), KVCLM_E_BAD_PARAM);
    EXPECT_EQ(kvclm_HashFree(h, 0), 0);
    EXPECT_EQ(kvclm_HashFree(nullptr, 0), 0);
}

TEST(Hash, RefusesUnknownAlgorithmsAndBadArguments) {
    KVCLM_HASH h = nullptr;
    Bytes out(64);
    EXPECT_EQ(kvclm_HashAlloc(&h, 4, 0), KVCLM_E_UNSUPPORTED);
    EXPECT_EQ(kvclm_HashOfBuffer(-1, out.data(), 1, out.data(), 0), KVCLM_E_UNSUPPORTED);
    EXPECT_EQ(kvclm_HashOfBuffer(KVCLM_HASH_SHA1, nullptr, 3, out.data(), 0), KVCLM_E_BAD_PARAM);
    EXPECT_EQ(kvclm_HashOfBuffer(KVCLM_HASH_SHA1, out.data(), 3, nullptr, 0), KVCLM_E_BAD_PARAM);
    EXPECT_EQ(kvclm_HashOfBuffer(KVCLM_HASH_SHA1, out.data(), 3, out.data(), 1), KVCLM_E_BAD_PARAM);
}

TEST(Base64, Rfc4648Vectors) {
    const std::pair<const char*, const char*> vectors[] = {
        {"", ""},
        {"f", "Zg=="},
        {"fo", "Zm8="},
        {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="},
        {"fooba", "Zm9vYmE="},
        {"foobar", "Zm9vYmFy"},
    };
    for (const auto& [plain, text] : vectors) {
        EXPECT_EQ(Base64(ToBytes(plain)), text);
        Bytes decoded;
        EXPECT_EQ(Decode(text, &decoded), 0) << text;
        EXPECT_EQ(decoded, ToBytes(plain)) << text;
    }
}

TEST(Base64, LinesOfSixtyWithoutFinalBreakAndLengthCountsTheNul) {
    std::uint32_t n = 0;
    EXPECT_EQ(kvclm_GetBase64Length(45, &n, 60, 0), 0);
    EXPECT_EQ(n, 61u);  // one full line
    EXPECT_EQ(kvclm_GetBase64Length(46, &n, 60, 0), 0);
    EXPECT_EQ(n, 66u);  // 60 + LF + 4 + NUL
    EXPECT_EQ(kvclm_GetBase64Length(0, &n, 60, 0), 0);
    EXPECT_EQ(n, 1u);

    Bytes data(200);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 7);
    const std::string text = Base64(data);
    ASSERT_EQ(text.size(), 268u + 4);  // 268 characters in 5 lines
    EXPECT_EQ(text[60], '\n');
    EXPECT_EQ(text[121], '\n');
    EXPECT_NE(text.back(), '\n');
    EXPECT_EQ(Unbase64(text), data);
    EXPECT_EQ(Base64(data, 0).find('\n'), std::string::npos);
}

TEST(Base64, EncodeFollowsTheTwoCallPattern) {
    const Bytes data = ToBytes("foobar");
    std::uint32_t n = 0;
    EXPECT_EQ(kvclm_EncodeBase64(data.data(), 6, nullptr, &n, 60, 0), KVCLM_E_SHORT_BUFFER);
    EXPECT_EQ(n, 9u);
    std::string text(8, 'x');
    n = 8;
    EXPECT_EQ(kvclm_EncodeBase64(data.data(), 6, text.data(), &n, 60, 0), KVCLM_E_SHORT_BUFFER);
    EXPECT_EQ(text, "xxxxxxxx");  // untouched
    EXPECT_EQ(kvclm_EncodeBase64(data.data(), 6, text.data(), &n, 62, 0), KVCLM_E_BAD_PARAM);
}

TEST(Base64, DecodeSkipsLineBreaksAndRefusesEverythingElse) {
    Bytes out;
    EXPECT_EQ(Decode("Zm9v\r\nYmFy\n", &out), 0);
    EXPECT_EQ(out, ToBytes("foobar"));
    EXPECT_EQ(Decode("Zm\n9vYg=\r\n=\n", &out), 0);  // quads straddling lines
    EXPECT_EQ(out, ToBytes("foob"));
    EXPECT_EQ(Decode(std::string_view("Zm9v\0", 5), &out), 0);  // the encoder's NUL
    for (const char* bad : {"Zm9v YmFy", "Zm9\tv", "Zm9", "Zg=", "Z===", "Zg==Zg==", "Zm=v", "Zg=a",
                            "====", "Zm9v-_", "Zm9v\xc3\xa9"}) {
        EXPECT_EQ(Decode(bad, &out), KVCLM_E_BAD_FORMAT) << bad;
    }
    EXPECT_EQ(Decode(std::string_view("Zm\0"
                                      "9v",
                                      5),
                     &out),
              KVCLM_E_BAD_FORMAT);
    std::uint32_t n = 0;
    EXPECT_EQ(kvclm_DecodeBase64("", 0, nullptr, &n), 0);
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(kvclm_DecodeBase64(nullptr, 4, nullptr, &n), KVCLM_E_BAD_PARAM);
    n = 2;
    Bytes small(2);
    EXPECT_EQ(kvclm_DecodeBase64("Zm9v", 4, small.data(), &n), KVCLM_E_SHORT_BUFFER);
    EXPECT_EQ(n, 3u);
}
