// Private and public keys through the built module: generation, the container round trips,
// signing and decryption, and the pairing check. The cryptography itself is the module's
// tests' business; these check that the wrappers pass the right things and keep the results.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <stdexcept>

#include "cryptomodule/base64.h"
#include "cryptomodule/key_generation.h"
#include "cryptomodule/private_key.h"
#include "cryptomodule/public_key.h"
#include "tests/cryptomodule/test_module.h"

namespace kv {
namespace {

using test::AsBytes;

struct GeneratedKey {
    int type;
    std::uint32_t bits;
    PrivateKey key;
};

// Generated once for every test here: DSA parameters take a while.
struct GeneratedKeys {
    GeneratedKey rsa{KVCLM_KEY_RSA, 1024, {}};
    GeneratedKey dss{KVCLM_KEY_DSS, 1024, {}};
    bool ok = false;
};

const GeneratedKeys& Generated() {
    static const GeneratedKeys keys = [] {
        GeneratedKeys made;
        if (!test::BuiltModule().IsAvailable()) return made;
        auto rsa = GenerateRsaKey(1024);
        auto dss = GenerateDssKey(1024);
        made.ok = rsa.ok() && dss.ok();
        made.rsa.key = std::move(rsa.value);
        made.dss.key = std::move(dss.value);
        return made;
    }();
    return keys;
}

Bytes PublicBlob(const PrivateKey& key) {
    auto pub = key.DerivePublic();
    EXPECT_TRUE(pub.ok()) << pub.code;
    auto blob = pub.value.Export();
    EXPECT_TRUE(blob.ok()) << blob.code;
    return blob.value;
}

class GeneratedKeyTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(Generated().ok) << "generation failed: " << test::BuiltModule().LoadError();
    }
    static const GeneratedKey& Rsa() { return Generated().rsa; }
    static const GeneratedKey& Dss() { return Generated().dss; }
};

class Keys : public GeneratedKeyTest, public ::testing::WithParamInterface<int> {
  protected:
    static const GeneratedKey& Param() { return GetParam() == KVCLM_KEY_RSA ? Rsa() : Dss(); }
    static const GeneratedKey& Other() { return GetParam() == KVCLM_KEY_RSA ? Dss() : Rsa(); }
};

TEST_P(Keys, InfoNamesTheKey) {
    auto info = Param().key.GetInfo();
    ASSERT_TRUE(info.ok()) << info.code;
    EXPECT_EQ(info.value.type, Param().type);
    EXPECT_EQ(info.value.algorithm, Param().type == KVCLM_KEY_RSA ? "RSA" : "DSA");
    EXPECT_EQ(info.value.bits, Param().bits);

    auto pub = Param().key.DerivePublic();
    ASSERT_TRUE(pub.ok());
    auto pubInfo = pub.value.GetInfo();
    ASSERT_TRUE(pubInfo.ok());
    EXPECT_EQ(pubInfo.value.algorithm, info.value.algorithm);
    EXPECT_EQ(pubInfo.value.bits, info.value.bits);
}

TEST_P(Keys, PlainContainerRoundTrip) {
    auto plain = Param().key.ExportPlain();
    ASSERT_TRUE(plain.ok()) << plain.code;
    ASSERT_GT(plain.value.size(), 16u);
    auto back = PrivateKey::Import(plain.value);
    ASSERT_TRUE(back.ok()) << back.code;
    EXPECT_EQ(PublicBlob(back.value), PublicBlob(Param().key));
    // A plain container opens whatever passphrase comes with it.
    EXPECT_TRUE(PrivateKey::Import(plain.value, AsBytes("ignored")).ok());

    SecureBytes cut(plain.value.begin(), plain.value.end() - 1);
    EXPECT_EQ(PrivateKey::Import(cut).code, KVCLM_E_BAD_FORMAT);
}

TEST_P(Keys, ProtectedContainerNeedsTheRightPassphrase) {
    const SecureBytes passphrase = ToSecureBytes("correct horse");
    auto sealed = Param().key.ExportProtected(passphrase);
    ASSERT_TRUE(sealed.ok()) << sealed.code;

    EXPECT_EQ(PrivateKey::Import(sealed.value).code, KVCLM_E_NEED_PASSPHRASE);
    EXPECT_EQ(PrivateKey::Import(sealed.value, AsBytes("correct hors")).code,
              KVCLM_E_BAD_PASSPHRASE);
    auto opened = PrivateKey::Import(sealed.value, passphrase);
    ASSERT_TRUE(opened.ok()) << opened.code;
    EXPECT_EQ(PublicBlob(opened.value), PublicBlob(Param().key));

    // The agent drops what the module remembers when it locks; open keys stay usable.
    EXPECT_EQ(test::BuiltModule().ForgetSecrets(), KVCLM_OK);
    EXPECT_TRUE(opened.value.GetInfo().ok());
    EXPECT_TRUE(PrivateKey::Import(sealed.value, passphrase).ok());
    EXPECT_FALSE(Param().key.ExportProtected({}).ok()) << "no protection without a passphrase";
}

