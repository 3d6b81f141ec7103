// OpenSSL checks of the signatures an agent returns, and RSA keys made in bulk for the list
// benchmark. A bench tool: product code never links OpenSSL outside kvclm/.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "agent_socket.h"

struct evp_pkey_st;  // OpenSSL's EVP_PKEY

namespace kv::bench {

class KeyVerifier {
  public:
    // From an SSH public key blob (RSA, DSA, Ed25519, ECDSA); Valid() is false otherwise.
    explicit KeyVerifier(const Bytes& blob);
    ~KeyVerifier();
    KeyVerifier(const KeyVerifier&) = delete;
    KeyVerifier& operator=(const KeyVerifier&) = delete;

    bool Valid() const { return m_key != nullptr; }
    const std::string& Type() const { return m_type; }
    // True when `signature_blob` (string algorithm, string signature) is a good signature of
    // `data` with the algorithm that `flags` ask for.
    bool Verify(const Bytes& data, const Bytes& signature_blob, uint32_t flags) const;

  private:
    std::string m_type;
    ::evp_pkey_st* m_key = nullptr;
};

// `count` ADD_IDENTITY messages of RSA-1024 keys with comments "bulk <n>". Small keys keep
// a list of 1,000 under the 256 KiB message limit of the clients.
std::vector<Bytes> MakeRsaIdentities(int count);

}  // namespace kv::bench
