// Key files exchanged with the real tools at test time: ssh-keygen and puttygen read what the
// agent writes, and the agent (and kvsshaa-client add) reads what they write.
#include <gtest/gtest.h>

#include <string>

#include "client/key_input.h"
#include "keys/key_registry_layout.h"
#include "keys/ssh2_key_file.h"
#include "tests/client/keyfile_test_support.h"
#include "tests/support/temp_dir.h"

namespace kv {
namespace {

using test::AsBytes;
using test::Quote;
using test::Shell;

// 59 bytes, then an "é" whose two bytes puttygen puts on either side of its first wrap.
const std::string kLongComment = std::string(59, 'a') + "\xC3\xA9 and a tail: long enough to wrap";

class KeyFileInterop : public ::testing::Test {
  protected:
    void SetUp() override {
        test::UseBuiltModule();
        test::RequireTools();
    }
    std::string File(const std::string& name) const { return m_dir.Path() + "/" + name; }

    // An RSA key made by ssh-keygen, unprotected, with its OpenSSH public blob.
    Bytes MakeToolKey(const std::string& key, const std::string& comment) {
        EXPECT_EQ(
            Shell("ssh-keygen -q -t rsa -b 2048 -N '' -C " + Quote(comment) + " -f " + Quote(key)),
            0);
        return test::BlobOfOpenSshLine(test::ReadText(key + ".pub"));
    }
    std::string PassphraseFile(const std::string& text) {
        test::WriteText(File("pass"), text + "\n");
        return File("pass");
    }

