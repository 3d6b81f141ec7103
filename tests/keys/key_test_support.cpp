#include "tests/keys/key_test_support.h"

#include <openssl/core_names.h>
#include <openssl/dsa.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>
#include <openssl/rsa.h>

#include <cstdlib>
#include <map>
#include <memory>

#include "cryptomodule/key_generation.h"
#include "keys/key_registry_layout.h"
#include "platform/registry/registry_database.h"
#include "res/string_ids.h"

namespace kv::test {

namespace {

template <class T, void (*Free)(T*)>
struct Deleter {
    void operator()(T* p) const { Free(p); }
};
using PkeyPtr = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY, EVP_PKEY_free>>;
using CtxPtr = std::unique_ptr<EVP_PKEY_CTX, Deleter<EVP_PKEY_CTX, EVP_PKEY_CTX_free>>;
using MdCtxPtr = std::unique_ptr<EVP_MD_CTX, Deleter<EVP_MD_CTX, EVP_MD_CTX_free>>;
using BnPtr = std::unique_ptr<BIGNUM, Deleter<BIGNUM, BN_free>>;

// Reads the SSH wire form: uint32 length, then that many bytes.
struct WireReader {
    std::span<const std::uint8_t> rest;
    bool String(std::span<const std::uint8_t>& out) {
        if (rest.size() < 4) return false;
        const std::uint32_t n = std::uint32_t{rest[0]} << 24 | std::uint32_t{rest[1]} << 16 |
                                std::uint32_t{rest[2]} << 8 | rest[3];
        if (n > rest.size() - 4) return false;
        out = rest.subspan(4, n);
        rest = rest.subspan(4 + n);
        return true;
    }
    BIGNUM* Mpint() {
        std::span<const std::uint8_t> bytes;
        if (!String(bytes)) return nullptr;
        return BN_bin2bn(bytes.data(), static_cast<int>(bytes.size()), nullptr);
    }
};

PkeyPtr PublicKeyFromBlob(std::span<const std::uint8_t> blob) {
    WireReader r{blob};
    std::span<const std::uint8_t> type;
    if (!r.String(type)) return nullptr;
    const std::string name(type.begin(), type.end());
    std::vector<std::pair<const char*, BnPtr>> numbers;
    if (name == "ssh-rsa") {
        numbers.emplace_back(OSSL_PKEY_PARAM_RSA_E, r.Mpint());
        numbers.emplace_back(OSSL_PKEY_PARAM_RSA_N, r.Mpint());
    } else if (name == "ssh-dss") {
        for (const char* p : {OSSL_PKEY_PARAM_FFC_P, OSSL_PKEY_PARAM_FFC_Q, OSSL_PKEY_PARAM_FFC_G,
                              OSSL_PKEY_PARAM_PUB_KEY}) {
            numbers.emplace_back(p, r.Mpint());
        }
    } else {
        return nullptr;
    }
    OSSL_PARAM_BLD* build = OSSL_PARAM_BLD_new();
    for (const auto& [param, bn] : numbers) {
        if (!bn) return nullptr;
        OSSL_PARAM_BLD_push_BN(build, param, bn.get());
    }
    OSSL_PARAM* params = OSSL_PARAM_BLD_to_param(build);
    OSSL_PARAM_BLD_free(build);
    CtxPtr ctx(EVP_PKEY_CTX_new_from_name(nullptr, name == "ssh-rsa" ? "RSA" : "DSA", nullptr));
    EVP_PKEY* pkey = nullptr;
    if (EVP_PKEY_fromdata_init(ctx.get()) <= 0 ||
        EVP_PKEY_fromdata(ctx.get(), &pkey, EVP_PKEY_PUBLIC_KEY, params) <= 0) {
        pkey = nullptr;
    }
    OSSL_PARAM_free(params);
    return PkeyPtr(pkey);
}

bool VerifyDigestSignature(EVP_PKEY* pkey, const char* digest,
                           std::span<const std::uint8_t> message,
                           std::span<const std::uint8_t> signature) {
    MdCtxPtr ctx(EVP_MD_CTX_new());
    return EVP_DigestVerifyInit_ex(ctx.get(), nullptr, digest, nullptr, nullptr, pkey, nullptr) ==
               1 &&
           EVP_DigestVerify(ctx.get(), signature.data(), signature.size(), message.data(),
                            message.size()) == 1;
}

struct ContainerKey {
    TestKey which;
    std::string passphrase;
    auto operator<=>(const ContainerKey&) const = default;
};

}  // namespace

CryptoModule& BuiltModule() {
    static CryptoModule& module = []() -> CryptoModule& {
        const char* bin = std::getenv("KV_BIN_DIR");
        Module().SetDirectoryForTesting(bin != nullptr && *bin != '\0'
                                            ? std::string(bin) + "/crypto"
                                            : std::string(KV_TEST_MODULE_DIR));
        return Module();
    }();
    return module;
}

const GeneratedKey& Generated(TestKey which) {
    static std::map<TestKey, GeneratedKey> keys;
    auto found = keys.find(which);
    if (found != keys.end()) return found->second;
    BuiltModule();
    ModuleResult<PrivateKey> made = which == TestKey::Dsa1024   ? GenerateDssKey(1024)
                                    : which == TestKey::Rsa1024 ? GenerateRsaKey(1024)
                                                                : GenerateRsaKey(2048);
    EXPECT_TRUE(made.ok()) << made.code;
    GeneratedKey key;
    key.key = std::move(made.value);
    if (key.key.IsValid()) {
        ModuleResult<PublicKey> pub = key.key.DerivePublic();
        if (pub.ok()) {
            ModuleResult<kv::Bytes> blob = pub.value.Export();
            if (blob.ok()) key.public_blob = std::move(blob.value);
        }
    }
    return keys.emplace(which, std::move(key)).first->second;
}

const SecureBytes& Container(TestKey which, std::string_view passphrase) {
    static std::map<ContainerKey, SecureBytes> made;
    const ContainerKey id{which, std::string(passphrase)};
    auto found = made.find(id);
    if (found != made.end()) return found->second;
    std::optional<SecureBytes> sealed =
        ProtectPrivateKey(Generated(which).key, AsBytes(passphrase));
    EXPECT_TRUE(sealed.has_value());
    return made.emplace(id, sealed.value_or(SecureBytes{})).first->second;
}

KeyPair PairFor(TestKey which, std::string_view name, std::string_view comment) {
    KeyPair pair;
    pair.SetBlob(Generated(which).public_blob);
    pair.SetFileName(name);
    pair.SetComment(comment);
    return pair;
}

PrivateKeyBlob BlobFor(TestKey which, std::string_view passphrase, const KeyPair* owner) {
    PrivateKeyBlob blob(owner);
    blob.SetBlob(Container(which, passphrase));
    return blob;
}

bool VerifyRsa(std::span<const std::uint8_t> blob, const char* digest,
               std::span<const std::uint8_t> message, std::span<const std::uint8_t> signature) {
    const PkeyPtr pkey = PublicKeyFromBlob(blob);
    return pkey && VerifyDigestSignature(pkey.get(), digest, message, signature);
}

kv::Bytes RecoverRsa(std::span<const std::uint8_t> blob, std::span<const std::uint8_t> signature) {
    const PkeyPtr pkey = PublicKeyFromBlob(blob);
    if (!pkey) return {};
    CtxPtr ctx(EVP_PKEY_CTX_new(pkey.get(), nullptr));
    kv::Bytes out(signature.size());
    std::size_t n = out.size();
    if (EVP_PKEY_verify_recover_init(ctx.get()) <= 0 ||
        EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) <= 0 ||
        EVP_PKEY_verify_recover(ctx.get(), out.data(), &n, signature.data(), signature.size()) <=
            0) {
        return {};
    }
    out.resize(n);
    return out;
}

