#include "platform/peer_credentials.h"

#include <sys/socket.h>
#include <unistd.h>

#include <fstream>

namespace kv {

std::optional<PeerCredentials> ReadPeerCredentials(int socket_fd) {
    struct ucred cred {};
    socklen_t size = sizeof cred;
    if (::getsockopt(socket_fd, SOL_SOCKET, SO_PEERCRED, &cred, &size) != 0 ||
        size != sizeof cred) {
        return std::nullopt;
    }
    return PeerCredentials{cred.pid, cred.uid, cred.gid};
}

bool PeerIsSameUser(int socket_fd) {
    const auto cred = ReadPeerCredentials(socket_fd);
    return cred.has_value() && cred->uid == ::geteuid();
}

std::string ProcessName(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    std::getline(in, name);
    return name;
}

}  // namespace kv
