// New key pairs made by the module. Generation may take seconds: run it off the UI thread.
#pragma once

#include <cstdint>
#include <functional>

#include "cryptomodule/crypto_module.h"
#include "cryptomodule/private_key.h"

namespace kv {

// Called on the generating thread every few hundred milliseconds with the module's progress
// value; returning false abandons the generation, which then fails with KVCLM_E_CANCELLED.
using GenerationProgress = std::function<bool(int value)>;

// RSA with e = 65537; the module takes 768, 1024, 2048 and 3072 bits.
ModuleResult<PrivateKey> GenerateRsaKey(std::uint32_t modulusBits,
                                        const GenerationProgress& progress = {},
                                        CryptoModule& module = Module());
// DSA with a 160-bit subprime; the module takes 768, 1024, 2048 and 3072 bits.
ModuleResult<PrivateKey> GenerateDssKey(std::uint32_t primeBits,
                                        const GenerationProgress& progress = {},
                                        CryptoModule& module = Module());

// Ed25519 (type KVCLM_KEY_ED25519, 256 bits) or ECDSA (KVCLM_KEY_ECDSA, 256, 384 or 521 bits).
// Quick: no progress.
ModuleResult<PrivateKey> GenerateCurveKey(int type, std::uint32_t bits,
                                          CryptoModule& module = Module());

}  // namespace kv