bool VerifyDss(std::span<const std::uint8_t> blob, std::span<const std::uint8_t> message,
               std::span<const std::uint8_t> signature) {
    if (signature.size() != 40) return false;
    const PkeyPtr pkey = PublicKeyFromBlob(blob);
    if (!pkey) return false;
    DSA_SIG* sig = DSA_SIG_new();
    DSA_SIG_set0(sig, BN_bin2bn(signature.data(), 20, nullptr),
                 BN_bin2bn(signature.data() + 20, 20, nullptr));
    unsigned char* der = nullptr;
    const int n = i2d_DSA_SIG(sig, &der);
    DSA_SIG_free(sig);
    if (n <= 0) return false;
    const bool ok =
        VerifyDigestSignature(pkey.get(), "SHA1", message, {der, static_cast<std::size_t>(n)});
    OPENSSL_free(der);
    return ok;
}

kv::Bytes EncryptRsa(std::span<const std::uint8_t> blob, std::span<const std::uint8_t> plain) {
    const PkeyPtr pkey = PublicKeyFromBlob(blob);
    if (!pkey) return {};
    CtxPtr ctx(EVP_PKEY_CTX_new(pkey.get(), nullptr));
    std::size_t n = 0;
    if (EVP_PKEY_encrypt_init(ctx.get()) <= 0 ||
        EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) <= 0 ||
        EVP_PKEY_encrypt(ctx.get(), nullptr, &n, plain.data(), plain.size()) <= 0) {
        return {};
    }
    kv::Bytes out(n);
    if (EVP_PKEY_encrypt(ctx.get(), out.data(), &n, plain.data(), plain.size()) <= 0) return {};
    out.resize(n);
    return out;
}

