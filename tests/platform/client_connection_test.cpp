// The client side of the native socket: it refuses a socket that another user listens on.
#include "platform/client_connection.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

#include "tests/support/temp_dir.h"

namespace kv {
namespace {

// Without XDG_RUNTIME_DIR the agent's folder is in /tmp, where anyone could have made it
// first and listen in it; what a client sends includes private keys.
TEST(ClientConnectionTest, ASocketOfAnotherUserIsRefused) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to listen as another user";
    TempDir dir;
    ASSERT_EQ(::chmod(dir.Path().c_str(), 0777), 0);
    const std::string path = dir.Path() + "/agent";
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setuid(65534) != 0) ::_exit(2);
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
        if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(fd, 4) != 0 || ::write(ready[1], "x", 1) != 1) {
            ::_exit(3);
        }
        ::pause();
        ::_exit(0);
    }
    char byte = 0;
    ASSERT_EQ(::read(ready[0], &byte, 1), 1);
    ClientConnection connection;
    EXPECT_FALSE(connection.Connect(path));
    EXPECT_FALSE(connection.IsOpen());
    EXPECT_NE(connection.Error().find("belongs to another user"), std::string::npos)
        << connection.Error();
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    ::close(ready[0]);
    ::close(ready[1]);
}

}  // namespace
}  // namespace kv
