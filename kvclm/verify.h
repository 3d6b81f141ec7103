// Checking an SSH signature with a public key. The agent checks the CA signature of each
// certificate a client adds: OpenSSH clients refuse a whole key list that holds one which does
// not verify.
#pragma once

#include "kvclm/internal.h"

namespace kvclm {

// `publicBlob` is a blob the module accepted (kvclm_PublicKeyImport); `signature` the SSH
// signature blob. KVCLM_OK when it verifies, KVCLM_E_BAD_SIGNATURE when it does not.
int VerifySshSignature(const Bytes& publicBlob, const std::uint8_t* data, std::size_t n,
                       const std::uint8_t* signature, std::size_t signatureLength);

}  // namespace kvclm
