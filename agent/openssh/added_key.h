// A key as ADD_IDENTITY and ADD_ID_CONSTRAINED carry it, turned into what the native add
// request needs: the public key blob and the module's plain private key container.
//   "ssh-rsa": mpint n, e, d, iqmp, p, q        "ssh-dss": mpint p, q, g, y, x
//   "ssh-ed25519": string key, string seed || key
//   "ecdsa-sha2-nistpN": string "nistpN", string Q, mpint d
// and the certified forms, whose public fields come from the certificate:
//   "<type>-cert-v01@openssh.com": string certificate, then
//       RSA mpint d, iqmp, p, q; DSS mpint x; Ed25519 string key, string seed || key;
//       ECDSA mpint d
// followed by string comment.
#pragma once

#include <string>

#include "agent/openssh/key_blobs.h"
#include "agent/openssh/ssh_wire.h"
#include "platform/secure_memory.h"

namespace kv {

struct AddedKey {
    SshKeyType type = SshKeyType::kUnsupported;
    Bytes public_blob;  // the plain key's, also for a certified key
    Bytes certificate;  // empty unless the key came with one
    SecureBytes container;
    std::string comment;
};

// Reads the key and its comment. On failure `refusal` says why, for the event log.
[[nodiscard]] bool ReadAddedKey(SshReader& in, AddedKey& key, std::string& refusal);

}  // namespace kv
