#include "cryptomodule/key_generation.h"

namespace kv {

namespace {

constexpr std::uint32_t kDssSubprimeBits = 160;

// The module's C callback. Nothing may unwind through the module, so a throwing progress
// function counts as a request to stop.
int ProgressTrampoline(int value, void* context) {
    const auto* progress = static_cast<const GenerationProgress*>(context);
    if (progress == nullptr || !*progress) return 1;
    try {
        return (*progress)(value) ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

ModuleResult<PrivateKey> Generate(const KvclmFunctions& f, CryptoModule& module, int algorithm,
                                  int kind, void* record, const GenerationProgress& progress) {
    ModuleResult<PrivateKey> result;
    KVCLM_PRIVATE_KEY handle = nullptr;
    result.code = f.PrivateKeyGenerate(&handle, algorithm, kind, record, 0, &ProgressTrampoline,
                                       const_cast<GenerationProgress*>(&progress), 0);
    if (result.ok()) result.value = PrivateKey(module, handle);
    return result;
}

}  // namespace

ModuleResult<PrivateKey> GenerateRsaKey(std::uint32_t modulusBits,
                                        const GenerationProgress& progress, CryptoModule& module) {
    const KvclmFunctions* f = module.Functions();
    if (f == nullptr) return {};
    RsaGenParams record{};
    record.size = KVCLM_RSA_GEN_PARAMS_SIZE;
    ModuleResult<PrivateKey> result;
    result.code = f->RSAKeyStructInit(KVCLM_GEN_KIND_RSA, &record, 0);
    if (result.ok()) {
        record.modulusBits = modulusBits;
        result = Generate(*f, module, KVCLM_KEY_RSA, KVCLM_GEN_KIND_RSA, &record, progress);
    }
    // Wiped whatever happened: the record is scratch space the module may have written to.
    static_cast<void>(f->RSAKeyStructZeroize(KVCLM_GEN_KIND_RSA, &record, 0));
    return result;
}

ModuleResult<PrivateKey> GenerateDssKey(std::uint32_t primeBits, const GenerationProgress& progress,
                                        CryptoModule& module) {
    const KvclmFunctions* f = module.Functions();
    if (f == nullptr) return {};
    DssGenParams record{};
    record.size = KVCLM_DSS_GEN_PARAMS_SIZE;
    record.reserved2 = 48;
    ModuleResult<PrivateKey> result;
    result.code = f->DSSKeyStructInit(KVCLM_GEN_KIND_DSS, &record, 0);
    if (result.ok()) {
        record.primeBits = primeBits;
        record.subprimeBits = kDssSubprimeBits;
        result = Generate(*f, module, KVCLM_KEY_DSS, KVCLM_GEN_KIND_DSS, &record, progress);
    }
    static_cast<void>(f->DSSKeyStructZeroize(KVCLM_GEN_KIND_DSS, &record, 0));
    return result;
}

ModuleResult<PrivateKey> GenerateCurveKey(int type, std::uint32_t bits, CryptoModule& module) {
    const KvclmFunctions* f = module.Functions();
    if (f == nullptr) return {};
    KVCLM_PRIVATE_KEY handle = nullptr;
    ModuleResult<PrivateKey> result;
    result.code = f->CurveKeyGenerate(&handle, type, bits, 0);
    if (result.ok()) result.value = PrivateKey(module, handle);
    return result;
}

}  // namespace kv
