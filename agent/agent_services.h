// Wires the request handlers, the tray commands and the OpenSSH front end into a new agent.
#pragma once

#include <memory>
#include <string>

namespace kv {

class CAgentApp;
class CMainFrame;
class RequestDispatcher;

// What the agent runs beside the main frame; it lives as long as the frame.
class AgentServices {
  public:
    virtual ~AgentServices() = default;
    // Where clients reach this agent, for the start-up message.
    virtual std::string SocketDescription() const = 0;
};

std::unique_ptr<AgentServices> InstallAgentServices(CAgentApp& app, RequestDispatcher& dispatcher,
                                                    CMainFrame& frame);

}  // namespace kv
