// The origin string a translated request carries: the peer program and its pid, so that the
// event log and the confirmation prompt say who asks.
#pragma once

#include <string>

namespace kv {

// "ssh (pid 4242)" for the peer of a connected Unix socket; "pid 4242" when the program's
// name cannot be read; "unknown program" when not even the pid can.
std::string PeerOrigin(int socket_fd);

}  // namespace kv
