// Puts the request handlers into the dispatch table.
#pragma once

namespace kv {

class CAgentApp;
class RequestDispatcher;

void RegisterRequestHandlers(CAgentApp& app, RequestDispatcher& dispatcher);

}  // namespace kv
