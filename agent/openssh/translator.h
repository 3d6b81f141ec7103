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
//   LOCK / UNLOCK          the host's Lock and Unlock; the failure reply to a wrong UNLOCK
//                          passphrase is held back (UnlockThrottle)
//   EXTENSION "query"      lists "query"; every other extension fails
// Anything else, and anything malformed, gets SSH_AGENT_FAILURE.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "agent/openssh/agent_host.h"
#include "agent/openssh/native_channel.h"
#include "agent/openssh/signature.h"
#include "agent/openssh/ssh_wire.h"
#include "agent/openssh/unlock_throttle.h"
#include "agent/request_dispatcher.h"

namespace kv {

// A reply, and how long the endpoint holds it back before it sends it.
struct SshReply {
    SecureBytes message;
    // Nonzero only for the failure reply to a wrong UNLOCK passphrase. Once that reply has
    // gone out, or its connection has gone away, the endpoint calls HeldReplySent().
    std::chrono::milliseconds hold{0};
};

class OpenSshTranslator {
  public:
    struct Options {
        DigestFunction digest = ModuleDigest;
        // The hold of the first wrong UNLOCK passphrase; the n-th in a row is held n times as
        // long, up to UnlockThrottle::kMaxHold.
        std::chrono::milliseconds unlock_hold_step = UnlockThrottle::kStep;
    };

    OpenSshTranslator(const RequestDispatcher& dispatcher, OpenSshAgentHost& host)
        : OpenSshTranslator(dispatcher, host, Options{}) {}
    OpenSshTranslator(const RequestDispatcher& dispatcher, OpenSshAgentHost& host, Options options);

    // One request (message type and contents, without the length word) from the peer named
    // by `origin`, e.g. "ssh (pid 4242)". Returns the reply, also without its length word;
    // inside a DeferralScope a signature's reply may come later, through the scope, and the
    // reply returned is then empty.
    SshReply Handle(std::span<const uint8_t> message, const std::string& origin);
    // The held-back reply of the last Handle went out (or was dropped with its connection):
    // UNLOCK is checked again from now on.
    void HeldReplySent() { m_throttle.FailureAnswered(); }

  private:
    struct Request {
        SshReader in;
        const std::string& origin;
    };

    SecureBytes Dispatch(uint8_t type, Request& request);
    SecureBytes ListIdentities(Request& request);
    SecureBytes Sign(Request& request);
    SecureBytes SignResponse(const SignPlan& plan, const std::optional<PrivateKeyOpReply>& reply,
                             const std::string& origin);
    SecureBytes AddIdentity(Request& request);
    SecureBytes RemoveIdentity(Request& request);
    SecureBytes RemoveAllIdentities(Request& request);
    SecureBytes Lock(Request& request);
    SshReply Unlock(Request& request);
    SecureBytes Extension(Request& request);
    SecureBytes Unknown(uint8_t type, Request& request);

    // Logs the refusal through the host; `reason` is a string-table text.
    SecureBytes Refuse(std::string_view what, const std::string& reason, const Request& request);
    // The stored plain blob a request's blob names: itself, or for a certificate the blob of
    // the first stored key that carries it; nullopt for a certificate no key carries.
    std::optional<Bytes> StoredBlobFor(std::span<const uint8_t> blob);

    // The certificates the last REMOVE_IDENTITY removed with their key, and who asked.
    struct RemovedCertificates {
        std::string origin;
        std::vector<Bytes> certificates;
    };
    RemovedCertificates m_removed;
    NativeChannel m_native;
    OpenSshAgentHost& m_host;
    DigestFunction m_digest;
    UnlockThrottle m_throttle;
};

// The one-byte replies.
SecureBytes FailureReply();
SecureBytes SuccessReply();

}  // namespace kv
