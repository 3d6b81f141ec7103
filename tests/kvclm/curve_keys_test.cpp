// Ed25519 and ECDSA keys through the module's calls: containers, public blobs, key information
// and signatures that OpenSSL verifies with the public blob alone.
#include <gtest/gtest.h>
#include <openssl/core_names.h>

#include <cstring>

#include "tests/kvclm/kvclm_test_support.h"
#include "tests/support/openssl_check.h"

namespace kvtest {
namespace {

struct Curve {
    int type;
    std::uint32_t bits;
    const char* name;
};

const Curve kCurves[] = {{KVCLM_KEY_ED25519, 256, "ED25519"},
                         {KVCLM_KEY_ECDSA, 256, "ECDSA"},
                         {KVCLM_KEY_ECDSA, 384, "ECDSA"},
                         {KVCLM_KEY_ECDSA, 521, "ECDSA"}};

class CurveKeyTest : public ::testing::TestWithParam<Curve> {};

TEST_P(CurveKeyTest, ContainersKeepTheKeyAndSignaturesVerify) {
    const Curve c = GetParam();
    const PrivateKey key = GenerateCurve(c.type, c.bits);
    ASSERT_TRUE(key);
    const KeyInfo info = InfoOf(key.get());
    EXPECT_EQ(info.type, static_cast<std::uint32_t>(c.type));
    EXPECT_STREQ(info.algorithm, c.name);
    EXPECT_EQ(info.bits, c.bits);

    const Bytes blob = PublicBlob(key.get());
    Bytes plain, protectedBlob;
    ASSERT_EQ(ExportPlain(key.get(), &plain), 0);
    ASSERT_EQ(ExportProtected(key.get(), "agent pass", &protectedBlob), 0);
    PrivateKey back, opened, refused;
    ASSERT_EQ(Import("", plain, &back), 0);
    ASSERT_EQ(Import("agent pass", protectedBlob, &opened), 0);
    EXPECT_EQ(Import("wrong", protectedBlob, &refused), KVCLM_E_BAD_PASSPHRASE);
    EXPECT_EQ(Import("", protectedBlob, &refused), KVCLM_E_NEED_PASSPHRASE);
    EXPECT_EQ(PublicBlob(back.get()), blob);
    EXPECT_EQ(PublicBlob(opened.get()), blob);

    // The public blob alone imports and describes the key the same way.
    KVCLM_PUBLIC_KEY pub = nullptr;
    ASSERT_EQ(
        kvclm_PublicKeyImport(&pub, blob.data(), static_cast<std::uint32_t>(blob.size()), 0, 0), 0);
    const PublicKey pubOwner(pub);
    KeyInfo pubInfo{KVCLM_KEYINFO_SIZE, KVCLM_KEYINFO_MAGIC, 0, {}, 0, {}};
    ASSERT_EQ(kvclm_PublicKeyGetData(pub, 1, &pubInfo, 0), 0);
    EXPECT_EQ(pubInfo.bits, c.bits);
    int match = 0;
    ASSERT_EQ(kvclm_PKVerifyKeyPair(opened.get(), pub, &match, 0), 0);
    EXPECT_EQ(match, 1);

    for (const Bytes& data : {Bytes{}, ToBytes("data to sign"), Bytes(5000, 0xa5)}) {
        const Bytes signature = SignSsh(opened.get(), data);
        ASSERT_FALSE(signature.empty());
        EXPECT_TRUE(kv::test::VerifyCurve(blob, data, signature)) << c.name << c.bits;
        if (c.type == KVCLM_KEY_ED25519) {
            EXPECT_EQ(signature.size(), 64u);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(EveryCurve, CurveKeyTest, ::testing::ValuesIn(kCurves));

TEST(CurveKeys, TheRsaAndDssCallsRefuseThemAndSignSshRefusesRsa) {
    const PrivateKey ed = GenerateCurve(kCurves[0].type, kCurves[0].bits);
    Bytes out(512);
    std::uint32_t n = 512;
    EXPECT_EQ(
        kvclm_PrivateKeySign(ed.get(), KVCLM_SIGN_DSS, nullptr, out.data(), 1, out.data(), &n, 0),
        KVCLM_E_WRONG_KEY_TYPE);
    EXPECT_EQ(kvclm_PrivateKeyDecrypt(ed.get(), 2, 0, out.data(), 1, out.data(), &n, 0),
              KVCLM_E_WRONG_KEY_TYPE);
    EXPECT_EQ(kvclm_PrivateKeySignSsh(SharedKey(KVCLM_KEY_RSA, 1024), 0, out.data(), 1, out.data(),
                                      &n, 0),
              KVCLM_E_WRONG_KEY_TYPE);
    EXPECT_EQ(kvclm_PrivateKeySignSsh(ed.get(), 1, out.data(), 1, out.data(), &n, 0),
              KVCLM_E_BAD_PARAM);
    KVCLM_PRIVATE_KEY none = nullptr;
    EXPECT_EQ(kvclm_CurveKeyGenerate(&none, KVCLM_KEY_ECDSA, 224, 0), KVCLM_E_UNSUPPORTED);
    EXPECT_EQ(kvclm_CurveKeyGenerate(&none, KVCLM_KEY_RSA, 256, 0), KVCLM_E_UNSUPPORTED);
    EXPECT_EQ(none, nullptr);
}

// A blob with its last byte (part of the point or key) changed, and other damage.
TEST(CurveKeys, DamagedPublicBlobsAreRefused) {
    for (const Curve& c : kCurves) {
        const PrivateKey key = GenerateCurve(c.type, c.bits);
        const Bytes blob = PublicBlob(key.get());
        KVCLM_PUBLIC_KEY pub = nullptr;
        auto import = [&](const Bytes& b) {
            const int rc =
                kvclm_PublicKeyImport(&pub, b.data(), static_cast<std::uint32_t>(b.size()), 0, 0);
            kvclm_PublicKeyFree(pub, 0);
            pub = nullptr;
            return rc;
        };
        for (std::size_t n = 0; n < blob.size(); ++n)
            EXPECT_NE(import(Bytes(blob.begin(), blob.begin() + static_cast<long>(n))), 0) << n;
        Bytes longer = blob;
        longer.push_back(0);
        EXPECT_EQ(import(longer), KVCLM_E_BAD_FORMAT);
        if (c.type == KVCLM_KEY_ECDSA) {
            Bytes offCurve = blob;
            offCurve.back() ^= 0x01;
            EXPECT_EQ(import(offCurve), KVCLM_E_BAD_KEY) << c.bits;
            Bytes otherCurve = blob;  // "nistp256" becomes "nistp257"
            otherCurve[4 + 19 + 4 + 7] ^= 0x01;
            EXPECT_EQ(import(otherCurve), KVCLM_E_BAD_FORMAT) << c.bits;
        }
    }
}

// The private fields must belong together: a container whose public key is not the one the
// secret gives is refused.
TEST(CurveKeys, ContainersWhoseHalvesDisagreeAreRefused) {
    for (const Curve& c : kCurves) {
        const PrivateKey key = GenerateCurve(c.type, c.bits);
        Bytes plain;
        ASSERT_EQ(ExportPlain(key.get(), &plain), 0);
        // Ed25519: the stored public key is the first string of the payload; ECDSA: the point
        // follows the curve name. Flipping a bit in the point's or key's last byte keeps the
        // framing intact.
        const std::size_t payloadEnd = plain.size();
        const std::size_t at = c.type == KVCLM_KEY_ED25519 ? payloadEnd - 64 - 4 - 1
                                                           : payloadEnd - (c.bits + 7) / 8 - 4 - 1;
        Bytes tampered = plain;
        tampered[at - 1] ^= 0x01;
        PrivateKey out;
        EXPECT_NE(Import("", tampered, &out), 0) << c.name << c.bits;
        for (std::size_t n = 0; n < plain.size(); ++n) {
            EXPECT_NE(Import("", Bytes(plain.begin(), plain.begin() + static_cast<long>(n)), &out),
                      0);
        }
    }
}

TEST(CurveKeys, SelfTestCoversEd25519) {
    EXPECT_EQ(kvclm_TestCorruptSelfTest(6, 0), KVCLM_E_NOT_READY);
    KVCLM_PRIVATE_KEY none = nullptr;
    EXPECT_EQ(kvclm_CurveKeyGenerate(&none, KVCLM_KEY_ED25519, 256, 0), KVCLM_E_NOT_READY);
    EXPECT_EQ(kvclm_TestCorruptSelfTest(0, 0), 0);
}

}  // namespace
}  // namespace kvtest
