// Key descriptions and fingerprints: the Bubble Babble encoder against the published vectors,
// and both fingerprint forms against ssh-keygen for keys of several types and sizes.
#include <gtest/gtest.h>

#include <string>

#include "cryptomodule/hash.h"
#include "keys/fingerprint.h"
#include "keys/ssh2_key_file.h"
#include "tests/client/keyfile_test_support.h"
#include "tests/support/temp_dir.h"

namespace kv {
namespace {

using test::AsBytes;
using test::Quote;
using test::Shell;

TEST(BubbleBabble, MatchesThePublishedVectors) {
    EXPECT_EQ(BubbleBabble({}), "xexax");
    EXPECT_EQ(BubbleBabble(AsBytes("1234567890")), "xesef-disof-gytuf-katof-movif-baxux");
    EXPECT_EQ(BubbleBabble(AsBytes("Pineapple")), "xigak-nyryk-humil-bosek-sonax");
}

TEST(BubbleBabble, OfTheSha1OfNothing) {
    test::UseBuiltModule();
    const auto digest = Hash::OfBuffer(KVCLM_HASH_SHA1, {});
    ASSERT_TRUE(digest.ok());
    // SHA-1("") = da39a3ee5e6b4b0d3255bfef95601890afd80709, encoded by the algorithm by hand
    // and by an independent implementation.
    EXPECT_EQ(BubbleBabble(digest.value),
              "xukif-namov-vilek-rodab-tisah-hozev-zyhik-bikyn-barot-mocab-nexox");
}

TEST(Fingerprint, ShapesAndFailures) {
    test::UseBuiltModule();
    KeyPair pair;
    pair.SetBlob(test::PublicBlobOf(test::SharedKey(KVCLM_KEY_RSA, 1024)));
    const std::string md5 = KeyFingerprint(pair, kFingerprintMd5Hex);
    ASSERT_EQ(md5.size(), 48u);
    for (std::size_t i = 0; i < md5.size(); ++i) {
        if (i % 3 == 2)
            EXPECT_EQ(md5[i], ':');
        else
            EXPECT_TRUE(std::isdigit(md5[i]) || (md5[i] >= 'a' && md5[i] <= 'f')) << md5;
    }
    for (const int form : {1, 2, -1}) {
        const std::string babble = KeyFingerprint(pair, form);
        ASSERT_EQ(babble.size(), 65u);
        EXPECT_EQ(babble.front(), 'x');
        EXPECT_EQ(babble.back(), 'x');
        for (std::size_t i = 5; i < babble.size(); i += 6) EXPECT_EQ(babble[i], '-');
    }
    EXPECT_EQ(DescribeKey(pair), "RSA (1024 bits)");

    // A modulus of 1023 bits (top byte 0x40) is shown as 1024.
    const std::string modulus = std::string("\0\0\0\x80\x40", 5) + std::string(126, 'k') + "\x01";
    KeyPair odd;
    odd.SetBlob(AsBytes(std::string("\0\0\0\x07ssh-rsa\0\0\0\x03\x01\0\x01", 18) + modulus));
    EXPECT_EQ(DescribeKey(odd), "RSA (1024 bits)");

    KeyPair empty;
    EXPECT_EQ(DescribeKey(empty), "Invalid key");
    EXPECT_EQ(KeyFingerprint(empty, 0), "Not available");
    EXPECT_EQ(KeyFingerprint(empty, 1), "Not available");
    KeyPair damaged;
    damaged.SetBlob(AsBytes(std::string_view("\0\0\0\x07ssh-rsa\0\0", 13)));
    EXPECT_EQ(DescribeKey(damaged), "Invalid key");
    EXPECT_EQ(KeyFingerprint(damaged, 0).size(), 48u);
}

// Keys made by the real tools, read from their RFC 4716 form, fingerprinted by both sides.
class FingerprintInterop : public ::testing::TestWithParam<const char*> {
  protected:
    void SetUp() override {
        test::UseBuiltModule();
        test::RequireTools();
    }
    TempDir m_dir;
};

TEST_P(FingerprintInterop, AgreesWithSshKeygen) {
    const std::string key = m_dir.Path() + "/key", rfc = key + ".rfc";
    ASSERT_EQ(Shell(std::string(GetParam()) + " " + Quote(key)), 0) << GetParam();
    ASSERT_EQ(Shell("ssh-keygen -e -f " + Quote(key) + " > " + Quote(rfc)), 0);
    KeyPair pair = KeyPair::ForPublicKeyFile(rfc);
    ASSERT_TRUE(ReadPublicKeyFile(pair));

    std::string md5, babble, bits;
    ASSERT_EQ(Shell("ssh-keygen -l -E md5 -f " + Quote(key), &md5), 0);
    ASSERT_EQ(Shell("ssh-keygen -B -f " + Quote(key), &babble), 0);
    // "2048 MD5:aa:bb:...:ff comment (RSA)" and "2048 xabab-...-zyxax comment (RSA)".
    const std::string ours = KeyFingerprint(pair, kFingerprintMd5Hex);
    EXPECT_EQ("MD5:" + ours.substr(0, ours.size() - 1), md5.substr(md5.find(' ') + 1, 51));
    EXPECT_EQ(KeyFingerprint(pair, kFingerprintBubbleBabble),
              babble.substr(babble.find(' ') + 1, 65));
    const std::string size = md5.substr(0, md5.find(' '));
    const std::string type = md5.find("(DSA)") != std::string::npos ? "DSA" : "RSA";
    EXPECT_EQ(DescribeKey(pair), type + " (" + size + " bits)");
}

INSTANTIATE_TEST_SUITE_P(
    Keys, FingerprintInterop,
    ::testing::Values("ssh-keygen -q -N '' -t rsa -b 1024 -f",
                      "ssh-keygen -q -N '' -t rsa -b 2048 -f",
                      "ssh-keygen -q -N '' -t rsa -b 3072 -f", "ssh-keygen -q -N '' -t dsa -f",
                      // puttygen makes DSA keys of other sizes; ssh-keygen can print them.
                      "f() { puttygen -q -t dsa -b 2048 -O private-openssh -o \"$1\" "
                      "--new-passphrase /dev/null && ssh-keygen -y -f \"$1\" > \"$1.pub\"; }; f"));

}  // namespace
}  // namespace kv
