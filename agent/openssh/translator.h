// The OpenSSH agent protocol as a translator: every request becomes the native request of
// the same meaning and goes through the native handlers, whose replies become OpenSSH
// replies. What the native protocol cannot say goes through OpenSshAgentHost.
//
//   REQUEST_IDENTITIES     list; comments read "name: comment" ("name" without a comment); a
//                          key with a certificate is listed twice: plain, then certificate
//   SIGN_REQUEST           private-key operation (see signature.h); a certificate stands for
//                          the stored key that carries it
//   ADD_IDENTITY / ADD_ID_CONSTRAINED
//                          add, as "KeyFromAgent: <comment>"; lifetime becomes the key's
//                          lifetime, confirm marks the key through the host; a certified key
//                          is added as its plain key, and the host keeps the certificate
//   REMOVE_IDENTITY        delete by blob and the name of each stored key with that blob (or
//                          carrying that certificate)
//   REMOVE_ALL_IDENTITIES  delete "*all*"
//   LOCK / UNLOCK          the host's Lock and Unlock, UNLOCK slowed by UnlockThrottle
//   EXTENSION "query"      lists "query"; every other extension fails
// Anything else, and anything malformed, gets SSH_AGENT_FAILURE.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "agent/openssh/agent_host.h"
#include "agent/openssh/native_channel.h"
#include "agent/openssh/signature.h"
#include "agent/openssh/ssh_wire.h"
#include "agent/openssh/unlock_throttle.h"
#include "agent/request_dispatcher.h"

namespace kv {

class OpenSshTranslator {
  public:
    struct Options {
        DigestFunction digest = ModuleDigest;
        UnlockThrottle::Clock clock = [] { return std::chrono::steady_clock::now(); };
    };

    OpenSshTranslator(const RequestDispatcher& dispatcher, OpenSshAgentHost& host)
        : OpenSshTranslator(dispatcher, host, Options{}) {}
    OpenSshTranslator(const RequestDispatcher& dispatcher, OpenSshAgentHost& host, Options options);

    // One request (message type and contents, without the length word) from the peer named
    // by `origin`, e.g. "ssh (pid 4242)". Returns the reply, also without its length word.
    SecureBytes Handle(std::span<const uint8_t> message, const std::string& origin);

  private:
    struct Request {
        SshReader in;
        const std::string& origin;
    };

    SecureBytes ListIdentities(Request& request);
    SecureBytes Sign(Request& request);
    SecureBytes AddIdentity(Request& request);
    SecureBytes RemoveIdentity(Request& request);
    SecureBytes RemoveAllIdentities(Request& request);
    SecureBytes Lock(Request& request);
    SecureBytes Unlock(Request& request);
    SecureBytes Extension(Request& request);
    SecureBytes Unknown(uint8_t type, Request& request);

    SecureBytes Refuse(std::string_view what, std::string_view reason, const Request& request);
    // The stored plain blob a request's blob names: itself, or for a certificate the blob of
    // the first stored key that carries it; nullopt for a certificate no key carries.
    std::optional<Bytes> StoredBlobFor(std::span<const uint8_t> blob);

    NativeChannel m_native;
    OpenSshAgentHost& m_host;
    DigestFunction m_digest;
    UnlockThrottle m_throttle;
};

// The one-byte replies.
SecureBytes FailureReply();
SecureBytes SuccessReply();

}  // namespace kv
