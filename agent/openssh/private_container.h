// The cryptographic module's plain private key container, built from the numbers of a key
// as the OpenSSH agent protocol carries them. Only byte shuffling: no arithmetic is needed.
//
//   uint32 magic 0x3f6ff9eb, uint32 total length, string key type, string cipher "none",
//   string cipher blob = { string payload = the key numbers }
// Numbers in the payload are a 32-bit bit count and the minimal big-endian magnitude.
// Ed25519 and ECDSA containers name the key by its SSH name and carry the OpenSSH private
// fields as they are (see kvclm.h).
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "platform/secure_memory.h"

namespace kv {

// Big-endian magnitudes with OpenSSH's meaning: iqmp = q^-1 mod p.
struct RsaNumbers {
    std::span<const uint8_t> n, e, d, iqmp, p, q;
};

struct DssNumbers {
    std::span<const uint8_t> p, q, g, y, x;
};

SecureBytes BuildRsaContainer(const RsaNumbers& key);
SecureBytes BuildDssContainer(const DssNumbers& key);
// `fields`: the OpenSSH private fields after the type name.
SecureBytes BuildCurveContainer(std::string_view ssh_name, const SecureBytes& fields);

}  // namespace kv
