// Keys made by the module survive plain and protected export, sign correctly as OpenSSL sees
// it, and open only with the right passphrase.
#include <gtest/gtest.h>

#include <cstring>

#include "tests/kvclm/kvclm_test_support.h"

using namespace kvtest;

namespace {

struct KeyCase {
    int type;
    std::uint32_t bits;
};

std::string CaseName(const ::testing::TestParamInfo<KeyCase>& info) {
    return std::string(info.param.type == KVCLM_KEY_RSA ? "Rsa" : "Dsa") +
           std::to_string(info.param.bits);
}

class KeyRoundTrip : public ::testing::TestWithParam<KeyCase> {
  protected:
    KVCLM_PRIVATE_KEY Key() { return SharedKey(GetParam().type, GetParam().bits); }

    void ExpectSignsFor(KVCLM_PRIVATE_KEY key, const Bytes& publicBlob) {
        const Bytes data = ToBytes("session id and user auth request");
        if (GetParam().type == KVCLM_KEY_DSS) {
            EXPECT_TRUE(VerifyDss(publicBlob, data, SignDss(key, data)));
        } else {
            EXPECT_TRUE(VerifyRsa(publicBlob, data, SignRsa(key, data, true, false), EVP_sha1()));
        }
    }
};

}  // namespace

TEST_P(KeyRoundTrip, KeyInfoDescribesTheKey) {
    const KeyInfo info = InfoOf(Key());
    EXPECT_EQ(info.type, static_cast<std::uint32_t>(GetParam().type));
    EXPECT_STREQ(info.algorithm, GetParam().type == KVCLM_KEY_RSA ? "RSA" : "DSA");
    EXPECT_EQ(info.bits, GetParam().bits);
    KVCLM_PUBLIC_KEY pub = nullptr;
    ASSERT_EQ(kvclm_PrivateKeyDerivePublic(&pub, Key(), 0), 0);
    PublicKey owner(pub);
    KeyInfo pubInfo{KVCLM_KEYINFO_SIZE, KVCLM_KEYINFO_MAGIC, 9, {}, 0, {}};
    ASSERT_EQ(kvclm_PublicKeyGetData(pub, KVCLM_INFO_LEVEL, &pubInfo, 0), 0);
    EXPECT_EQ(std::memcmp(&pubInfo, &info, sizeof(info)), 0);
}

TEST_P(KeyRoundTrip, PlainExportImportsToTheSameKeyAndIsDeterministic) {
    Bytes blob, again;
    ASSERT_EQ(ExportPlain(Key(), &blob), 0);
    PrivateKey imported;
    ASSERT_EQ(Import("", blob, &imported), 0);
    const Bytes pub = PublicBlob(Key());
    EXPECT_EQ(PublicBlob(imported.get()), pub);
    ASSERT_EQ(ExportPlain(imported.get(), &again), 0);
    EXPECT_EQ(again, blob);
    ExpectSignsFor(imported.get(), pub);
    // A passphrase given for a plain container is not needed and does not hurt.
    PrivateKey withPass;
    EXPECT_EQ(Import("unused", blob, &withPass), 0);
}

TEST_P(KeyRoundTrip, ProtectedExportOpensOnlyWithItsPassphrase) {
    Bytes blob, second;
    ASSERT_EQ(ExportProtected(Key(), "correct horse", &blob), 0);
    ASSERT_EQ(ExportProtected(Key(), "correct horse", &second), 0);
    EXPECT_NE(blob, second);  // fresh salt and nonce every time
    PrivateKey imported;
    ASSERT_EQ(Import("correct horse", blob, &imported), 0);
    EXPECT_EQ(PublicBlob(imported.get()), PublicBlob(Key()));
    ExpectSignsFor(imported.get(), PublicBlob(Key()));
    for (const char* wrong : {"correct hors", "correct horsE", "correct horse ", "x"}) {
        PrivateKey bad;
        EXPECT_EQ(Import(wrong, blob, &bad), KVCLM_E_BAD_PASSPHRASE) << wrong;
        EXPECT_EQ(bad, nullptr);
    }
    PrivateKey none;
    EXPECT_EQ(Import("", blob, &none), KVCLM_E_NEED_PASSPHRASE);
}

INSTANTIATE_TEST_SUITE_P(
    Keys, KeyRoundTrip,
    ::testing::Values(KeyCase{KVCLM_KEY_RSA, 768}, KeyCase{KVCLM_KEY_RSA, 1024},
                      KeyCase{KVCLM_KEY_RSA, 2048}, KeyCase{KVCLM_KEY_DSS, 768},
                      KeyCase{KVCLM_KEY_DSS, 1024}, KeyCase{KVCLM_KEY_DSS, 2048}),
    CaseName);

