#include "tests/kvclm/kvclm_test_support.h"

#include <gtest/gtest.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/dsa.h>
#include <openssl/param_build.h>
#include <openssl/rsa.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

namespace kvtest {
namespace {

// Minimal reader of "string name, mpint..." with no cleverness: the test's own view.
struct BlobReader {
    const Bytes& b;
    std::size_t pos = 0;
    bool ok = true;
    Bytes Next() {
        if (!ok || b.size() - pos < 4) return ok = false, Bytes();
        const std::size_t n =
            (std::size_t{b[pos]} << 24) | (b[pos + 1] << 16) | (b[pos + 2] << 8) | b[pos + 3];
        pos += 4;
        if (b.size() - pos < n) return ok = false, Bytes();
        Bytes out(b.begin() + pos, b.begin() + pos + n);
        pos += n;
        return out;
    }
    BIGNUM* Bn() {
        const Bytes v = Next();
        return BN_bin2bn(v.data(), static_cast<int>(v.size()), nullptr);
    }
};

Pkey FromParams(const char* type, const std::vector<std::pair<const char*, BIGNUM*>>& items) {
    OSSL_PARAM_BLD* bld = OSSL_PARAM_BLD_new();
    for (const auto& [name, bn] : items) OSSL_PARAM_BLD_push_BN(bld, name, bn);
    OSSL_PARAM* params = OSSL_PARAM_BLD_to_param(bld);
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_from_name(nullptr, type, nullptr);
    EVP_PKEY* key = nullptr;
    if (EVP_PKEY_fromdata_init(ctx) != 1 ||
        EVP_PKEY_fromdata(ctx, &key, EVP_PKEY_PUBLIC_KEY, params) != 1)
        key = nullptr;
    EVP_PKEY_CTX_free(ctx);
    OSSL_PARAM_free(params);
    OSSL_PARAM_BLD_free(bld);
    for (const auto& item : items) BN_free(item.second);
    return Pkey(key);
}

bool Verify(EVP_PKEY* key, const EVP_MD* md, const Bytes& data, const Bytes& sig, int padding) {
    std::uint8_t digest[EVP_MAX_MD_SIZE];
    unsigned n = 0;
    EVP_Digest(data.data(), data.size(), digest, &n, md, nullptr);
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr);
    bool ok = EVP_PKEY_verify_init(ctx) == 1 &&
              (padding == 0 || EVP_PKEY_CTX_set_rsa_padding(ctx, padding) == 1) &&
              EVP_PKEY_CTX_set_signature_md(ctx, md) == 1 &&
              EVP_PKEY_verify(ctx, sig.data(), sig.size(), digest, n) == 1;
    EVP_PKEY_CTX_free(ctx);
    return ok;
}

}  // namespace

PrivateKey Generate(int type, std::uint32_t bits) {
    KVCLM_PRIVATE_KEY key = nullptr;
    int rc = -1;
    if (type == KVCLM_KEY_RSA) {
        RsaGenParams p{};
        p.size = KVCLM_RSA_GEN_PARAMS_SIZE;
        EXPECT_EQ(kvclm_RSAKeyStructInit(KVCLM_GEN_KIND_RSA, &p, 0), 0);
        p.modulusBits = bits;
        rc = kvclm_PrivateKeyGenerate(&key, KVCLM_KEY_RSA, KVCLM_GEN_KIND_RSA, &p, 0, nullptr,
                                      nullptr, 0);
    } else {
        DssGenParams p{};
        p.size = KVCLM_DSS_GEN_PARAMS_SIZE;
        p.reserved2 = 48;
        EXPECT_EQ(kvclm_DSSKeyStructInit(KVCLM_GEN_KIND_DSS, &p, 0), 0);
        p.primeBits = bits;
        p.subprimeBits = 160;
        rc = kvclm_PrivateKeyGenerate(&key, KVCLM_KEY_DSS, KVCLM_GEN_KIND_DSS, &p, 0, nullptr,
                                      nullptr, 0);
    }
    EXPECT_EQ(rc, 0) << "generating type " << type << " bits " << bits;
    return PrivateKey(key);
}

KVCLM_PRIVATE_KEY SharedKey(int type, std::uint32_t bits) {
    static std::map<std::pair<int, std::uint32_t>, PrivateKey> keys;
    PrivateKey& slot = keys[{type, bits}];
    if (!slot) slot = Generate(type, bits);
    return slot.get();
}

int ExportPlain(KVCLM_PRIVATE_KEY key, Bytes* out) {
    std::uint32_t n = 0;
    int rc =
        kvclm_PrivateKeyExport(key, KVCLM_FORMAT_SSH2_CONTAINER, 0, nullptr, 1, nullptr, &n, 0);
    if (rc != KVCLM_E_SHORT_BUFFER) return rc;
    out->resize(n);
    rc =
        kvclm_PrivateKeyExport(key, KVCLM_FORMAT_SSH2_CONTAINER, 0, nullptr, 1, out->data(), &n, 0);
    out->resize(n);
    return rc;
}

