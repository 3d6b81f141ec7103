// Interoperation with the real tools, run at test time: containers from PuTTYgen (plain and
// "3des-cbc") import, ours load in PuTTYgen and ssh-keygen, public parts agree everywhere.
#include <gtest/gtest.h>
#include <openssl/pem.h>

#include <cstdio>

#include "tests/kvclm/kvclm_test_support.h"

using namespace kvtest;

namespace {

// The setup installs these; a missing tool is a failure, not a skip.
void RequireTools() {
    for (const char* tool : {"puttygen", "ssh-keygen", "openssl"})
        ASSERT_EQ(RunCommand(std::string("command -v ") + tool), 0) << tool << " is not installed";
}

std::string Q(const std::string& path) { return "'" + path + "'"; }

Bytes OpenSshPublicOf(const std::string& command) {
    std::string line;
    EXPECT_EQ(RunCommand(command, &line), 0) << command;
    return BlobOfOpenSshLine(line);
}

Pkey LoadPem(const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "r");
    if (f == nullptr) return nullptr;
    EVP_PKEY* key = PEM_read_PrivateKey(f, nullptr, nullptr, nullptr);
    std::fclose(f);
    return Pkey(key);
}

// A signature by OpenSSL with the tool's copy of the key, checked against our public blob.
bool ToolKeySignsForBlob(EVP_PKEY* key, const Bytes& publicBlob) {
    const Bytes data = ToBytes("interop data");
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    Bytes sig(1024);
    std::size_t n = sig.size();
    const bool signedOk = EVP_DigestSignInit(ctx, nullptr, EVP_sha1(), nullptr, key) == 1 &&
                          EVP_DigestSign(ctx, sig.data(), &n, data.data(), data.size()) == 1;
    EVP_MD_CTX_free(ctx);
    if (!signedOk) return false;
    sig.resize(n);
    Pkey pub = OpenSslPublic(publicBlob);
    ctx = EVP_MD_CTX_new();
    const bool ok = EVP_DigestVerifyInit(ctx, nullptr, EVP_sha1(), nullptr, pub.get()) == 1 &&
                    EVP_DigestVerify(ctx, sig.data(), sig.size(), data.data(), data.size()) == 1;
    EVP_MD_CTX_free(ctx);
    return ok;
}

class Interop : public ::testing::Test {
  protected:
    void SetUp() override { RequireTools(); }
    TempDir m_dir;
};

}  // namespace

TEST_F(Interop, SshKeygenRsaConvertedByPuttygenImportsPlainAndEncrypted) {
    const std::string key = m_dir.File("id_rsa"), pass = m_dir.File("pass");
    ASSERT_EQ(RunCommand("ssh-keygen -q -t rsa -b 2048 -m PEM -N '' -C test -f " + Q(key)), 0);
    WriteFile(pass, "pass phrase\n");
    ASSERT_EQ(RunCommand("puttygen " + Q(key) + " -O private-sshcom -o " + Q(key + ".sshcom")), 0);
    ASSERT_EQ(RunCommand("puttygen " + Q(key) + " -O private-sshcom --new-passphrase " + Q(pass) +
                         " -o " + Q(key + ".enc.sshcom")),
              0);
    const Bytes expected = OpenSshPublicOf("ssh-keygen -y -f " + Q(key));
    ASSERT_FALSE(expected.empty());

    PrivateKey plain, encrypted, wrong;
    ASSERT_EQ(Import("", ReadArmoredFile(key + ".sshcom"), &plain), 0);
    EXPECT_EQ(PublicBlob(plain.get()), expected);
    const Bytes encBlob = ReadArmoredFile(key + ".enc.sshcom");
    ASSERT_NE(std::string(encBlob.begin(), encBlob.end()).find("3des-cbc"), std::string::npos);
    ASSERT_EQ(Import("pass phrase", encBlob, &encrypted), 0);
    EXPECT_EQ(PublicBlob(encrypted.get()), expected);
    EXPECT_EQ(Import("pass phrasE", encBlob, &wrong), KVCLM_E_BAD_PASSPHRASE);
    EXPECT_EQ(Import("", encBlob, &wrong), KVCLM_E_NEED_PASSPHRASE);

    // PKCS#1 v1.5 is deterministic: our signature equals OpenSSL's with the original key.
    Pkey original = LoadPem(key);
    ASSERT_TRUE(original);
    const Bytes data = ToBytes("interop data");
    const Bytes ours = SignRsa(plain.get(), data, true, false);
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    Bytes theirs(256);
    std::size_t n = theirs.size();
    ASSERT_EQ(EVP_DigestSignInit(ctx, nullptr, EVP_sha1(), nullptr, original.get()), 1);
    ASSERT_EQ(EVP_DigestSign(ctx, theirs.data(), &n, data.data(), data.size()), 1);
    EVP_MD_CTX_free(ctx);
    EXPECT_EQ(ours, theirs);
}