TEST(Protected, CarriesOurCipherAndAtLeastTheIterationFloor) {
    Bytes blob;
    ASSERT_EQ(ExportProtected(SharedKey(KVCLM_KEY_DSS, 1024), "pw", &blob, 10000), 0);
    const std::string text(blob.begin(), blob.end());
    const std::string cipher = "aes256-gcm-pbkdf2-sha256@kvsshaa";
    const std::size_t at = text.find(cipher);
    ASSERT_NE(at, std::string::npos);
    const std::size_t it = at + cipher.size() + 4;  // past the cipher blob's length
    const std::uint32_t iterations =
        (std::uint32_t{blob[it]} << 24) | (blob[it + 1] << 16) | (blob[it + 2] << 8) | blob[it + 3];
    EXPECT_EQ(iterations, KVCLM_PBKDF2_MIN_ITERATIONS);
    EXPECT_EQ(text.find("if-modn"), std::string::npos);
    EXPECT_EQ(text.rfind("dl-modp{sign{dsa-nist-sha1},dh{plain}}", 20), 12u);
}

TEST(Protected, AnyChangedByteIsDetected) {
    Bytes blob;
    ASSERT_EQ(ExportProtected(SharedKey(KVCLM_KEY_RSA, 768), "pw", &blob), 0);
    for (std::size_t at : {std::size_t{9}, std::size_t{70}, std::size_t{110}, blob.size() / 2,
                           blob.size() - 20, blob.size() - 1}) {
        Bytes changed = blob;
        changed[at] ^= 0x01;
        PrivateKey key;
        EXPECT_NE(Import("pw", changed, &key), 0) << at;
        EXPECT_EQ(key, nullptr);
    }
}

TEST(Protected, ExportRecordIsChecked) {
    KVCLM_PRIVATE_KEY key = SharedKey(KVCLM_KEY_RSA, 768);
    const unsigned char pass[] = "pw";
    ExportParams p{KVCLM_EXPORT_PARAMS_SIZE, pass, 2, 1, 0, 10000, 0, 0, 4, 24, 0, 20};
    std::uint32_t n = 0;
    auto size = [&](const ExportParams* params, int plain) {
        n = 0;
        return kvclm_PrivateKeyExport(key, 2, 0, params, plain, nullptr, &n, 0);
    };
    EXPECT_EQ(size(&p, 0), KVCLM_E_SHORT_BUFFER);
    p.size = sizeof(ExportParams);
    EXPECT_EQ(size(&p, 0), KVCLM_E_SHORT_BUFFER);
    p.size = 44;
    EXPECT_EQ(size(&p, 0), KVCLM_E_BAD_RECORD);
    p.size = KVCLM_EXPORT_PARAMS_SIZE;
    p.passphraseLength = 0;
    EXPECT_EQ(size(&p, 0), KVCLM_E_BAD_PARAM);
    p.passphraseLength = 2;
    EXPECT_EQ(size(&p, 1), KVCLM_E_BAD_PARAM);
    EXPECT_EQ(size(nullptr, 0), KVCLM_E_BAD_PARAM);
    EXPECT_EQ(kvclm_PrivateKeyExport(key, 3, 0, nullptr, 1, nullptr, &n, 0), KVCLM_E_UNSUPPORTED);
}

TEST(Export, ShortBufferStoresTheSizeAndLeavesTheBufferAlone) {
    KVCLM_PRIVATE_KEY key = SharedKey(KVCLM_KEY_DSS, 1024);
    std::uint32_t n = 0;
    ASSERT_EQ(kvclm_PrivateKeyExport(key, 2, 0, nullptr, 1, nullptr, &n, 0), KVCLM_E_SHORT_BUFFER);
    Bytes out(n - 1, 0x5a);
    std::uint32_t shortN = n - 1;
    EXPECT_EQ(kvclm_PrivateKeyExport(key, 2, 0, nullptr, 1, out.data(), &shortN, 0),
              KVCLM_E_SHORT_BUFFER);
    EXPECT_EQ(shortN, n);
    EXPECT_EQ(out, Bytes(n - 1, 0x5a));
}

TEST(RsaSign, ModesAndSizes) {
    KVCLM_PRIVATE_KEY key = SharedKey(KVCLM_KEY_RSA, 1024);
    const Bytes pub = PublicBlob(key);
    const Bytes data = ToBytes("data to sign");
    EXPECT_TRUE(VerifyRsa(pub, data, SignRsa(key, data, true, true), EVP_md5()));

    // Hash-first clear: the caller's DigestInfo is padded as given, so SHA-256 works.
    Bytes digestInfo = Unhex("3031300d060960864801650304020105000420");
    Bytes digest(32);
    ASSERT_EQ(kvclm_HashOfBuffer(KVCLM_HASH_SHA256, data.data(), 12, digest.data(), 0), 0);
    digestInfo.insert(digestInfo.end(), digest.begin(), digest.end());
    EXPECT_TRUE(VerifyRsa(pub, data, SignRsa(key, digestInfo, false, false), EVP_sha256()));

    RsaSignParams p{
        KVCLM_RSA_SIGN_PARAMS_SIZE, KVCLM_RSA_SIGN_PARAMS_MAGIC, 1, 0, -1, -1, 0, 0, 4, 0};
    std::uint32_t n = 0;
    EXPECT_EQ(kvclm_PrivateKeySign(key, 2, &p, data.data(), 12, nullptr, &n, 0),
              KVCLM_E_SHORT_BUFFER);
    EXPECT_EQ(n, 128u);
    Bytes out(256);
    n = 256;  // the capacity callers give: bits / 4
    EXPECT_EQ(kvclm_PrivateKeySign(key, 2, &p, data.data(), 12, out.data(), &n, 0), 0);
    EXPECT_EQ(n, 128u);
    p.hashFirst = 0;
    Bytes tooLong(128 - 10);
    n = 256;
    EXPECT_EQ(kvclm_PrivateKeySign(key, 2, &p, tooLong.data(), 118, out.data(), &n, 0),
              KVCLM_E_DATA_SIZE);
    p.magic ^= 1;
    EXPECT_EQ(kvclm_PrivateKeySign(key, 2, &p, data.data(), 12, out.data(), &n, 0),
              KVCLM_E_BAD_RECORD);
    EXPECT_EQ(kvclm_PrivateKeySign(key, 2, nullptr, data.data(), 12, out.data(), &n, 0),
              KVCLM_E_BAD_PARAM);
    EXPECT_EQ(kvclm_PrivateKeySign(key, 1, nullptr, data.data(), 12, out.data(), &n, 0),
              KVCLM_E_WRONG_KEY_TYPE);
}

