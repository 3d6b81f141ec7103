#include "agent/openssh/session_bind.h"

#include <algorithm>
#include <string_view>

#include "agent/openssh/messages.h"
#include "agent/openssh/ssh_wire.h"

namespace kv {

namespace {

constexpr std::string_view kSessionBind = "session-bind@openssh.com";

}  // namespace

// byte 27, string name, string host key, string session id, string signature,
// bool is_forwarding.
bool IsForwardingSessionBind(std::span<const uint8_t> message) {
    SshReader in(message);
    if (in.Byte() != openssh::kExtension) return false;
    const auto name = in.String();
    if (!in.Ok() || !std::ranges::equal(name, AsBytes(kSessionBind))) return false;
    in.String();
    in.String();
    in.String();
    const uint8_t forwarding = in.Byte();
    return in.Ok() && in.AtEnd() && forwarding != 0;
}

}  // namespace kv
