// Ed25519 and ECDSA keys in the keys layer: stored with a certificate, reloaded, re-protected
// by a passphrase change and still signing; described and fingerprinted as OpenSSH does; and
// written to and read from OpenSSH's key files, checked with ssh-keygen.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "cryptomodule/key_generation.h"
#include "keys/fingerprint.h"
#include "keys/key_registry_layout.h"
#include "keys/key_store.h"
#include "keys/openssh_key_file.h"
#include "keys/private_key_operation.h"
#include "tests/keys/key_test_support.h"
#include "tests/support/openssl_check.h"
#include "tests/support/test_time.h"

namespace kv {
namespace {

using test::AsBytes;

constexpr std::string_view kPass = "agent pass";

// Runs a shell command; its standard output, and whether it exited with 0.
bool Shell(const std::string& command, std::string* output = nullptr) {
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) return false;
    std::string text;
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) text += buffer;
    if (output != nullptr) *output = text;
    return ::pclose(pipe) == 0;
}

struct CurveKey {
    PrivateKey key;
    Bytes blob;
};

CurveKey MakeKey(int type, std::uint32_t bits) {
    test::BuiltModule();
    CurveKey made;
    auto key = GenerateCurveKey(type, bits);
    EXPECT_TRUE(key.ok());
    made.key = std::move(key.value);
    auto pub = made.key.DerivePublic();
    auto blob = pub.ok() ? pub.value.Export() : ModuleResult<Bytes>{};
    EXPECT_TRUE(blob.ok());
    made.blob = blob.value;
    return made;
}

class CurveKeyStoreTest : public test::KeyTest {
  protected:
    std::unique_ptr<KeyStore> Unlocked(std::string_view pass = kPass) {
        auto store = std::make_unique<KeyStore>(m_log, clock);
        EXPECT_TRUE(store->Unlock(AsBytes(pass)));
        return store;
    }

    std::int32_t Store(KeyStore& store, const CurveKey& key, std::string_view name) {
        KeyPair pair;
        pair.SetBlob(key.blob);
        pair.SetFileName(name);
        pair.SetComment("comment of " + std::string(name));
        PrivateKeyBlob blob;
        const auto container = key.key.ExportProtected(AsBytes(kPass));
        EXPECT_TRUE(container.ok());
        blob.SetBlob(container.value);
        return store.Add(blob, pair);
    }

    // A "sign" through the whole operation path, checked by OpenSSL with the blob alone.
    bool SignsWith(KeyStore& store, std::int32_t number, std::string_view operation = "sign") {
        const auto blob = store.ReadPrivateKey(number);
        if (!blob) return false;
        const Bytes data(300, 0x5a);
        const OperationContext context{m_settings, m_log, {}};
        const OperationResult result =
            Perform(*blob, operation, "test", store.HeldPassphrase(), data, context);
        const Bytes signature(result.output.begin(), result.output.end());
        return result.ok && test::VerifyCurve(store.FindByNumber(number)->Blob(), data, signature);
    }

    FakeClock clock{test::kTestNow};
    CurveKey ed = MakeKey(KVCLM_KEY_ED25519, 256);
    CurveKey ec = MakeKey(KVCLM_KEY_ECDSA, 384);
};

TEST_F(CurveKeyStoreTest, StoredWithACertificateTheySurviveRestartsAndAPassphraseChange) {
    const Bytes certificate = {0, 0, 0, 3, 'c', 'r', 't'};
    {
        auto store = Unlocked();
        ASSERT_EQ(Store(*store, ed, "ed"), 1);
        ASSERT_EQ(Store(*store, ec, "ec"), 2);
        EXPECT_TRUE(store->AttachCertificate(ed.blob, certificate));
        EXPECT_FALSE(store->AttachCertificate(Bytes{1, 2, 3}, certificate));
        EXPECT_EQ(ReadValue("Key1", kCertificateValue), certificate);
        EXPECT_TRUE(ReadValue("Key2", kCertificateValue).empty());
        EXPECT_TRUE(SignsWith(*store, 1));
        EXPECT_TRUE(SignsWith(*store, 2, "hash-and-sign"));
        EXPECT_FALSE(SignsWith(*store, 2, "sign[md5]"));
        EXPECT_FALSE(SignsWith(*store, 1, "decrypt"));
    }
    {
        auto store = Unlocked();
        ASSERT_EQ(store->Count(), 2u);
        EXPECT_EQ(store->FindByNumber(1)->Certificate(), certificate);
        EXPECT_TRUE(store->FindByNumber(2)->Certificate().empty());
        ASSERT_TRUE(store->ChangePassphrase(AsBytes(kPass), AsBytes("new pass")));
        EXPECT_TRUE(SignsWith(*store, 1));
        EXPECT_TRUE(SignsWith(*store, 2));
    }
    auto store = Unlocked("new pass");
    EXPECT_TRUE(SignsWith(*store, 1));
    EXPECT_TRUE(SignsWith(*store, 2));
    EXPECT_EQ(store->FindByNumber(1)->Certificate(), certificate);
}