TEST(DssSign, NeedsFortyBytesAndADssKey) {
    KVCLM_PRIVATE_KEY key = SharedKey(KVCLM_KEY_DSS, 1024);
    const Bytes data;  // empty data is signed too
    EXPECT_TRUE(VerifyDss(PublicBlob(key), data, SignDss(key, data)));
    Bytes out(40);
    std::uint32_t n = 39;
    EXPECT_EQ(kvclm_PrivateKeySign(key, 1, nullptr, nullptr, 0, out.data(), &n, 0),
              KVCLM_E_SHORT_BUFFER);
    EXPECT_EQ(n, 40u);
    RsaSignParams p{
        KVCLM_RSA_SIGN_PARAMS_SIZE, KVCLM_RSA_SIGN_PARAMS_MAGIC, 1, 0, -1, -1, 0, 0, 4, 0};
    EXPECT_EQ(kvclm_PrivateKeySign(key, 2, &p, out.data(), 1, out.data(), &n, 0),
              KVCLM_E_WRONG_KEY_TYPE);
    EXPECT_EQ(kvclm_PrivateKeySign(SharedKey(KVCLM_KEY_RSA, 768), 1, nullptr, out.data(), 1,
                                   out.data(), &n, 0),
              KVCLM_E_WRONG_KEY_TYPE);
}

TEST(RsaDecrypt, RecoversWhatOpenSslEncryptedInTwoCalls) {
    KVCLM_PRIVATE_KEY key = SharedKey(KVCLM_KEY_RSA, 1024);
    const Bytes secret = ToBytes("32 bytes of ssh1 challenge data!");
    const Bytes cipher = RsaEncrypt(PublicBlob(key), secret);
    ASSERT_EQ(cipher.size(), 128u);
    std::uint32_t n = 0;
    ASSERT_EQ(kvclm_PrivateKeyDecrypt(key, 2, 0, cipher.data(), 128, nullptr, &n, 0),
              KVCLM_E_SHORT_BUFFER);
    ASSERT_EQ(n, secret.size());
    Bytes out(n);
    ASSERT_EQ(kvclm_PrivateKeyDecrypt(key, 2, 0, cipher.data(), 128, out.data(), &n, 0), 0);
    EXPECT_EQ(out, secret);
    Bytes tooLong(129, 1);
    EXPECT_EQ(kvclm_PrivateKeyDecrypt(key, 2, 0, tooLong.data(), 129, out.data(), &n, 0),
              KVCLM_E_DATA_SIZE);
    EXPECT_EQ(kvclm_PrivateKeyDecrypt(SharedKey(KVCLM_KEY_DSS, 1024), 2, 0, cipher.data(), 128,
                                      out.data(), &n, 0),
              KVCLM_E_WRONG_KEY_TYPE);
}

TEST(KeyPair, MatchesOnlyItsOwnPublicHalf) {
    KVCLM_PRIVATE_KEY a = SharedKey(KVCLM_KEY_RSA, 1024);
    KVCLM_PRIVATE_KEY b = SharedKey(KVCLM_KEY_RSA, 768);
    const Bytes blobA = PublicBlob(a);
    KVCLM_PUBLIC_KEY pub = nullptr;
    ASSERT_EQ(
        kvclm_PublicKeyImport(&pub, blobA.data(), static_cast<std::uint32_t>(blobA.size()), 0, 0),
        0);
    PublicKey owner(pub);
    int match = -1;
    EXPECT_EQ(kvclm_PKVerifyKeyPair(a, pub, &match, 0), 0);
    EXPECT_EQ(match, 1);
    EXPECT_EQ(kvclm_PKVerifyKeyPair(b, pub, &match, 0), 0);
    EXPECT_EQ(match, 0);
    EXPECT_EQ(kvclm_PKVerifyKeyPair(SharedKey(KVCLM_KEY_DSS, 1024), pub, &match, 0), 0);
    EXPECT_EQ(match, 0);
}