TEST_P(Keys, PublicBlobRoundTripAndPairing) {
    const Bytes blob = PublicBlob(Param().key);
    const std::string name = Param().type == KVCLM_KEY_RSA ? "ssh-rsa" : "ssh-dss";
    ASSERT_GT(blob.size(), 4 + name.size());
    EXPECT_EQ(std::string(blob.begin() + 4, blob.begin() + 4 + name.size()), name);

    auto pub = PublicKey::Import(blob);
    ASSERT_TRUE(pub.ok()) << pub.code;
    auto again = pub.value.Export();
    ASSERT_TRUE(again.ok());
    EXPECT_EQ(again.value, blob);

    auto match = Param().key.VerifyPair(pub.value);
    ASSERT_TRUE(match.ok()) << match.code;
    EXPECT_TRUE(match.value);
    auto otherPub = Other().key.DerivePublic();
    ASSERT_TRUE(otherPub.ok());
    auto mismatch = Param().key.VerifyPair(otherPub.value);
    EXPECT_FALSE(mismatch.ok() && mismatch.value);

    Bytes trailing = blob;
    trailing.push_back(0);
    EXPECT_FALSE(PublicKey::Import(trailing).ok());
    EXPECT_FALSE(PublicKey::Import({}).ok());
}

TEST_P(Keys, MovedKeysAreReleasedOnce) {
    auto copy = PrivateKey::Import(Param().key.ExportPlain().value);
    ASSERT_TRUE(copy.ok());
    PrivateKey moved = std::move(copy.value);
    EXPECT_FALSE(copy.value.IsValid());
    EXPECT_EQ(copy.value.GetInfo().code, KVCLM_E_BAD_PARAM);
    PrivateKey target;
    target = std::move(moved);
    PrivateKey& alias = target;
    target = std::move(alias);  // self-move keeps the key
    EXPECT_TRUE(target.GetInfo().ok());
    target.Reset();
    EXPECT_FALSE(target.IsValid());
}

INSTANTIATE_TEST_SUITE_P(BothTypes, Keys, ::testing::Values(KVCLM_KEY_RSA, KVCLM_KEY_DSS),
                         [](const auto& info) {
                             return std::string(info.param == KVCLM_KEY_RSA ? "Rsa" : "Dss");
                         });

using Signing = GeneratedKeyTest;

TEST_F(Signing, RsaSignaturesAreAsLongAsTheModulus) {
    const PrivateKey& key = Rsa().key;
    auto info = key.GetInfo();
    ASSERT_TRUE(info.ok());
    const std::uint32_t room = PrivateKey::SignatureCapacity(info.value);
    EXPECT_EQ(room, 256u);

    auto first = key.Sign(KVCLM_SIGN_RSA_PKCS1, {}, AsBytes("data one"), room);
    auto same = key.Sign(KVCLM_SIGN_RSA_PKCS1, {}, AsBytes("data one"));
    auto other = key.Sign(KVCLM_SIGN_RSA_PKCS1, {}, AsBytes("data two"), 1);
    ASSERT_TRUE(first.ok() && same.ok() && other.ok()) << first.code << same.code << other.code;
    EXPECT_EQ(first.value.size(), 128u);
    EXPECT_EQ(first.value, same.value) << "PKCS#1 v1.5 signatures are deterministic";
    EXPECT_NE(first.value, other.value);
    EXPECT_EQ(other.value.size(), 128u) << "a short room is grown to the module's size";

    // Prehashed: the caller's DigestInfo is padded as given.
    const std::string digestInfo(51, '\x42');
    auto raw = key.Sign(KVCLM_SIGN_RSA_PKCS1, {.hashFirst = false}, AsBytes(digestInfo), room);
    ASSERT_TRUE(raw.ok()) << raw.code;
    EXPECT_EQ(raw.value.size(), 128u);
    auto md5 = key.Sign(KVCLM_SIGN_RSA_PKCS1, {.md5 = true}, AsBytes("data one"), room);
    ASSERT_TRUE(md5.ok()) << md5.code;
    EXPECT_NE(md5.value, first.value) << "the MD5 flag reaches the module";
}

