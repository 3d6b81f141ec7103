#include "agent/openssh/peer_origin.h"

#include "agent/openssh/ssh_wire.h"
#include "platform/peer_credentials.h"

namespace kv {

std::string PeerOrigin(int socket_fd) {
    const auto peer = ReadPeerCredentials(socket_fd);
    if (!peer || peer->pid <= 0) return "unknown program";
    const std::string pid = "pid " + std::to_string(peer->pid);
    // A program may name itself anything; the log gets printable text only.
    const std::string name = ProcessName(peer->pid);
    if (name.empty()) return pid;
    return PrintableText(AsBytes(name), 32) + " (" + pid + ")";
}

}  // namespace kv
