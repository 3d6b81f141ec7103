// The whole of an OpenSSH certificate a client adds with its key. OpenSSH clients read every
// certificate in the key list and refuse the list as a whole for one they cannot read or whose
// CA signature does not verify, so such a certificate would cost the user every key:
//   string name, string nonce, the key's public fields, uint64 serial, uint32 type (1 user,
//   2 host), string key id, string principals, uint64 valid after, uint64 valid before,
//   string critical options, string extensions, string reserved, string CA key,
//   string signature (by the CA key, over everything before it); nothing after.
#pragma once

#include <cstdint>
#include <span>

namespace kv {

// True when every field is well formed, the certificate fits the store, and its signature
// verifies with its CA key (through the module).
bool CertificateIsSound(std::span<const uint8_t> certificate);

}  // namespace kv