    TempDir m_dir;
};

TEST_F(KeyFileInterop, SshKeygenImportsOurPublicFiles) {
    for (const int type : {KVCLM_KEY_RSA, KVCLM_KEY_DSS}) {
        KeyPair pair;
        pair.SetBlob(test::PublicBlobOf(test::SharedKey(type, 1024)));
        pair.SetComment("agent export");
        ASSERT_TRUE(WritePublicKeyFile(pair, File("ours.pub")));
        std::string line;
        ASSERT_EQ(Shell("ssh-keygen -i -f " + Quote(File("ours.pub")), &line), 0);
        EXPECT_EQ(test::BlobOfOpenSshLine(line), pair.Blob()) << line;
    }
}

TEST_F(KeyFileInterop, BothToolsReadOurPublicFilesWithTheLongestComment) {
    // As long as a stored comment gets; its last characters span two bytes each.
    std::string comment = std::string(1010, 'a');
    while (comment.size() + 2 < kMaxTextSize) comment += "\xC3\xA9";
    KeyPair pair;
    pair.SetBlob(test::PublicBlobOf(test::SharedKey(KVCLM_KEY_RSA, 1024)));
    pair.SetComment(comment);
    ASSERT_EQ(pair.Comment(), comment);
    ASSERT_TRUE(WritePublicKeyFile(pair, File("long.pub")));
    std::string line;
    ASSERT_EQ(Shell("ssh-keygen -i -f " + Quote(File("long.pub")), &line), 0);
    EXPECT_EQ(test::BlobOfOpenSshLine(line), pair.Blob()) << line;
    ASSERT_EQ(
        Shell("puttygen " + Quote(File("long.pub")) + " -O public-openssh -o /dev/stdout", &line),
        0);
    EXPECT_EQ(test::BlobOfOpenSshLine(line), pair.Blob()) << line;
    // The comment is cut where a whole character ends.
    KeyPair read = KeyPair::ForPublicKeyFile(File("long.pub"));
    ASSERT_TRUE(ReadPublicKeyFile(read));
    EXPECT_EQ(read.Comment(), std::string(1010, 'a'));
}

TEST_F(KeyFileInterop, ReadsPublicFilesOfSshKeygenAndPuttygen) {
    const Bytes blob = MakeToolKey(File("id"), "tool \"key\" \\ " + kLongComment);
    ASSERT_FALSE(blob.empty());
    // ssh-keygen -e: 70-character lines and a comment of its own.
    ASSERT_EQ(Shell("ssh-keygen -e -f " + Quote(File("id")) + " > " + Quote(File("e.pub"))), 0);
    KeyPair fromSshKeygen = KeyPair::ForPublicKeyFile(File("e.pub"));
    ASSERT_TRUE(ReadPublicKeyFile(fromSshKeygen));
    EXPECT_EQ(fromSshKeygen.Blob(), blob);
    EXPECT_TRUE(fromSshKeygen.Comment().starts_with("2048-bit RSA, converted by"));

    // puttygen: 64-character lines, the comment unwrapped with quote and backslash escaped.
    ASSERT_EQ(Shell("puttygen " + Quote(File("id")) + " -O public -o " + Quote(File("p.pub"))), 0);
    KeyPair fromPuttygen = KeyPair::ForPublicKeyFile(File("p.pub"));
    ASSERT_TRUE(ReadPublicKeyFile(fromPuttygen));
    EXPECT_EQ(fromPuttygen.Blob(), blob);
    EXPECT_EQ(fromPuttygen.Comment(), "tool key  " + kLongComment);
    EXPECT_EQ(ReadPublicKeyBlob(File("p.pub")), blob) << "kvsshaa-client add";
    EXPECT_EQ(ReadPublicKeyBlob(File("id.pub")), blob) << "kvsshaa-client add";
}

TEST_F(KeyFileInterop, OurPlainPrivateFileConvertsWithTheToolsArmor) {
    const PrivateKey& key = test::SharedKey(KVCLM_KEY_RSA, 1024);
    PrivateKeyBlob stored;
    stored.SetBlob(test::PlainContainerOf(key));
    stored.SetComment("agent key");
    ASSERT_TRUE(WritePrivateKeyFile(stored, File("ours"), {}, {}));
    std::string text = test::ReadText(File("ours"));
    // The tools know only the ENCRYPTED armor (they read the cipher name "none" inside).
    for (const char* edge : {"BEGIN", "END"}) {
        const std::string plain = std::string("---- ") + edge + " SSH2 PRIVATE KEY ----";
        ASSERT_NE(text.find(plain), std::string::npos);
        text.replace(text.find(plain), plain.size(),
                     std::string("---- ") + edge + " SSH2 ENCRYPTED PRIVATE KEY ----");
    }
    test::WriteText(File("rewrapped"), text);
    ASSERT_EQ(Shell("puttygen " + Quote(File("rewrapped")) + " -O private-openssh -o " +
                    Quote(File("openssh")) + " --old-passphrase /dev/null"),
              0);
    std::string line;
    ASSERT_EQ(Shell("ssh-keygen -y -f " + Quote(File("openssh")), &line), 0);
    EXPECT_EQ(test::BlobOfOpenSshLine(line), test::PublicBlobOf(key));
}

TEST_F(KeyFileInterop, ReadsAndOpensPuttygenPrivateFiles) {
    const Bytes blob = MakeToolKey(File("id"), kLongComment);
    const std::string pass = PassphraseFile("pass phrase");
    ASSERT_EQ(Shell("puttygen " + Quote(File("id")) + " -O private-sshcom -o " +
                    Quote(File("plain.sshcom"))),
              0);
    ASSERT_EQ(Shell("puttygen " + Quote(File("id")) + " -O private-sshcom -o " +
                    Quote(File("enc.sshcom")) + " --new-passphrase " + Quote(pass)),
              0);
    KeyPair pair;
    pair.SetBlob(blob);
    for (const char* name : {"plain.sshcom", "enc.sshcom"}) {
        const bool isProtected = name[0] == 'e';
        PrivateKeyBlob read = PrivateKeyBlob::ForFile(File(name));
        ASSERT_TRUE(ReadPrivateKeyFile(read)) << name;
        EXPECT_EQ(read.Comment(), kLongComment) << "the wrap splits the UTF-8 character";
        EXPECT_TRUE(read.Matches(pair, AsBytes(isProtected ? "pass phrase" : "")));
        EXPECT_EQ(read.OpensWithPassphrase({}), !isProtected);
    }
}

TEST_F(KeyFileInterop, ClientSendsPrivateKeysUnprotected) {
    const Bytes blob = MakeToolKey(File("id"), "c");
    ASSERT_EQ(Shell("puttygen " + Quote(File("id")) + " -O private-sshcom -o " +
                    Quote(File("enc")) + " --new-passphrase " + Quote(PassphraseFile("secret"))),
              0);
    std::string error;
    const auto passphrase = ReadPassphraseFile(File("pass"));
    ASSERT_TRUE(passphrase);
    EXPECT_EQ(test::AsString(*passphrase), "secret");
    const auto plain = ReadPrivateKeyForAdd(File("enc"), passphrase, error);
    ASSERT_TRUE(plain) << error;
    PrivateKeyBlob sent;
    sent.SetBlob(*plain);
    KeyPair pair;
    pair.SetBlob(blob);
    EXPECT_TRUE(sent.Matches(pair, {}));

    EXPECT_FALSE(ReadPrivateKeyForAdd(File("enc"), ToSecureBytes("wrong"), error));
    EXPECT_NE(error.find("wrong passphrase"), std::string::npos) << error;
    EXPECT_FALSE(ReadPrivateKeyForAdd(File("enc"), std::nullopt, error));
    EXPECT_NE(error.find("--passphrase-file"), std::string::npos) << error;
    // A plain container goes out as read; one the module cannot make sense of is refused
    // here, with the file's name, rather than by the agent without one.
    test::WriteText(File("raw"), test::AsString(*plain));
    const auto raw = ReadPrivateKeyForAdd(File("raw"), std::nullopt, error);
    ASSERT_TRUE(raw) << error;
    EXPECT_EQ(*raw, *plain);
    test::WriteText(File("garbage"), "not a container");
    EXPECT_FALSE(ReadPrivateKeyForAdd(File("garbage"), std::nullopt, error));
    EXPECT_NE(error.find(File("garbage")), std::string::npos) << error;
    test::WriteText(File("broken"), "---- BEGIN SSH2 ENCRYPTED PRIVATE KEY ----\nQUJD\n");
    EXPECT_FALSE(ReadPrivateKeyForAdd(File("broken"), std::nullopt, error));
    // Not a key with a composite factor, which the agent does not test on its way in.
    test::WriteText(File("composite"), test::kCompositeFactorPrivateFile);
    for (const std::optional<SecureBytes>& passphrase :
         {std::optional<SecureBytes>(), std::optional<SecureBytes>(ToSecureBytes("any"))}) {
        EXPECT_FALSE(ReadPrivateKeyForAdd(File("composite"), passphrase, error));
        EXPECT_NE(error.find("numbers are not sound"), std::string::npos) << error;
    }
}

}  // namespace
}  // namespace kv
