// How a SIGN_REQUEST becomes a native private-key operation, and how the operation's result
// becomes the SSH signature blob (string algorithm, string signature).
//   ssh-dss                 "sign": the module hashes with SHA-1 and returns r || s
//   ssh-rsa                 "hash-and-sign": SHA-1 and its DigestInfo, done by the module
//   rsa-sha2-256 / -512     "sign" over DigestInfo || digest, made here
//   ssh-ed25519             "sign": the module gives the 64-byte signature
//   ecdsa-sha2-nistpN       "sign": the module hashes with the curve's hash and gives
//                           mpint r, mpint s
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string_view>

#include "agent/openssh/key_blobs.h"
#include "platform/secure_memory.h"

namespace kv {

// A digest of `data` with a KVCLM_HASH_* algorithm; nullopt when it cannot be computed.
using DigestFunction =
    std::function<std::optional<Bytes>(int algorithm, std::span<const uint8_t> data)>;

// The cryptographic module's digests.
std::optional<Bytes> ModuleDigest(int algorithm, std::span<const uint8_t> data);

struct SignPlan {
    std::string_view operation;  // native operation name
    std::string_view algorithm;  // signature algorithm name in the blob
    Bytes data;                  // what the native request asks to be signed
};

// nullopt when the key type is unsupported, the data is empty or the digest fails. RSA
// flags follow OpenSSH: SHA-256 wins when both are set; the other key types ignore them.
std::optional<SignPlan> PlanSignature(SshKeyType type, std::span<const uint8_t> data,
                                      uint32_t flags, const DigestFunction& digest);

// nullopt when the result cannot be a signature of the planned kind.
std::optional<Bytes> SignatureBlob(const SignPlan& plan, std::span<const uint8_t> result);

}  // namespace kv