kv::Bytes Digest(const char* name, std::span<const std::uint8_t> data) {
    kv::Bytes out(EVP_MAX_MD_SIZE);
    unsigned n = 0;
    if (EVP_Digest(data.data(), data.size(), out.data(), &n, EVP_get_digestbyname(name), nullptr) !=
        1) {
        return {};
    }
    out.resize(n);
    return out;
}

kv::Bytes Sha1DigestInfo(std::span<const std::uint8_t> message) {
    kv::Bytes info = {0x30, 0x21, 0x30, 0x09, 0x06, 0x05, 0x2b, 0x0e,
                      0x03, 0x02, 0x1a, 0x05, 0x00, 0x04, 0x14};
    const kv::Bytes digest = Digest("SHA1", message);
    info.insert(info.end(), digest.begin(), digest.end());
    return info;
}

KeyTest::KeyTest() {
    BuiltModule();
    registry_testing::Reset();
    RegistryDatabase::UseFile(m_dir.Path() + "/registry.sqlite");
    RegistryKey::EnsureKey(kKeyPairsRegistryPath);
    m_settings.DefineDefaults();
    m_settings.SetFlag(IDS_SETTING_LOG_LIST, true);
}

KeyTest::~KeyTest() {
    registry_testing::Reset();
    RegistryDatabase::Close();
}

std::vector<std::string> KeyTest::Logged() const {
    std::vector<std::string> lines;
    for (const LogEntry& e : m_log.Entries()) {
        lines.push_back(std::string(LogCategoryName(e.category)) + ":" + e.message);
    }
    return lines;
}

bool KeyTest::LoggedText(std::string_view text) const {
    for (const LogEntry& e : m_log.Entries()) {
        if (e.message == text) return true;
    }
    return false;
}

void KeyTest::WriteValue(const std::string& subkey, const char* name, std::span<const uint8_t> d) {
    RegistryKey key(std::string(kKeyPairsRegistryPath) + "\\" + subkey);
    ASSERT_TRUE(key.WriteBinary(name, d.data(), static_cast<std::uint32_t>(d.size())));
}

void KeyTest::WriteText(const std::string& subkey, const char* name, const char* text) {
    RegistryKey key(std::string(kKeyPairsRegistryPath) + "\\" + subkey);
    ASSERT_TRUE(key.WriteString(name, text));
}

bool KeyTest::SubkeyExists(const std::string& subkey) {
    RegistryKey key;
    return key.Open(std::string(kKeyPairsRegistryPath) + "\\" + subkey, false);
}

kv::Bytes KeyTest::ReadValue(const std::string& subkey, const char* name) {
    RegistryKey key;
    if (!key.Open(std::string(kKeyPairsRegistryPath) + "\\" + subkey, false)) return {};
    kv::Bytes data(20000);
    std::uint32_t size = static_cast<std::uint32_t>(data.size());
    if (!key.ReadRaw(name, data.data(), &size)) return {};
    data.resize(size);
    return data;
}

}  // namespace kv::test
