// Private-key operations through Perform, checked against OpenSSL with the public key, and
// the passphrase operations on a private key container.
#include "keys/private_key_operation.h"

#include <gtest/gtest.h>

#include "keys/operation_name.h"
#include "res/string_ids.h"
#include "tests/keys/key_test_support.h"

namespace kv {
namespace {

using test::AsBytes;
using test::TestKey;

constexpr std::string_view kPass = "agent pass";
const std::string kMessage = "data to be signed";

TEST(OperationNameTest, RecognisesNamesAndOptions) {
    EXPECT_EQ(ParseOperationName("sign")->kind, OperationKind::Sign);
    EXPECT_EQ(ParseOperationName("hash-and-sign")->kind, OperationKind::HashAndSign);
    EXPECT_EQ(ParseOperationName("decrypt")->kind, OperationKind::Decrypt);
    EXPECT_EQ(ParseOperationName("ssh1-challenge-response")->kind,
              OperationKind::Ssh1ChallengeResponse);
    const auto all = ParseOperationName("hash-and-sign[md5,sha1,nist,pkcs1]");
    ASSERT_TRUE(all);
    EXPECT_TRUE(all->options.md5 && all->options.sha1 && all->options.nist && all->options.pkcs1);
    const auto open = ParseOperationName("sign[pkcs1");  // no closing bracket needed
    ASSERT_TRUE(open);
    EXPECT_TRUE(open->options.pkcs1);
    EXPECT_FALSE(open->options.md5);
    const auto empty = ParseOperationName("sign[");
    ASSERT_TRUE(empty);
    EXPECT_FALSE(empty->options.pkcs1 || empty->options.nist);
    // Options are found anywhere after "[", even inside other words.
    EXPECT_TRUE(ParseOperationName("decrypt[xmd5y]")->options.md5);
}

TEST(OperationNameTest, RejectsEverythingElseWithoutReadingPastTheText) {
    for (const std::string_view bad :
         {"", "signature", "sign]", "Sign", " sign", "hash-and-", "decrypt ", "ssh1-challenge",
          "ssh1-challenge-response[md5]", "ssh1-challenge-responsex", "[sign"}) {
        EXPECT_FALSE(ParseOperationName(bad)) << bad;
    }
    const std::string huge(10 * 1024, 'a');
    EXPECT_FALSE(ParseOperationName(huge));
    EXPECT_TRUE(ParseOperationName("sign[" + huge + "md5")->options.md5);
    // A client that counts the terminator into the field names the same operation.
    EXPECT_EQ(ParseOperationName(std::string("sign\0[md5", 9))->options.md5, false);
    EXPECT_TRUE(ParseOperationName(std::string("ssh1-challenge-response\0", 24)));
}

class PerformTest : public test::KeyTest {
  protected:
    OperationResult Run(TestKey which, std::string_view operation, std::span<const uint8_t> data,
                        std::string_view passphrase = kPass) {
        const PrivateKeyBlob blob = test::BlobFor(which, kPass, &owner);
        return Perform(blob, operation, "requester", AsBytes(passphrase), data, Context());
    }
    OperationContext Context() {
        return {m_settings, m_log,
                [this](const KeyPair* key, std::string_view op, std::string_view who) {
                    ++checks;
                    seen = std::string(op) + "|" + std::string(who);
                    EXPECT_EQ(key, &owner);
                    return allow;
                }};
    }
    const Bytes& Blob(TestKey which) { return test::Generated(which).public_blob; }

