// Key files written and read back through the module: exact bytes, round trips of both kinds,
// the file passphrase, and files that must be refused.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <string>

#include "client/key_input.h"
#include "keys/key_file_io.h"
#include "keys/ssh2_key_file.h"
#include "tests/client/keyfile_test_support.h"
#include "tests/support/temp_dir.h"

namespace kv {
namespace {

using test::AsBytes;

class KeyFileRoundTrip : public ::testing::Test {
  protected:
    void SetUp() override { test::UseBuiltModule(); }
    std::string File(const char* name) const { return m_dir.Path() + "/" + name; }

    // A stored private key: the container under the store passphrase.
    PrivateKeyBlob Stored(const PrivateKey& key, std::string_view comment) {
        PrivateKeyBlob blob;
        auto sealed = ProtectPrivateKey(key, AsBytes(kStore));
        EXPECT_TRUE(sealed);
        if (sealed) blob.SetBlob(*sealed);
        blob.SetComment(comment);
        return blob;
    }

    static constexpr std::string_view kStore = "store pass";
    TempDir m_dir;
};

Bytes Counting(std::size_t n) {
    Bytes bytes(n);
    for (std::size_t i = 0; i < n; ++i) bytes[i] = static_cast<std::uint8_t>(i);
    return bytes;
}

TEST_F(KeyFileRoundTrip, PublicFileIsWrittenByteForByte) {
    KeyPair pair;
    pair.SetBlob(Counting(45));
    pair.SetComment("work key");
    ASSERT_TRUE(WritePublicKeyFile(pair, File("a.pub")));
    EXPECT_EQ(test::ReadText(File("a.pub")),
              "---- BEGIN SSH2 PUBLIC KEY ----\nComment: \"work key\"\n"
              "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8gISIjJCUmJygpKiss\n"
              "---- END SSH2 PUBLIC KEY ----\n");
    pair.SetBlob(Counting(46));
    pair.SetComment("");
    ASSERT_TRUE(WritePublicKeyFile(pair, File("b.pub")));
    EXPECT_EQ(test::ReadText(File("b.pub")),
              "---- BEGIN SSH2 PUBLIC KEY ----\n"
              "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8gISIjJCUmJygpKiss\nLQ==\n"
              "---- END SSH2 PUBLIC KEY ----\n");
    // Without a blob there is nothing a reader could take back.
    EXPECT_FALSE(WritePublicKeyFile(KeyPair(), File("c.pub")));
}

// Whatever the umask, nobody else may change a public key that is bound for authorized_keys
// (OpenSSH writes its own 0644 too).
TEST_F(KeyFileRoundTrip, PublicFileIsNotWritableByOthersEvenUnderAnEmptyUmask) {
    KeyPair pair;
    pair.SetBlob(Counting(45));
    const mode_t saved = ::umask(0);
    const bool written = WritePublicKeyFile(pair, File("a.pub"));
    ::umask(saved);
    ASSERT_TRUE(written);
    struct stat info {};
    ASSERT_EQ(::stat(File("a.pub").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0644u);
}

TEST_F(KeyFileRoundTrip, PublicFileReadsBackBlobAndComment) {
    for (const int type : {KVCLM_KEY_RSA, KVCLM_KEY_DSS}) {
        KeyPair pair;
        pair.SetBlob(test::PublicBlobOf(test::SharedKey(type, 1024)));
        pair.SetComment("héllo \"there\"");
        ASSERT_TRUE(WritePublicKeyFile(pair, File("id.PUB")));
        KeyPair read = KeyPair::ForPublicKeyFile(File("id.PUB"));
        ASSERT_TRUE(ReadPublicKeyFile(read));
        EXPECT_EQ(read.Blob(), pair.Blob());
        EXPECT_EQ(read.Comment(), "héllo there");
        EXPECT_EQ(read.Name(), "id");
    }
}

TEST_F(KeyFileRoundTrip, PlainPrivateFileReadsBackAndOpensWithoutPassphrase) {
    const PrivateKey& key = test::SharedKey(KVCLM_KEY_DSS, 1024);
    const PrivateKeyBlob stored = Stored(key, "build key");
    ASSERT_TRUE(WritePrivateKeyFile(stored, File("id"), AsBytes(kStore), {}));
    const std::string text = test::ReadText(File("id"));
    EXPECT_TRUE(text.starts_with("---- BEGIN SSH2 PRIVATE KEY ----\nComment: \"build key\"\n"));
    EXPECT_TRUE(text.ends_with("\n---- END SSH2 PRIVATE KEY ----\n"));
    EXPECT_EQ(text.find('\r'), std::string::npos);
    struct stat info {};
    ASSERT_EQ(::stat(File("id").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 077, 0u) << "a private key file must be the owner's alone";

    PrivateKeyBlob read = PrivateKeyBlob::ForFile(File("id"));
    ASSERT_TRUE(ReadPrivateKeyFile(read));
    EXPECT_EQ(read.Comment(), "build key");
    EXPECT_EQ(read.Blob(), test::PlainContainerOf(key));
    KeyPair pair;
    pair.SetBlob(test::PublicBlobOf(key));
    EXPECT_TRUE(read.Matches(pair, {}));
}

TEST_F(KeyFileRoundTrip, ProtectedPrivateFileOpensOnlyWithItsPassphrase) {
    const PrivateKey& key = test::SharedKey(KVCLM_KEY_RSA, 1024);
    const PrivateKeyBlob stored = Stored(key, "");
    ASSERT_TRUE(WritePrivateKeyFile(stored, File("id"), AsBytes(kStore), AsBytes("file pass")));
    const std::string text = test::ReadText(File("id"));
    EXPECT_TRUE(text.starts_with("---- BEGIN SSH2 ENCRYPTED PRIVATE KEY ----\n"));
    EXPECT_TRUE(text.ends_with("\n---- END SSH2 ENCRYPTED PRIVATE KEY ----\n"));
    EXPECT_EQ(text.find("Comment:"), std::string::npos);

    PrivateKeyBlob read = PrivateKeyBlob::ForFile(File("id"));
    ASSERT_TRUE(ReadPrivateKeyFile(read));
    EXPECT_TRUE(read.OpensWithPassphrase(AsBytes("file pass")));
    EXPECT_FALSE(read.OpensWithPassphrase(AsBytes("store pass")));
    EXPECT_FALSE(read.OpensWithPassphrase({}));
    KeyPair pair;
    pair.SetBlob(test::PublicBlobOf(key));
    EXPECT_TRUE(read.Matches(pair, AsBytes("file pass")));
}

TEST_F(KeyFileRoundTrip, WrongStorePassphraseWritesNothing) {
    const PrivateKeyBlob stored = Stored(test::SharedKey(KVCLM_KEY_RSA, 1024), "c");
    test::WriteText(File("id"), "previous");
    EXPECT_FALSE(WritePrivateKeyFile(stored, File("id"), AsBytes("wrong"), {}));
    EXPECT_FALSE(WritePrivateKeyFile(stored, File("new"), {}, {}));
    EXPECT_EQ(test::ReadText(File("id")), "previous");
    EXPECT_FALSE(std::filesystem::exists(File("new")));
}

TEST_F(KeyFileRoundTrip, FailedReadsLeaveTheRecordsUnchanged) {
    const std::string begin = "---- BEGIN SSH2 PUBLIC KEY ----\nComment: \"c\"\n";
    const std::string end = "\n---- END SSH2 PUBLIC KEY ----\n";
    const std::pair<const char*, std::string> files[] = {
        {"empty", ""},
        {"one-line", "---- BEGIN SSH2 PUBLIC KEY ----"},
        {"not-base64", begin + "QU*D" + end},
        {"bad-padding", begin + "QUJ=RA==" + end},
        {"huge", begin + std::string(10 << 20, 'A') + end},
    };
    for (const auto& [name, text] : files) test::WriteText(File(name), text);
    for (const auto& [name, text] : files) {
        KeyPair pair = KeyPair::ForPublicKeyFile(File(name));
        pair.SetComment("kept");
        EXPECT_FALSE(ReadPublicKeyFile(pair)) << name;
        EXPECT_EQ(pair.Comment(), "kept");
        EXPECT_TRUE(pair.Blob().empty());
    }
    KeyPair directory = KeyPair::ForPublicKeyFile(m_dir.Path());
    EXPECT_FALSE(ReadPublicKeyFile(directory));
    PrivateKeyBlob blob = PrivateKeyBlob::ForFile(File("not-base64"));
    blob.SetBlob(AsBytes("kept"));
    EXPECT_FALSE(ReadPrivateKeyFile(blob));
    EXPECT_EQ(blob.Blob().size(), 4u);
}

// kvsshaa-client add and delete read a public key file as every key file is read: a regular
// file of at most 1 MiB. A device such as /dev/zero would have been read without end.
TEST_F(KeyFileRoundTrip, ClientReadsOnlyRegularPublicKeyFilesOfBoundedSize) {
    const std::string line = "ssh-test Zm9vYg==\n";
    test::WriteText(File("big.pub"), line + std::string(kMaxKeyFileSize, '#'));
    EXPECT_EQ(ReadPublicKeyBlob(File("big.pub")), std::nullopt);
    test::WriteText(File("line.pub"), line + std::string(kMaxKeyFileSize - line.size(), '#'));
    EXPECT_EQ(ReadPublicKeyBlob(File("line.pub")), (Bytes{'f', 'o', 'o', 'b'}));
    EXPECT_EQ(ReadPublicKeyBlob("/dev/null"), std::nullopt);
    EXPECT_EQ(ReadPublicKeyBlob(m_dir.Path()), std::nullopt);
}

// The data of `op --data-file`: a file or a pipe up to the bound; a directory or an endless
// device is a failure the client reports, not an abort or a read without end.
TEST_F(KeyFileRoundTrip, DataToSignIsReadUpToItsBound) {
    test::WriteText(File("data"), "to sign");
    EXPECT_EQ(ReadFileBytes(File("data"), 7), (Bytes{'t', 'o', ' ', 's', 'i', 'g', 'n'}));
    EXPECT_EQ(ReadFileBytes(File("data"), 6), std::nullopt);
    EXPECT_EQ(ReadFileBytes(m_dir.Path(), 1024), std::nullopt);
    EXPECT_EQ(ReadFileBytes("/dev/zero", 1024 * 1024), std::nullopt);
    int pipe_ends[2];
    ASSERT_EQ(::pipe(pipe_ends), 0);
    ASSERT_EQ(::write(pipe_ends[1], "piped", 5), 5);
    ::close(pipe_ends[1]);
    EXPECT_EQ(ReadFileBytes("/dev/fd/" + std::to_string(pipe_ends[0]), 1024),
              (Bytes{'p', 'i', 'p', 'e', 'd'}));
    ::close(pipe_ends[0]);
}

// kvsshaa-client add: a one-line public key whose blob names another type than the line goes
// out as its decoded blob, for the agent to judge; Base64 that does not decode, not at all.
TEST_F(KeyFileRoundTrip, ClientSendsTheBlobOfALineItCannotMatch) {
    const std::pair<const char*, std::optional<Bytes>> lines[] = {
        {"ssh-test Zm9vYg==\n", Bytes{'f', 'o', 'o', 'b'}},
        {"ssh-test Zm9vYmFy a comment\n", Bytes{'f', 'o', 'o', 'b', 'a', 'r'}},
        {"ssh-test Zm9v!\n", std::nullopt},
        {"ssh-test Z\n", std::nullopt},
        {"ssh-test Zg==Zg\n", std::nullopt},
    };
    for (const auto& [text, blob] : lines) {
        test::WriteText(File("line.pub"), text);
        EXPECT_EQ(ReadPublicKeyBlob(File("line.pub")), blob) << text;
    }
}

}  // namespace
}  // namespace kv