int ExportProtected(KVCLM_PRIVATE_KEY key, std::string_view pass, Bytes* out,
                    std::uint32_t iterations) {
    ExportParams p{KVCLM_EXPORT_PARAMS_SIZE,
                   reinterpret_cast<const unsigned char*>(pass.data()),
                   static_cast<std::uint32_t>(pass.size()),
                   KVCLM_PASSPHRASE_TEXT,
                   0,
                   iterations,
                   0,
                   0,
                   4,
                   24,
                   0,
                   20};
    std::uint32_t n = 0;
    int rc = kvclm_PrivateKeyExport(key, KVCLM_FORMAT_SSH2_CONTAINER, 0, &p, 0, nullptr, &n, 0);
    if (rc != KVCLM_E_SHORT_BUFFER) return rc;
    out->resize(n);
    rc = kvclm_PrivateKeyExport(key, KVCLM_FORMAT_SSH2_CONTAINER, 0, &p, 0, out->data(), &n, 0);
    out->resize(n);
    return rc;
}

int Import(std::string_view pass, const Bytes& blob, PrivateKey* out) {
    KVCLM_PRIVATE_KEY key = nullptr;
    const int rc = kvclm_PrivateKeyImport(
        &key, pass.empty() ? nullptr : reinterpret_cast<const unsigned char*>(pass.data()),
        static_cast<std::uint32_t>(pass.size()), pass.empty() ? 0 : 1, blob.data(),
        static_cast<std::uint32_t>(blob.size()), 0, 0, 0);
    out->reset(key);
    return rc;
}

Bytes PublicBlob(KVCLM_PRIVATE_KEY key) {
    KVCLM_PUBLIC_KEY pub = nullptr;
    EXPECT_EQ(kvclm_PrivateKeyDerivePublic(&pub, key, 0), 0);
    PublicKey owner(pub);
    std::uint32_t n = 0;
    EXPECT_EQ(kvclm_PublicKeyExport(pub, KVCLM_FORMAT_SSH_PUBLIC, 0, nullptr, &n, 0),
              KVCLM_E_SHORT_BUFFER);
    Bytes blob(n);
    EXPECT_EQ(kvclm_PublicKeyExport(pub, KVCLM_FORMAT_SSH_PUBLIC, 0, blob.data(), &n, 0), 0);
    return blob;
}

KeyInfo InfoOf(KVCLM_PRIVATE_KEY key) {
    KeyInfo info{};
    info.size = KVCLM_KEYINFO_SIZE;
    info.magic = KVCLM_KEYINFO_MAGIC;
    EXPECT_EQ(kvclm_PrivateKeyGetData(key, KVCLM_INFO_LEVEL, &info, 0), 0);
    return info;
}

PrivateKey GenerateCurve(int type, std::uint32_t bits) {
    KVCLM_PRIVATE_KEY key = nullptr;
    EXPECT_EQ(kvclm_CurveKeyGenerate(&key, type, bits, 0), 0);
    return PrivateKey(key);
}

Bytes SignSsh(KVCLM_PRIVATE_KEY key, const Bytes& data) {
    std::uint32_t n = 0;
    if (kvclm_PrivateKeySignSsh(key, 0, data.data(), static_cast<std::uint32_t>(data.size()),
                                nullptr, &n, 0) != KVCLM_E_SHORT_BUFFER)
        return {};
    Bytes out(n);
    if (kvclm_PrivateKeySignSsh(key, 0, data.data(), static_cast<std::uint32_t>(data.size()),
                                out.data(), &n, 0) != 0)
        return {};
    out.resize(n);
    return out;
}

Bytes SignDss(KVCLM_PRIVATE_KEY key, const Bytes& data) {
    Bytes sig(40);
    std::uint32_t n = 40;
    if (kvclm_PrivateKeySign(key, KVCLM_SIGN_DSS, nullptr, data.data(),
                             static_cast<std::uint32_t>(data.size()), sig.data(), &n, 0) != 0)
        return {};
    sig.resize(n);
    return sig;
}

Bytes SignRsa(KVCLM_PRIVATE_KEY key, const Bytes& data, bool hashFirst, bool md5) {
    RsaSignParams p{KVCLM_RSA_SIGN_PARAMS_SIZE,
                    KVCLM_RSA_SIGN_PARAMS_MAGIC,
                    hashFirst ? 1u : 0u,
                    md5 ? 1u : 0u,
                    -1,
                    -1,
                    0,
                    0,
                    4,
                    0};
    std::uint32_t n = InfoOf(key).bits / 4;
    Bytes sig(n);
    if (kvclm_PrivateKeySign(key, KVCLM_SIGN_RSA_PKCS1, &p, data.data(),
                             static_cast<std::uint32_t>(data.size()), sig.data(), &n, 0) != 0)
        return {};
    sig.resize(n);
    return sig;
}