    KeyPair owner;
    bool allow = true;
    int checks = 0;
    std::string seen;
};

TEST_F(PerformTest, RsaSignPadsTheDataAsGivenAndHashAndSignHashesFirst) {
    const Bytes info = test::Sha1DigestInfo(AsBytes(kMessage));
    const OperationResult plain = Run(TestKey::Rsa1024, "sign", info);
    ASSERT_TRUE(plain.ok);
    EXPECT_EQ(plain.output.size(), 128u);
    EXPECT_EQ(test::RecoverRsa(Blob(TestKey::Rsa1024), plain.output), info);
    EXPECT_TRUE(test::VerifyRsa(Blob(TestKey::Rsa1024), "SHA1", AsBytes(kMessage), plain.output));
    EXPECT_EQ(seen, "sign|requester");

    const OperationResult hashed = Run(TestKey::Rsa2048, "hash-and-sign", AsBytes(kMessage));
    ASSERT_TRUE(hashed.ok);
    EXPECT_EQ(hashed.output.size(), 256u);
    EXPECT_TRUE(test::VerifyRsa(Blob(TestKey::Rsa2048), "SHA1", AsBytes(kMessage), hashed.output));
}

TEST_F(PerformTest, RsaOptionsChooseTheDigestOrRefuse) {
    const OperationResult md5 = Run(TestKey::Rsa1024, "hash-and-sign[md5]", AsBytes(kMessage));
    ASSERT_TRUE(md5.ok);
    EXPECT_TRUE(test::VerifyRsa(Blob(TestKey::Rsa1024), "MD5", AsBytes(kMessage), md5.output));
    const OperationResult sha1 =
        Run(TestKey::Rsa1024, "hash-and-sign[sha1,pkcs1]", AsBytes(kMessage));
    ASSERT_TRUE(sha1.ok);
    EXPECT_TRUE(test::VerifyRsa(Blob(TestKey::Rsa1024), "SHA1", AsBytes(kMessage), sha1.output));

    checks = 0;
    EXPECT_FALSE(Run(TestKey::Rsa1024, "sign[nist]", AsBytes(kMessage)).ok);
    EXPECT_FALSE(Run(TestKey::Rsa1024, "sign[md5,sha1]", AsBytes(kMessage)).ok);
    EXPECT_EQ(checks, 2);  // refused after the access check, as a policy would see them
}

TEST_F(PerformTest, DssSignsWithSha1WhateverTheModeAndRefusesPkcs1) {
    for (const char* op : {"sign", "hash-and-sign", "sign[nist]", "sign[md5]"}) {
        const OperationResult r = Run(TestKey::Dsa1024, op, AsBytes(kMessage));
        ASSERT_TRUE(r.ok) << op;
        EXPECT_EQ(r.output.size(), 40u);
        EXPECT_TRUE(test::VerifyDss(Blob(TestKey::Dsa1024), AsBytes(kMessage), r.output)) << op;
    }
    EXPECT_FALSE(Run(TestKey::Dsa1024, "sign[pkcs1]", AsBytes(kMessage)).ok);
    EXPECT_FALSE(Run(TestKey::Dsa1024, "sign[md5,sha1]", AsBytes(kMessage)).ok);
}

TEST_F(PerformTest, DecryptGivesThePlaintextForRsaOnly) {
    const std::string secret = "the session key";
    const Bytes sealed = test::EncryptRsa(Blob(TestKey::Rsa1024), AsBytes(secret));
    const OperationResult r = Run(TestKey::Rsa1024, "decrypt[md5]", sealed);  // options ignored
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(std::string(r.output.begin(), r.output.end()), secret);

    checks = 0;
    EXPECT_FALSE(Run(TestKey::Dsa1024, "decrypt", sealed).ok);
    EXPECT_EQ(checks, 1);  // the DSS key is refused only after the access check passed
    EXPECT_FALSE(Run(TestKey::Rsa1024, "decrypt", AsBytes("not a ciphertext")).ok);
}

TEST_F(PerformTest, FailuresBeforeTheAccessCheckAskNobody) {
    for (const std::string_view op : {"signature", "", "decryptx", "hash-and-sign]"}) {
        EXPECT_FALSE(Run(TestKey::Rsa1024, op, AsBytes(kMessage)).ok) << op;
    }
    EXPECT_FALSE(Run(TestKey::Rsa1024, "sign", AsBytes(kMessage), "wrong").ok);
    EXPECT_FALSE(Run(TestKey::Rsa1024, "sign", AsBytes(kMessage), "").ok);
    PrivateKeyBlob garbage(&owner);
    garbage.SetBlob(AsBytes("garbage"));
    EXPECT_FALSE(Perform(garbage, "sign", "r", AsBytes(kPass), AsBytes(kMessage), Context()).ok);
    EXPECT_EQ(checks, 0);
    EXPECT_TRUE(m_log.Entries().empty());
}

TEST_F(PerformTest, RefusalByTheAccessCheckFailsWithNoOutput) {
    allow = false;
    const OperationResult r = Run(TestKey::Rsa1024, "hash-and-sign", AsBytes(kMessage));
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.output.empty());
    EXPECT_EQ(checks, 1);
}

TEST_F(PerformTest, AnUnprotectedContainerOpensWithoutAPassphrase) {
    PrivateKeyBlob plain;
    plain.SetBlob(test::Container(TestKey::Rsa1024, ""));
    const OperationContext context{m_settings, m_log, {}};  // no policy: allowed
    EXPECT_TRUE(Perform(plain, "hash-and-sign", "r", {}, AsBytes(kMessage), context).ok);
}

class Ssh1Test : public PerformTest {
  protected:
    // Session id followed by the challenge encrypted to the RSA-1024 key.
    Bytes Request(const Bytes& challenge) {
        Bytes data(session_id.begin(), session_id.end());
        const Bytes sealed = test::EncryptRsa(Blob(TestKey::Rsa1024), challenge);
        data.insert(data.end(), sealed.begin(), sealed.end());
        return data;
    }
    Bytes Expected(const Bytes& challenge, std::size_t used) {
        Bytes input(challenge.begin(), challenge.begin() + used);
        input.insert(input.end(), session_id.begin(), session_id.end());
        return test::Digest("MD5", input);
    }
    const Bytes session_id = Bytes(16, 0x5A);
};

TEST_F(Ssh1Test, ResponseIsMd5OfAtMost32ChallengeBytesAndTheSessionId) {
    for (const std::size_t size : {20u, 32u, 40u}) {
        Bytes challenge(size);
        for (std::size_t i = 0; i < size; ++i) challenge[i] = static_cast<uint8_t>(i * 7 + 1);
        const OperationResult r =
            Run(TestKey::Rsa1024, "ssh1-challenge-response", Request(challenge));
        ASSERT_TRUE(r.ok) << size;
        EXPECT_EQ(Bytes(r.output.begin(), r.output.end()),
                  Expected(challenge, std::min<std::size_t>(size, 32)));
    }
    EXPECT_EQ(seen, "ssh1-challenge-response|requester");
}

TEST_F(Ssh1Test, TooShortDataFailsSilentlyAndLengthTwentyOneReachesTheSettings) {
    m_settings.SetFlag(IDS_SETTING_ALLOW_SSH1_ACCESS, false);
    EXPECT_FALSE(Run(TestKey::Rsa1024, "ssh1-challenge-response", Bytes(20, 1)).ok);
    EXPECT_TRUE(m_log.Entries().empty());
    EXPECT_FALSE(Run(TestKey::Rsa1024, "ssh1-challenge-response", Bytes(21, 1)).ok);
    EXPECT_EQ(Logged(),
              std::vector<std::string>{":" + std::string(" ignoring SSH1 authentication attempt "
                                                         "(configuration setting)")});
    EXPECT_EQ(checks, 0);
}

TEST_F(Ssh1Test, RefusedInFipsModeAndForKeysWithoutTheFlagBeforeAnyPrompt) {
    const Bytes data = Request(Bytes(32, 3));
    m_settings.SetFlag(IDS_SETTING_FIPS_MODE, true);
    EXPECT_FALSE(Run(TestKey::Rsa1024, "ssh1-challenge-response", data).ok);
    EXPECT_TRUE(LoggedText(" SSH1 operations are impossible in FIPS-restricted mode."));
    m_settings.SetFlag(IDS_SETTING_FIPS_MODE, false);
    owner.SetCompat(0);
    EXPECT_FALSE(Run(TestKey::Rsa1024, "ssh1-challenge-response", data).ok);
    EXPECT_TRUE(LoggedText(" attempted SSH1 operation on a key that does not allow it"));
    EXPECT_EQ(checks, 0);
    allow = false;
    owner.SetCompat(1);
    EXPECT_FALSE(Run(TestKey::Rsa1024, "ssh1-challenge-response", data).ok);
    EXPECT_EQ(checks, 1);
}

class PassphraseOperationsTest : public test::KeyTest {};

TEST_F(PassphraseOperationsTest, ReprotectMovesTheKeyToTheNewPassphraseOrChangesNothing) {
    PrivateKeyBlob blob = test::BlobFor(TestKey::Rsa1024, "old");
    const SecureBytes before = blob.Blob();
    EXPECT_FALSE(blob.Reprotect(AsBytes("wrong"), AsBytes("new")));
    EXPECT_EQ(blob.Blob(), before);
    ASSERT_TRUE(blob.Reprotect(AsBytes("old"), AsBytes("new")));
    EXPECT_TRUE(blob.OpensWithPassphrase(AsBytes("new")));
    EXPECT_FALSE(blob.OpensWithPassphrase(AsBytes("old")));

    // A client's plain key goes under the agent passphrase.
    PrivateKeyBlob plain = test::BlobFor(TestKey::Dsa1024, "");
    EXPECT_TRUE(plain.OpensWithPassphrase({}));
    ASSERT_TRUE(plain.Reprotect({}, AsBytes(kPass)));
    EXPECT_FALSE(plain.OpensWithPassphrase({}));
    EXPECT_TRUE(plain.OpensWithPassphrase(AsBytes(kPass)));
}

TEST_F(PassphraseOperationsTest, GeneratedKeysAreNeverStoredWithoutAPassphrase) {
    PrivateKeyBlob blob;
    EXPECT_FALSE(blob.ProtectGenerated(test::Generated(TestKey::Rsa1024).key, {}));
    EXPECT_TRUE(blob.Blob().empty());
    ASSERT_TRUE(blob.ProtectGenerated(test::Generated(TestKey::Rsa1024).key, AsBytes(kPass)));
    EXPECT_TRUE(blob.OpensWithPassphrase(AsBytes(kPass)));
    EXPECT_FALSE(blob.OpensWithPassphrase({}));
}

TEST_F(PassphraseOperationsTest, MatchesNeedsTheRightPassphraseAndTheRightPublicHalf) {
    const KeyPair rsa = test::PairFor(TestKey::Rsa1024);
    const KeyPair dsa = test::PairFor(TestKey::Dsa1024);
    const PrivateKeyBlob blob = test::BlobFor(TestKey::Rsa1024, kPass);
    EXPECT_TRUE(blob.Matches(rsa, AsBytes(kPass)));
    EXPECT_FALSE(blob.Matches(rsa, AsBytes("wrong")));
    EXPECT_FALSE(blob.Matches(dsa, AsBytes(kPass)));
    EXPECT_FALSE(blob.Matches(test::PairFor(TestKey::Rsa2048), AsBytes(kPass)));
    KeyPair broken;
    broken.SetBlob(AsBytes("not a blob"));
    EXPECT_FALSE(blob.Matches(broken, AsBytes(kPass)));
}

}  // namespace
}  // namespace kv
