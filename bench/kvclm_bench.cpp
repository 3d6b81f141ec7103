// What one agent signature costs: import of a protected blob (derived key remembered from an
// earlier import), signature, free; against a plain OpenSSL signature with the key loaded. Also
// with many keys signing in turn.
#include <benchmark/benchmark.h>
#include <openssl/dsa.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "kvclm/kvclm.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::string_view kPass = "benchmark passphrase";
const Bytes kData(64, 0x42);  // about the size of an SSH user-auth request's session part

void Check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "kvclm_bench: %s failed\n", what);
        std::exit(1);
    }
}

KVCLM_PRIVATE_KEY GenerateModuleKey(int type, std::uint32_t bits) {
    KVCLM_PRIVATE_KEY key = nullptr;
    int rc;
    if (type == KVCLM_KEY_RSA) {
        RsaGenParams p{};
        p.size = KVCLM_RSA_GEN_PARAMS_SIZE;
        kvclm_RSAKeyStructInit(KVCLM_GEN_KIND_RSA, &p, 0);
        p.modulusBits = bits;
        rc = kvclm_PrivateKeyGenerate(&key, type, KVCLM_GEN_KIND_RSA, &p, 0, nullptr, nullptr, 0);
    } else {
        DssGenParams p{};
        p.size = KVCLM_DSS_GEN_PARAMS_SIZE;
        kvclm_DSSKeyStructInit(KVCLM_GEN_KIND_DSS, &p, 0);
        p.primeBits = bits;
        rc = kvclm_PrivateKeyGenerate(&key, type, KVCLM_GEN_KIND_DSS, &p, 0, nullptr, nullptr, 0);
    }
    Check(rc == 0, "generation");
    return key;
}

// The key protected with kPass, under a salt of its own.
Bytes Protect(KVCLM_PRIVATE_KEY key) {
    ExportParams p{KVCLM_EXPORT_PARAMS_SIZE,
                   reinterpret_cast<const unsigned char*>(kPass.data()),
                   static_cast<std::uint32_t>(kPass.size()),
                   KVCLM_PASSPHRASE_TEXT,
                   0,
                   10000,
                   0,
                   0,
                   4,
                   24,
                   0,
                   20};
    std::uint32_t n = 0;
    Check(kvclm_PrivateKeyExport(key, 2, 0, &p, 0, nullptr, &n, 0) == KVCLM_E_SHORT_BUFFER, "size");
    Bytes blob(n);
    Check(kvclm_PrivateKeyExport(key, 2, 0, &p, 0, blob.data(), &n, 0) == 0, "export");
    return blob;
}

Bytes ProtectedBlob(int type, std::uint32_t bits) {
    KVCLM_PRIVATE_KEY key = GenerateModuleKey(type, bits);
    Bytes blob = Protect(key);
    kvclm_PrivateKeyFree(key, 0);
    return blob;
}

// Open, sign and release, as the agent does for every request.
bool ModuleSignOnce(const Bytes& blob, int type, std::uint32_t bits) {
    KVCLM_PRIVATE_KEY key = nullptr;
    if (kvclm_PrivateKeyImport(&key, reinterpret_cast<const unsigned char*>(kPass.data()),
                               static_cast<std::uint32_t>(kPass.size()), 1, blob.data(),
                               static_cast<std::uint32_t>(blob.size()), 0, 0, 0) != 0)
        return false;
    std::uint8_t sig[1024];
    std::uint32_t n = type == KVCLM_KEY_RSA ? bits / 4 : 40;
    int rc;
    if (type == KVCLM_KEY_RSA) {
        RsaSignParams p{
            KVCLM_RSA_SIGN_PARAMS_SIZE, KVCLM_RSA_SIGN_PARAMS_MAGIC, 1, 0, -1, -1, 0, 0, 4, 0};
        rc = kvclm_PrivateKeySign(key, 2, &p, kData.data(), 64, sig, &n, 0);
    } else {
        rc = kvclm_PrivateKeySign(key, 1, nullptr, kData.data(), 64, sig, &n, 0);
    }
    kvclm_PrivateKeyFree(key, 0);
    benchmark::DoNotOptimize(sig);
    return rc == 0;
}

