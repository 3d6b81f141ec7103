// Wires the request handlers, the periodic check and the tray commands into a new agent.
#pragma once

#include <string>

namespace kv {

class CAgentApp;
class CMainFrame;
class RequestDispatcher;

void InstallAgentServices(CAgentApp& app, RequestDispatcher& dispatcher, CMainFrame& frame);

// Where clients reach this agent, for the start-up message.
std::string AgentSocketDescription();

}  // namespace kv
