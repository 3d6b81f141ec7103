// OpenSSH's "session-bind@openssh.com" extension: before ssh relays a forwarded agent
// connection it binds the connection to the SSH session and says that it is forwarding.
// The agent reads only that flag, to treat the connection's later requests as forwarded
// (never remembered, always asked). It need not verify the binding for this: the flag can
// only make the agent more careful, and a client that leaves it out gains nothing it did not
// have before.
#pragma once

#include <cstdint>
#include <span>

namespace kv {

// True when `message` (type byte first, no length word) is a well-formed session-bind
// extension request whose "is_forwarding" flag is set.
bool IsForwardingSessionBind(std::span<const uint8_t> message);

}  // namespace kv