TEST_F(CurveKeyStoreTest, DescriptionsAndTheSha256FingerprintMatchSshKeygen) {
    const CurveKey p521 = MakeKey(KVCLM_KEY_ECDSA, 521);
    EXPECT_EQ(DescribePublicBlob(ed.blob), "ED25519 (256 bits)");
    EXPECT_EQ(DescribePublicBlob(ec.blob), "ECDSA (384 bits)");
    EXPECT_EQ(DescribePublicBlob(p521.blob), "ECDSA (521 bits)");
    EXPECT_EQ(Sha256FingerprintOfBlob({}), kFingerprintNotAvailableText);
    for (const CurveKey* key : std::initializer_list<const CurveKey*>{&ed, &ec, &p521}) {
        KeyPair pair;
        pair.SetBlob(key->blob);
        pair.SetComment("fp");
        const std::string pub = m_dir.Path() + "/fp.pub";
        ASSERT_TRUE(WriteOpenSshPublicKeyFile(pair, pub));
        std::string out;
        ASSERT_TRUE(Shell("ssh-keygen -l -E sha256 -f " + pub, &out)) << out;
        EXPECT_NE(out.find(KeyFingerprintSha256(pair) + " fp"), std::string::npos) << out;
        EXPECT_NE(out.find(Sha256FingerprintOfBlob(key->blob)), std::string::npos);
    }
    EXPECT_EQ(KeyFingerprint(KeyPair(), 0), kFingerprintNotAvailableText);
}

TEST_F(CurveKeyStoreTest, StoredKeysExportToFilesThatSshKeygenReads) {
    auto store = Unlocked();
    ASSERT_EQ(Store(*store, ed, "ed"), 1);
    ASSERT_EQ(Store(*store, ec, "ec"), 2);
    EXPECT_TRUE(NeedsOpenSshKeyFile(ed.blob));
    EXPECT_TRUE(NeedsOpenSshKeyFile(ec.blob));
    EXPECT_FALSE(NeedsOpenSshKeyFile(test::Generated(test::TestKey::Rsa1024).public_blob));
    EXPECT_FALSE(NeedsOpenSshKeyFile(Bytes{1, 2}));
    for (std::int32_t number : {1, 2}) {
        auto blob = store->ReadPrivateKey(number);
        ASSERT_TRUE(blob);
        blob->SetComment("exported " + std::to_string(number));
        const std::string plain = m_dir.Path() + "/plain" + std::to_string(number);
        const std::string locked = m_dir.Path() + "/locked" + std::to_string(number);
        ASSERT_TRUE(WriteOpenSshPrivateKeyFile(*blob, plain, store->HeldPassphrase(), {}));
        ASSERT_TRUE(WriteOpenSshPrivateKeyFile(*blob, locked, store->HeldPassphrase(),
                                               AsBytes("file pass")));
        EXPECT_FALSE(WriteOpenSshPrivateKeyFile(*blob, m_dir.Path() + "/no", AsBytes("wrong"), {}));
        EXPECT_FALSE(std::ifstream(m_dir.Path() + "/no").good());
        ASSERT_TRUE(WriteOpenSshPublicKeyFile(*store->FindByNumber(number), plain + ".pub"));
        std::string expected, fromPlain, fromLocked;
        ASSERT_TRUE(Shell("cut -d' ' -f1,2 " + plain + ".pub", &expected));
        ASSERT_TRUE(Shell("ssh-keygen -y -f " + plain, &fromPlain)) << fromPlain;
        ASSERT_TRUE(Shell("ssh-keygen -y -P 'file pass' -f " + locked, &fromLocked)) << fromLocked;
        EXPECT_EQ(fromPlain, expected.substr(0, expected.size() - 1) + " exported " +
                                 std::to_string(number) + "\n");
        EXPECT_EQ(fromLocked.substr(0, expected.size() - 1),
                  expected.substr(0, expected.size() - 1));

        // And the same files come back in through the reader the client and the dialogs use.
        std::string error;
        const auto back = ReadOpenSshPrivateKeyFile(locked, AsBytes("file pass"), error);
        ASSERT_TRUE(back) << error;
        EXPECT_EQ(back->public_blob, store->FindByNumber(number)->Blob());
    }
}

TEST_F(CurveKeyStoreTest, ReadingKeyFilesSaysWhatIsWrongAndNamesTheFile) {
    const std::string key = m_dir.Path() + "/id_ecdsa";
    ASSERT_TRUE(Shell("ssh-keygen -q -t ecdsa -b 256 -N 'file pass' -C 'laptop key' -f " + key));
    std::string error;
    EXPECT_FALSE(ReadOpenSshPrivateKeyFile(key, {}, error));
    EXPECT_EQ(error, "private key file " + key + " is protected by a passphrase");
    EXPECT_FALSE(ReadOpenSshPrivateKeyFile(key, AsBytes("wrong"), error));
    EXPECT_EQ(error, "private key file " + key + ": wrong passphrase");
    // Encrypted files keep the comment inside: it comes from the public key file beside.
    const auto read = ReadOpenSshPrivateKeyFile(key, AsBytes("file pass"), error);
    ASSERT_TRUE(read) << error;
    EXPECT_EQ(read->comment, "laptop key");
    EXPECT_FALSE(read->container.empty());

    ASSERT_TRUE(Shell("head -c 200 " + key + " > " + key + ".cut"));
    EXPECT_FALSE(ReadOpenSshPrivateKeyFile(key + ".cut", {}, error));
    EXPECT_NE(error.find(key + ".cut is damaged or not a private key file"), std::string::npos)
        << error;
    EXPECT_FALSE(ReadOpenSshPrivateKeyFile(key + ".missing", {}, error));
    EXPECT_EQ(error, "cannot read private key file " + key + ".missing");

    const auto line =
        ParseOpenSshPublicKeyLine(AsBytes("# c\n\nssh-ed25519 AAAAC3NzaC1lZDI1NTE5"
                                          "AAAAIDhjWb8EUjKaeA0mgZrEzh9XgBHh2pYb2"
                                          "ae4p0xHrdPJ some comment\n"));
    ASSERT_TRUE(line);
    EXPECT_EQ(line->comment, "some comment");
    EXPECT_FALSE(ParseOpenSshPublicKeyLine(AsBytes("ssh-rsa AAAAC3NzaC1lZDI1NTE5AAAAIDhjWb8EUj")));
}

}  // namespace
}  // namespace kv