TEST_F(Interop, PuttygenKeysImportPlainAndEncrypted) {
    const std::string pass = m_dir.File("pass");
    WriteFile(pass, "p\xc3\xa4sswort\n");
    for (const char* kind : {"rsa 1024", "dsa 1024", "dsa 2048"}) {
        const std::string type = std::string(kind).substr(0, 3), bits = std::string(kind).substr(4);
        const std::string ppk = m_dir.File(type + bits + ".ppk");
        ASSERT_EQ(RunCommand("puttygen -q -t " + type + " -b " + bits +
                             " --new-passphrase /dev/null -o " + Q(ppk)),
                  0)
            << kind;
        ASSERT_EQ(RunCommand("puttygen " + Q(ppk) + " -O private-sshcom -o " + Q(ppk + ".sshcom")),
                  0);
        ASSERT_EQ(RunCommand("puttygen " + Q(ppk) + " -O private-sshcom --new-passphrase " +
                             Q(pass) + " -o " + Q(ppk + ".enc")),
                  0);
        const Bytes expected = OpenSshPublicOf("puttygen " + Q(ppk) + " -O public-openssh");
        PrivateKey plain, encrypted, wrong;
        ASSERT_EQ(Import("", ReadArmoredFile(ppk + ".sshcom"), &plain), 0) << kind;
        EXPECT_EQ(PublicBlob(plain.get()), expected) << kind;
        ASSERT_EQ(Import("p\xc3\xa4sswort", ReadArmoredFile(ppk + ".enc"), &encrypted), 0) << kind;
        EXPECT_EQ(PublicBlob(encrypted.get()), expected) << kind;
        EXPECT_EQ(Import("passwort", ReadArmoredFile(ppk + ".enc"), &wrong),
                  KVCLM_E_BAD_PASSPHRASE);
        EXPECT_EQ(InfoOf(plain.get()).bits, static_cast<std::uint32_t>(std::stoi(bits)));
    }
}

TEST_F(Interop, OurPlainContainersLoadInPuttygenAndSshKeygen) {
    for (KVCLM_PRIVATE_KEY key : {SharedKey(KVCLM_KEY_RSA, 2048), SharedKey(KVCLM_KEY_RSA, 768),
                                  SharedKey(KVCLM_KEY_DSS, 1024), SharedKey(KVCLM_KEY_DSS, 2048)}) {
        const KeyInfo info = InfoOf(key);
        const std::string name = std::string(info.algorithm) + std::to_string(info.bits);
        const std::string file = m_dir.File(name + ".sshcom"), pem = m_dir.File(name + ".pem");
        Bytes blob;
        ASSERT_EQ(ExportPlain(key, &blob), 0);
        WriteFile(file, ArmorPrivate(blob, "made by kvclm"));
        const Bytes expected = PublicBlob(key);

        EXPECT_EQ(OpenSshPublicOf("puttygen " + Q(file) + " -O public-openssh"), expected) << name;
        // PuTTYgen writing the key back (through its own format: it refuses a no-op conversion)
        // gives the very same container.
        ASSERT_EQ(RunCommand("puttygen " + Q(file) + " -O private -o " + Q(file + ".ppk")), 0);
        ASSERT_EQ(RunCommand("puttygen " + Q(file + ".ppk") + " -O private-sshcom -o " +
                             Q(file + ".again")),
                  0);
        EXPECT_EQ(ReadArmoredFile(file + ".again"), blob) << name;

        if (info.type == KVCLM_KEY_RSA && info.bits < 1024) continue;  // ssh-keygen's minimum
        std::string converted;
        ASSERT_EQ(RunCommand("ssh-keygen -i -f " + Q(file), &converted), 0) << name;
        WriteFile(pem, converted);
        ASSERT_EQ(RunCommand("chmod 600 " + Q(pem)), 0);
        EXPECT_EQ(OpenSshPublicOf("ssh-keygen -y -f " + Q(pem)), expected) << name;
        Pkey toolKey = LoadPem(pem);
        ASSERT_TRUE(toolKey) << name;
        EXPECT_TRUE(ToolKeySignsForBlob(toolKey.get(), expected)) << name;
    }
}

TEST_F(Interop, SshKeygenPublicExportImportsAsTheSameBlob) {
    const std::string key = m_dir.File("id_dsa_like");
    ASSERT_EQ(RunCommand("ssh-keygen -q -t rsa -b 1024 -N '' -f " + Q(key)), 0);
    std::string rfc4716;
    ASSERT_EQ(RunCommand("ssh-keygen -e -f " + Q(key + ".pub"), &rfc4716), 0);
    WriteFile(key + ".rfc", rfc4716);
    const Bytes blob = ReadArmoredFile(key + ".rfc");
    EXPECT_EQ(blob, BlobOfOpenSshLine(ReadFile(key + ".pub")));
    KVCLM_PUBLIC_KEY pub = nullptr;
    ASSERT_EQ(
        kvclm_PublicKeyImport(&pub, blob.data(), static_cast<std::uint32_t>(blob.size()), 0, 0), 0);
    PublicKey owner(pub);
    std::uint32_t n = static_cast<std::uint32_t>(blob.size());
    Bytes back(n);
    ASSERT_EQ(kvclm_PublicKeyExport(pub, KVCLM_FORMAT_SSH_PUBLIC, 0, back.data(), &n, 0), 0);
    EXPECT_EQ(back, blob);
}
