// Performs one private-key operation for a client: opens the stored container with the agent
// passphrase, checks the operation name, its options and the SSH1 rules, asks the access
// policy, then lets the module sign, decrypt or answer the SSH1 challenge.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string_view>

#include "cryptomodule/private_key.h"
#include "keys/operation_name.h"
#include "keys/private_key_blob.h"
#include "platform/secure_memory.h"

namespace kv {

class EventLog;
class KeyPair;
class KeyUseGuard;
class SettingsTable;

// Decides whether `requester` may run `operation` with `key` (absent when the container has
// no owner). The caller's policy: it may ask the user and log a refusal.
using AccessCheck =
    std::function<bool(const KeyPair* key, std::string_view operation, std::string_view requester)>;

struct OperationContext {
    const SettingsTable& settings;  // AllowSSH1Access, FipsMode
    EventLog& log;
    AccessCheck access;  // empty: every operation is allowed
    // Checked after the access check (which may run a prompt) and before the module
    // computes anything; an operation it stops fails. Null: nothing to check.
    const KeyUseGuard* guard = nullptr;
};

struct OperationResult {
    bool ok = false;
    SecureBytes output;  // empty unless ok
};

// A private-key computation made ready: its own opened key, the operation and a copy of the
// data. Compute() touches nothing else, so it may run on another thread (once at a time).
class PreparedOperation {
  public:
    OperationResult Compute() const;
    // Long enough to hold up other clients if computed on the event loop: a key above 2,048
    // bits (RSA or DSA); RSA signs in milliseconds (3,072 bits) to a fifth of a second
    // (16,384 bits).
    bool Slow() const { return m_info.bits > 2048; }

  private:
    friend std::optional<PreparedOperation> Prepare(const PrivateKeyBlob&, std::string_view,
                                                    std::string_view, Passphrase,
                                                    std::span<const std::uint8_t>,
                                                    const OperationContext&);
    OperationResult Sign() const;
    OperationResult Decrypt() const;
    OperationResult Ssh1Response() const;

    PrivateKey m_key;
    ModuleKeyInfo m_info{};
    ParsedOperation m_parsed;
    SecureBytes m_data;
};

// Everything but the computation, on the caller's thread: opens the key, checks the name,
// the options the key cannot honour aside, the SSH1 rules, the access policy and the guard.
// nullopt when the operation fails before computing. `passphrase` is the agent passphrase,
// empty when the agent holds none.
std::optional<PreparedOperation> Prepare(const PrivateKeyBlob& blob, std::string_view operation,
                                         std::string_view requester, Passphrase passphrase,
                                         std::span<const std::uint8_t> data,
                                         const OperationContext& context);

// Prepare, then Compute on this thread.
OperationResult Perform(const PrivateKeyBlob& blob, std::string_view operation,
                        std::string_view requester, Passphrase passphrase,
                        std::span<const std::uint8_t> data, const OperationContext& context);

}  // namespace kv