TEST_F(Signing, DssSignaturesAreFortyBytes) {
    auto first = Dss().key.Sign(KVCLM_SIGN_DSS, {}, AsBytes("data"), KVCLM_DSS_SIGNATURE_SIZE);
    auto second = Dss().key.Sign(KVCLM_SIGN_DSS, {}, AsBytes("data"));
    ASSERT_TRUE(first.ok() && second.ok()) << first.code << " " << second.code;
    EXPECT_EQ(first.value.size(), 40u);
    EXPECT_EQ(second.value.size(), 40u);
}

TEST_F(Signing, WrongModeOrKeyFailsCleanly) {
    EXPECT_FALSE(Rsa().key.Sign(KVCLM_SIGN_DSS, {}, AsBytes("x"), 256).ok());
    EXPECT_FALSE(Dss().key.Sign(KVCLM_SIGN_RSA_PKCS1, {}, AsBytes("x"), 40).ok());
    EXPECT_FALSE(Rsa().key.Sign(99, {}, AsBytes("x")).ok());
    EXPECT_EQ(Dss().key.Decrypt(AsBytes("x")).code, KVCLM_E_WRONG_KEY_TYPE);
    const std::string garbage(128, '\x01');
    auto bad = Rsa().key.Decrypt(AsBytes(garbage));
    EXPECT_FALSE(bad.ok());
    EXPECT_TRUE(bad.value.empty());
    EXPECT_EQ(PrivateKey().Sign(KVCLM_SIGN_DSS, {}, AsBytes("x")).code, KVCLM_E_BAD_PARAM);
}

// Encrypts with the public half using OpenSSH's and OpenSSL's command-line tools.
bool EncryptWithTools(const Bytes& publicBlob, const std::string& message, Bytes& cipher) {
    if (std::system("command -v ssh-keygen >/dev/null && command -v openssl >/dev/null") != 0) {
        return false;
    }
    char dirTemplate[] = "/tmp/kv-cm-XXXXXX";
    if (mkdtemp(dirTemplate) == nullptr) return false;
    const std::filesystem::path dir(dirTemplate);
    auto text = Base64::Encode(publicBlob, 0);
    if (!text.ok()) return false;
    std::ofstream(dir / "key.pub") << "ssh-rsa " << text.value << "\n";
    std::ofstream(dir / "message", std::ios::binary) << message;
    const std::string d = dir.string();
    const std::string command = "ssh-keygen -e -m PKCS8 -f " + d + "/key.pub > " + d +
                                "/key.pem 2>/dev/null && openssl pkeyutl -encrypt -pubin -inkey " +
                                d + "/key.pem -pkeyopt rsa_padding_mode:pkcs1 -in " + d +
                                "/message -out " + d + "/cipher 2>/dev/null";
    const bool ran = std::system(command.c_str()) == 0;
    if (ran) {
        std::ifstream in(dir / "cipher", std::ios::binary);
        cipher.assign(std::istreambuf_iterator<char>(in), {});
    }
    std::filesystem::remove_all(dir);
    return ran && !cipher.empty();
}

TEST_F(Signing, DecryptRecoversWhatThePublicHalfEncrypted) {
    Bytes cipher;
    const std::string message = "32 bytes of challenge material!!";
    if (!EncryptWithTools(PublicBlob(Rsa().key), message, cipher)) {
        GTEST_SKIP() << "ssh-keygen or openssl missing";
    }
    auto plain = Rsa().key.Decrypt(cipher);
    ASSERT_TRUE(plain.ok()) << plain.code;
    EXPECT_EQ(std::string(plain.value.begin(), plain.value.end()), message);
}

TEST(Generation, ProgressCanCancel) {
    ASSERT_TRUE(test::BuiltModule().IsAvailable());
    std::atomic<int> calls = 0;
    auto cancelled = GenerateRsaKey(3072, [&](int) { return ++calls < 2; });
    EXPECT_EQ(cancelled.code, KVCLM_E_CANCELLED);
    EXPECT_FALSE(cancelled.value.IsValid());
    EXPECT_GE(calls.load(), 2);

    // A progress function that throws stops the generation instead of unwinding the module.
    auto thrown = GenerateRsaKey(3072, [](int) -> bool { throw std::runtime_error("stop"); });
    EXPECT_EQ(thrown.code, KVCLM_E_CANCELLED);
}

TEST(Generation, UnsupportedSizesFail) {
    ASSERT_TRUE(test::BuiltModule().IsAvailable());
    auto odd = GenerateRsaKey(1000);
    EXPECT_FALSE(odd.ok());
    EXPECT_FALSE(odd.value.IsValid());
    EXPECT_FALSE(GenerateDssKey(512).ok());
}

}  // namespace
}  // namespace kv
