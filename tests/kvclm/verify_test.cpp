// SSH signatures checked with a public key alone, as the agent checks a certificate's CA
// signature: each key type's own signatures verify, and a changed bit, other data, another
// algorithm's name or bytes after the signature do not.
#include <gtest/gtest.h>

#include "tests/kvclm/kvclm_test_support.h"
#include "tests/support/openssl_check.h"

namespace kvtest {
namespace {

Bytes SshSignature(std::string_view algorithm, const Bytes& raw) {
    Bytes blob;
    PutString(&blob, ToBytes(algorithm));
    PutString(&blob, raw);
    return blob;
}

int Verify(const Bytes& publicBlob, const Bytes& data, const Bytes& signature) {
    KVCLM_PUBLIC_KEY pub = nullptr;
    if (kvclm_PublicKeyImport(&pub, publicBlob.data(),
                              static_cast<std::uint32_t>(publicBlob.size()), 0, 0) != 0)
        return -1;
    const PublicKey owner(pub);
    return kvclm_PublicKeyVerifySsh(pub, 0, data.data(), static_cast<std::uint32_t>(data.size()),
                                    signature.data(), static_cast<std::uint32_t>(signature.size()),
                                    0);
}

// PKCS#1 v1.5 over SHA-256 or SHA-512, through the module's raw signature of a DigestInfo.
Bytes SignRsaSha2(KVCLM_PRIVATE_KEY key, const Bytes& data, bool sha512) {
    Bytes info = Unhex(sha512 ? "3051300d060960864801650304020305000440"
                              : "3031300d060960864801650304020105000420");
    const Bytes digest = kv::test::Digest(sha512 ? EVP_sha512() : EVP_sha256(), data);
    info.insert(info.end(), digest.begin(), digest.end());
    return SignRsa(key, info, false, false);
}

TEST(VerifySsh, EachKeyTypesSignaturesVerifyAndNothingElseDoes) {
    const Bytes data = ToBytes("the body of a certificate");
    struct Case {
        KVCLM_PRIVATE_KEY key;
        std::string algorithm;
        Bytes raw;
        std::string other;  // an algorithm name that is not this signature's
    };
    const PrivateKey ed = GenerateCurve(KVCLM_KEY_ED25519, 256),
                     p256 = GenerateCurve(KVCLM_KEY_ECDSA, 256),
                     p384 = GenerateCurve(KVCLM_KEY_ECDSA, 384),
                     p521 = GenerateCurve(KVCLM_KEY_ECDSA, 521);
    const KVCLM_PRIVATE_KEY rsa = SharedKey(KVCLM_KEY_RSA, 1024);
    const KVCLM_PRIVATE_KEY dss = SharedKey(KVCLM_KEY_DSS, 1024);
    const std::vector<Case> cases = {
        {ed.get(), "ssh-ed25519", SignSsh(ed.get(), data), "ssh-rsa"},
        {p256.get(), "ecdsa-sha2-nistp256", SignSsh(p256.get(), data), "ecdsa-sha2-nistp384"},
        {p384.get(), "ecdsa-sha2-nistp384", SignSsh(p384.get(), data), "ecdsa-sha2-nistp256"},
        {p521.get(), "ecdsa-sha2-nistp521", SignSsh(p521.get(), data), "ssh-ed25519"},
        {rsa, "ssh-rsa", SignRsa(rsa, data, true, false), "rsa-sha2-256"},
        {rsa, "rsa-sha2-256", SignRsaSha2(rsa, data, false), "rsa-sha2-512"},
        {rsa, "rsa-sha2-512", SignRsaSha2(rsa, data, true), "ssh-rsa"},
        {dss, "ssh-dss", SignDss(dss, data), "ssh-rsa"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.algorithm);
        ASSERT_FALSE(c.raw.empty());
        const Bytes blob = PublicBlob(c.key);
        EXPECT_EQ(Verify(blob, data, SshSignature(c.algorithm, c.raw)), KVCLM_OK);

        Bytes flipped = c.raw;
        flipped[flipped.size() / 2] ^= 0x01;
        EXPECT_EQ(Verify(blob, data, SshSignature(c.algorithm, flipped)), KVCLM_E_BAD_SIGNATURE);
        EXPECT_EQ(Verify(blob, ToBytes("other data"), SshSignature(c.algorithm, c.raw)),
                  KVCLM_E_BAD_SIGNATURE);
        EXPECT_EQ(Verify(blob, data, SshSignature(c.other, c.raw)), KVCLM_E_BAD_SIGNATURE);
        Bytes trailing = SshSignature(c.algorithm, c.raw);
        trailing.push_back(0);
        EXPECT_EQ(Verify(blob, data, trailing), KVCLM_E_BAD_SIGNATURE);
        EXPECT_EQ(Verify(blob, data, Bytes{0, 0, 0}), KVCLM_E_BAD_SIGNATURE);
    }
}

}  // namespace
}  // namespace kvtest
