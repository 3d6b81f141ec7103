// Who is on the other end of a Unix socket, as the kernel saw it at connect time.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

namespace kv {

struct PeerCredentials {
    pid_t pid = 0;
    uid_t uid = 0;
    gid_t gid = 0;
};

std::optional<PeerCredentials> ReadPeerCredentials(int socket_fd);

// True when the peer runs as the same user as this process.
bool PeerIsSameUser(int socket_fd);

// The peer program's name from /proc (empty when it cannot be read).
std::string ProcessName(pid_t pid);

}  // namespace kv
