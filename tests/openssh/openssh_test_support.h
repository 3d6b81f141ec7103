// Shared by the OpenSSH front end's tests: a native agent made of fake handlers on a real
// dispatcher, a fake host, key files made by ssh-keygen, and message builders.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "agent/agent_key_entry.h"
#include "agent/openssh/agent_host.h"
#include "agent/openssh/ssh_wire.h"
#include "agent/request_dispatcher.h"
#include "platform/secure_memory.h"

namespace kv::test {

// The module built with these tests; call before anything hashes or imports keys.
void UseBuiltModule();

struct FakeKey {
    AgentKeyEntry entry;
    std::string name;
    Bytes certificate;
};

// List, add, delete and private-key operation handlers over a key list, recording what
// they were asked. Policy knobs mimic the native handlers' outcomes.
class FakeNativeAgent {
  public:
    FakeNativeAgent();

    void AddKey(std::span<const uint8_t> blob, std::string name, std::string comment);

    RequestDispatcher dispatcher;
    std::vector<FakeKey> keys;

    bool locked = false;               // private-key operations answer without a status
    bool allow_add = true;             // add answers status 1 when off
    bool allow_remove = false;         // delete answers status 1 when off
    std::optional<int32_t> op_status;  // forces status 3 or 4 for operations
    // The operation's result; by default 40 bytes for DSS-looking data, else 256.
    std::function<SecureBytes(const std::string& operation, std::span<const uint8_t> data)> sign;

    // What arrived.
    std::vector<std::string> origins;  // the requester of every request, in order
    std::string last_operation;
    Bytes last_op_blob;
    Bytes last_op_data;
    std::optional<AgentKeyEntry> last_added;
    SecureBytes last_added_private;
    std::vector<std::string> deleted;  // "*all*" or the name
};

class FakeHost : public OpenSshAgentHost {
  public:
    explicit FakeHost(FakeNativeAgent& agent) : m_agent(agent) {}

    std::vector<StoredKeyName> StoredKeyNames() override;
    void ExpectAdd(std::span<const uint8_t> public_blob, bool confirm,
                   std::span<const uint8_t> certificate) override;
    bool RequireConfirmation(std::span<const uint8_t> public_blob) override;
    bool SetLifetime(std::span<const uint8_t> public_blob, int32_t seconds) override;
    bool AttachCertificate(std::span<const uint8_t> public_blob,
                           std::span<const uint8_t> certificate) override;
    bool Lock() override;
    UnlockOutcome Unlock(const SecureBytes& passphrase) override;
    void LogRefusal(std::string_view request, std::string_view reason,
                    const std::string& origin) override;

    // Each ExpectAdd: "confirm", "certificate", both joined by "+", or "none" for the end.
    std::vector<std::string> expected_adds;
    std::vector<Bytes> confirmed;
    bool confirm_succeeds = true;
    std::vector<std::pair<Bytes, int32_t>> lifetimes;
    bool lifetime_succeeds = true;
    bool certificate_succeeds = true;
    int locks = 0;
    std::string agent_passphrase = "correct horse";
    bool first_use = false;
    bool prompt_open = false;  // an unlock prompt is open: UNLOCK is not checked
    std::vector<std::string> unlock_attempts;
    // Unlock calls so far, readable from a client thread while the event loop runs.
    std::atomic<int> unlock_calls{0};
    std::vector<std::string> refusals;  // "REQUEST: reason [origin]"

  private:
    FakeNativeAgent& m_agent;
};

// A key file written by ssh-keygen (openssh-key-v1, no passphrase), from tests/openssh/keys.
struct KeyFixture {
    Bytes public_blob;
    SecureBytes private_wire;  // the key as ADD_IDENTITY carries it, comment included
    std::string comment;
};
KeyFixture LoadKeyFixture(const std::string& name);

// A message: the type byte, then the fields written by `fill`.
SecureBytes Message(uint8_t type, const std::function<void(SshWriter&)>& fill = {});

inline std::span<const uint8_t> Span(std::string_view text) { return AsBytes(text); }

}  // namespace kv::test
