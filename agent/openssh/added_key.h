// A key as ADD_IDENTITY and ADD_ID_CONSTRAINED carry it, turned into what the native add
// request needs: the public key blob and the module's plain private key container.
//   "ssh-rsa": mpint n, e, d, iqmp, p, q        "ssh-dss": mpint p, q, g, y, x
// followed by string comment.
#pragma once

#include <string>

#include "agent/openssh/key_blobs.h"
#include "agent/openssh/ssh_wire.h"
#include "platform/secure_memory.h"

namespace kv {

struct AddedKey {
    SshKeyType type = SshKeyType::kUnsupported;
    Bytes public_blob;
    SecureBytes container;
    std::string comment;
};

// Reads the key and its comment. On failure `refusal` says why, for the event log.
[[nodiscard]] bool ReadAddedKey(SshReader& in, AddedKey& key, std::string& refusal);

}  // namespace kv
