// The OpenSSH agent socket (<runtime>/ssh, for SSH_AUTH_SOCK). Peers of another user are
// closed at accept. Each connection's messages are handled one at a time, in order, each
// from the event loop like the native requests, so a request that opens a prompt
// lets other connections be served inside the prompt's loop while its own connection's
// next request waits for its reply. A reply the translator holds back (a wrong UNLOCK
// passphrase) waits on a timer, the agent serving everyone else meanwhile, and its
// connection's next message waits for it; so does a signature computed on the compute pool.
// An oversized message closes that connection only.
#pragma once

#include <QObject>
#include <map>
#include <memory>
#include <string>

#include "agent/openssh/agent_host.h"
#include "agent/openssh/translator.h"
#include "agent/request_dispatcher.h"
#include "agent/secure_connection.h"
#include "agent/secure_local_server.h"
#include "app/request_peer.h"

namespace kv {

class ComputePool;

class SshAgentEndpoint : public QObject {
    Q_OBJECT
  public:
    // `dispatcher` and `host` must outlive the endpoint.
    SshAgentEndpoint(const RequestDispatcher& dispatcher, OpenSshAgentHost& host,
                     QObject* parent = nullptr);
    SshAgentEndpoint(const RequestDispatcher& dispatcher, OpenSshAgentHost& host,
                     OpenSshTranslator::Options options, QObject* parent = nullptr);
    ~SshAgentEndpoint() override;

    // Serves on `path`, replacing a socket file left there (the caller holds the instance
    // lock), with mode 0600. False, with ErrorString(), when it cannot listen.
    bool Listen(const std::string& path);
    // Stops serving, drops every connection and removes the socket file.
    void Close();
    // Where each request's peer is stated while it is handled (remembered approvals); the
    // agent's own. Without it no peer is stated and every confirmation asks.
    void SetRequestPeers(RequestPeers* peers) { m_peers = peers; }
    // Where private-key computations run (it must outlive the endpoint, and its completions
    // run on this thread); without it they run on this thread while the request is handled.
    void SetComputePool(ComputePool* pool) { m_pool = pool; }
    std::string ErrorString() const;

  private:
    struct Connection;
    using ConnectionPtr = std::shared_ptr<Connection>;

    QObject* Accept(int fd);
    void ReadMessages(const ConnectionPtr& connection, bool from_event_loop);
    void ScheduleNext(const ConnectionPtr& connection);
    void ProcessNext(const ConnectionPtr& connection);
    void Answer(const ConnectionPtr& connection, const SecureBytes& reply);

    OpenSshTranslator m_translator;
    SecureLocalServer m_server;
    std::map<SecureConnection*, ConnectionPtr> m_connections;
    RequestPeers* m_peers = nullptr;
    ComputePool* m_pool = nullptr;
};

}  // namespace kv