void BM_ModuleImportSignFree(benchmark::State& state, int type, std::uint32_t bits) {
    const Bytes blob = ProtectedBlob(type, bits);
    Check(ModuleSignOnce(blob, type, bits), "warm-up");
    for (auto _ : state) Check(ModuleSignOnce(blob, type, bits), "import+sign+free");
}

// Keys that sign in turn, as a script working through a large store does: every import
// should find its key remembered from the round before.
void BM_ModuleImportSignFreeInTurn(benchmark::State& state) {
    KVCLM_PRIVATE_KEY key = GenerateModuleKey(KVCLM_KEY_RSA, 2048);
    std::vector<Bytes> blobs;
    for (std::int64_t i = 0; i < state.range(0); ++i) blobs.push_back(Protect(key));
    kvclm_PrivateKeyFree(key, 0);
    Check(blobs.size() < 2 || blobs[0] != blobs[1], "a salt of its own");
    for (const Bytes& blob : blobs) Check(ModuleSignOnce(blob, KVCLM_KEY_RSA, 2048), "warm-up");
    std::size_t next = 0;
    for (auto _ : state) {
        Check(ModuleSignOnce(blobs[next], KVCLM_KEY_RSA, 2048), "import+sign+free");
        next = (next + 1) % blobs.size();
    }
}

EVP_PKEY* OpenSslKey(int type, std::uint32_t bits) {
    EVP_PKEY* key = nullptr;
    if (type == KVCLM_KEY_RSA) return EVP_RSA_gen(bits);
    EVP_PKEY_CTX* pctx = EVP_PKEY_CTX_new_from_name(nullptr, "DSA", nullptr);
    EVP_PKEY* params = nullptr;
    Check(EVP_PKEY_paramgen_init(pctx) == 1 &&
              EVP_PKEY_CTX_set_dsa_paramgen_bits(pctx, static_cast<int>(bits)) == 1 &&
              EVP_PKEY_CTX_set_dsa_paramgen_q_bits(pctx, 160) == 1 &&
              EVP_PKEY_paramgen(pctx, &params) == 1,
          "DSA parameters");
    EVP_PKEY_CTX* kctx = EVP_PKEY_CTX_new_from_pkey(nullptr, params, nullptr);
    Check(EVP_PKEY_keygen_init(kctx) == 1 && EVP_PKEY_keygen(kctx, &key) == 1, "DSA key");
    EVP_PKEY_CTX_free(kctx);
    EVP_PKEY_free(params);
    EVP_PKEY_CTX_free(pctx);
    return key;
}

// SHA-1 digest and signature with a key that stays loaded.
void BM_OpenSslSign(benchmark::State& state, int type, std::uint32_t bits) {
    EVP_PKEY* key = OpenSslKey(type, bits);
    Check(key != nullptr, "OpenSSL key");
    std::uint8_t sig[1024];
    for (auto _ : state) {
        EVP_MD_CTX* ctx = EVP_MD_CTX_new();
        std::size_t n = sizeof(sig);
        Check(EVP_DigestSignInit(ctx, nullptr, EVP_sha1(), nullptr, key) == 1 &&
                  EVP_DigestSign(ctx, sig, &n, kData.data(), kData.size()) == 1,
              "OpenSSL sign");
        EVP_MD_CTX_free(ctx);
        benchmark::DoNotOptimize(sig);
    }
    EVP_PKEY_free(key);
}

}  // namespace

BENCHMARK_CAPTURE(BM_OpenSslSign, rsa2048, KVCLM_KEY_RSA, 2048)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_ModuleImportSignFree, rsa2048, KVCLM_KEY_RSA, 2048)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ModuleImportSignFreeInTurn)
    ->Arg(250)
    ->Arg(300)
    ->Arg(1000)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_OpenSslSign, rsa3072, KVCLM_KEY_RSA, 3072)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_ModuleImportSignFree, rsa3072, KVCLM_KEY_RSA, 3072)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_OpenSslSign, dsa1024, KVCLM_KEY_DSS, 1024)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_ModuleImportSignFree, dsa1024, KVCLM_KEY_DSS, 1024)
    ->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