Pkey OpenSslPublic(const Bytes& blob) {
    BlobReader r{blob};
    const Bytes name = r.Next();
    const std::string type(name.begin(), name.end());
    if (type == "ssh-rsa") {
        BIGNUM* e = r.Bn();
        BIGNUM* n = r.Bn();
        return FromParams("RSA", {{OSSL_PKEY_PARAM_RSA_E, e}, {OSSL_PKEY_PARAM_RSA_N, n}});
    }
    BIGNUM* p = r.Bn();
    BIGNUM* q = r.Bn();
    BIGNUM* g = r.Bn();
    BIGNUM* y = r.Bn();
    return FromParams("DSA", {{OSSL_PKEY_PARAM_FFC_P, p},
                              {OSSL_PKEY_PARAM_FFC_Q, q},
                              {OSSL_PKEY_PARAM_FFC_G, g},
                              {OSSL_PKEY_PARAM_PUB_KEY, y}});
}

bool VerifyDss(const Bytes& blob, const Bytes& data, const Bytes& rs) {
    if (rs.size() != 40) return false;
    DSA_SIG* sig = DSA_SIG_new();
    DSA_SIG_set0(sig, BN_bin2bn(rs.data(), 20, nullptr), BN_bin2bn(rs.data() + 20, 20, nullptr));
    unsigned char* der = nullptr;
    const int n = i2d_DSA_SIG(sig, &der);
    DSA_SIG_free(sig);
    Pkey key = OpenSslPublic(blob);
    const bool ok = key && Verify(key.get(), EVP_sha1(), data, Bytes(der, der + n), 0);
    OPENSSL_free(der);
    return ok;
}

bool VerifyRsa(const Bytes& blob, const Bytes& data, const Bytes& sig, const EVP_MD* md) {
    Pkey key = OpenSslPublic(blob);
    return key && Verify(key.get(), md, data, sig, RSA_PKCS1_PADDING);
}

Bytes RsaEncrypt(const Bytes& blob, const Bytes& plain) {
    Pkey key = OpenSslPublic(blob);
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_from_pkey(nullptr, key.get(), nullptr);
    Bytes out(static_cast<std::size_t>(EVP_PKEY_get_size(key.get())));
    std::size_t n = out.size();
    if (EVP_PKEY_encrypt_init(ctx) != 1 ||
        EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PADDING) != 1 ||
        EVP_PKEY_encrypt(ctx, out.data(), &n, plain.data(), plain.size()) != 1)
        n = 0;
    EVP_PKEY_CTX_free(ctx);
    out.resize(n);
    return out;
}

Bytes Unhex(std::string_view hex) {
    Bytes out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(
            static_cast<std::uint8_t>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
    return out;
}

std::string Base64(const Bytes& data, int width) {
    std::uint32_t n = 0;
    EXPECT_EQ(kvclm_GetBase64Length(static_cast<std::uint32_t>(data.size()), &n, width, 0), 0);
    std::string text(n, '\0');
    EXPECT_EQ(kvclm_EncodeBase64(data.data(), static_cast<std::uint32_t>(data.size()), text.data(),
                                 &n, width, 0),
              0);
    text.resize(n - 1);
    return text;
}

Bytes Unbase64(std::string_view text) {
    std::uint32_t n = 0;
    const int rc =
        kvclm_DecodeBase64(text.data(), static_cast<std::uint32_t>(text.size()), nullptr, &n);
    if (rc == 0) return {};
    EXPECT_EQ(rc, KVCLM_E_SHORT_BUFFER);
    Bytes out(n);
    EXPECT_EQ(
        kvclm_DecodeBase64(text.data(), static_cast<std::uint32_t>(text.size()), out.data(), &n),
        0);
    return out;
}

std::string ArmorPrivate(const Bytes& blob, std::string_view comment) {
    std::string s = "---- BEGIN SSH2 ENCRYPTED PRIVATE KEY ----\n";
    s += "Comment: \"" + std::string(comment) + "\"\n";
    s += Base64(blob) + "\n---- END SSH2 ENCRYPTED PRIVATE KEY ----\n";
    return s;
}

Bytes ReadArmoredFile(const std::string& path) {
    std::istringstream in(ReadFile(path));
    std::string line, body;
    bool continued = false;
    while (std::getline(in, line)) {
        if (line.rfind("----", 0) == 0) continue;
        const bool header = continued || line.find(':') != std::string::npos;
        continued = header && !line.empty() && line.back() == '\\';
        if (!header) body += line + "\n";
    }
    return Unbase64(body);
}

Bytes BlobOfOpenSshLine(const std::string& line) {
    std::istringstream in(line);
    std::string type, body;
    in >> type >> body;
    return Unbase64(body);
}

std::string ReadFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

void WriteFile(const std::string& path, std::string_view text) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f << text;
}

TempDir::TempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "kvclm-test-XXXXXX").string();
    char* made = mkdtemp(tmpl.data());
    EXPECT_NE(made, nullptr);
    m_path = tmpl;
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(m_path, ec);
}

int RunCommand(const std::string& command, std::string* output) {
    FILE* p = popen((command + " 2>/dev/null").c_str(), "r");
    if (p == nullptr) return -1;
    std::string out;
    char buf[4096];
    std::size_t n;
    while ((n = fread(buf, 1, sizeof(buf), p)) > 0) out.append(buf, n);
    const int status = pclose(p);
    if (output != nullptr) *output = out;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace kvtest
