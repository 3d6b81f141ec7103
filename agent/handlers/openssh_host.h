// What the OpenSSH front end asks of the agent beyond the native requests, answered by the
// application: key names, the confirm mark, lock and unlock, and refusals for the log.
#pragma once

#include "agent/openssh/agent_host.h"

namespace kv {

class CAgentApp;

class AgentOpenSshHost : public OpenSshAgentHost {
  public:
    explicit AgentOpenSshHost(CAgentApp& app) : m_app(app) {}

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

  private:
    CAgentApp& m_app;
};

}  // namespace kv
