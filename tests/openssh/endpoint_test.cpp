// The socket endpoint with real Unix sockets: framing, ordering per connection, requests
// served inside another request's nested event loop, and who may connect. Clients run on
// threads while the test's main thread runs the event loop.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "agent/openssh/frame_reader.h"
#include "agent/openssh/messages.h"
#include "agent/openssh/ssh_endpoint.h"
#include "agent/payloads.h"
#include "agent/secure_connection.h"
#include "app/request_peer.h"
#include "platform/message_codes.h"
#include "tests/openssh/openssh_test_support.h"
#include "tests/support/temp_dir.h"
#include "tests/support/unix_socket_client.h"

namespace kv {
namespace {

using namespace openssh;
using Clock = std::chrono::steady_clock;

using test::Connect;
using test::SendAll;

// Replies may arrive together, so a connection keeps one reader for all of them.
class ReplyReader {
  public:
    explicit ReplyReader(int fd) : m_fd(fd) {}

    // The next reply, or nullopt on end of stream or after two seconds.
    std::optional<SecureBytes> Next() {
        const auto deadline = Clock::now() + std::chrono::seconds(2);
        while (Clock::now() < deadline) {
            if (auto message = m_reader.Next()) return message;
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0) continue;
            uint8_t chunk[4096];
            const ssize_t n = ::recv(m_fd, chunk, sizeof chunk, 0);
            if (n <= 0) return std::nullopt;
            m_reader.Feed(chunk, static_cast<std::size_t>(n));
        }
        return std::nullopt;
    }

  private:
    int m_fd;
    SshFrameReader m_reader;
};

std::optional<SecureBytes> ReadReply(int fd) { return ReplyReader(fd).Next(); }

SecureBytes Framed(const std::vector<SecureBytes>& messages) {
    SecureBytes out;
    for (const auto& m : messages) {
        const auto framed = FrameMessage(m);
        out.insert(out.end(), framed.begin(), framed.end());
    }
    return out;
}

// This process's descriptor limit lowered for one test, and restored after it.
class FileLimit {
  public:
    explicit FileLimit(rlim_t files) : m_files(files) {}
    ~FileLimit() {
        if (m_set) ::setrlimit(RLIMIT_NOFILE, &m_saved);
    }
    bool Set() {
        if (::getrlimit(RLIMIT_NOFILE, &m_saved) != 0) return false;
        rlimit low = m_saved;
        low.rlim_cur = m_files;
        m_set = ::setrlimit(RLIMIT_NOFILE, &low) == 0;
        return m_set;
    }

  private:
    rlim_t m_files;
    rlimit m_saved{};
    bool m_set = false;
};

class EndpointTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(dir.Path().empty());
        path = dir.Path() + "/ssh";
        ASSERT_TRUE(endpoint.Listen(path)) << endpoint.ErrorString();
    }

    // Runs the clients on threads and the event loop here until they are all done.
    void RunClients(std::vector<std::function<void()>> clients) {
        std::atomic<int> done{0};
        std::vector<std::thread> threads;
        for (auto& client : clients) {
            threads.emplace_back([&done, client] {
                client();
                ++done;
            });
        }
        const auto deadline = Clock::now() + std::chrono::seconds(10);
        while (done < static_cast<int>(threads.size()) && Clock::now() < deadline)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        for (auto& t : threads) t.join();
    }

    TempDir dir;
    std::string path;
    test::FakeNativeAgent agent;
    test::FakeHost host{agent};
    SshAgentEndpoint endpoint{agent.dispatcher, host};
};

TEST_F(EndpointTest, SocketIsPrivateReplacesAStaleFileAndGoesOnClose) {
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    endpoint.Close();
    EXPECT_NE(::access(path.c_str(), F_OK), 0);

    // A socket file left by a dead agent does not stop the next one.
    const int stale = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    ASSERT_EQ(::bind(stale, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::close(stale);
    EXPECT_TRUE(endpoint.Listen(path)) << endpoint.ErrorString();
}

TEST_F(EndpointTest, PipelinedRequestsAreAnsweredInOrderWithThePeerAsOrigin) {
    std::vector<SecureBytes> replies;
    RunClients({[&] {
        const int fd = Connect(path);
        ASSERT_GE(fd, 0);
        ASSERT_TRUE(SendAll(fd, Framed({test::Message(kRequestIdentities), test::Message(200),
                                        test::Message(kRemoveAllIdentities)})));
        ReplyReader reader(fd);
        for (int i = 0; i < 3; ++i)
            if (auto reply = reader.Next()) replies.push_back(*reply);
        ::close(fd);
    }});
    ASSERT_EQ(replies.size(), 3u);
    EXPECT_EQ(replies[0], SecureBytes({kIdentitiesAnswer, 0, 0, 0, 0}));
    EXPECT_EQ(replies[1], FailureReply());
    EXPECT_EQ(replies[2], FailureReply());
    ASSERT_EQ(agent.origins.size(), 2u);
    const std::string pid = " (pid " + std::to_string(::getpid()) + ")";
    EXPECT_TRUE(agent.origins[0].ends_with(pid)) << agent.origins[0];
    EXPECT_GT(agent.origins[0].size(), pid.size());  // the program's name comes first
}

TEST_F(EndpointTest, ABurstLargerThanTheQueueIsReadOnceRoomIsMade) {
    // Far more than the endpoint queues and than one read takes: the rest waits in the
    // socket while reading is paused, and must still be read and answered in order.
    constexpr int kUnknown = 60;
    SecureBytes unknown = test::Message(200);
    unknown.resize(1000, 0x5a);
    std::vector<SecureBytes> replies;
    RunClients({[&] {
        const int fd = Connect(path);
        ASSERT_GE(fd, 0);
        std::vector<SecureBytes> burst(kUnknown, unknown);
        burst.push_back(test::Message(kRequestIdentities));
        ASSERT_TRUE(SendAll(fd, Framed(burst)));
        ReplyReader reader(fd);
        for (int i = 0; i <= kUnknown; ++i)
            if (auto reply = reader.Next()) replies.push_back(*reply);
        ::close(fd);
    }});
    ASSERT_EQ(replies.size(), static_cast<std::size_t>(kUnknown + 1));
    for (int i = 0; i < kUnknown; ++i) EXPECT_EQ(replies[i], FailureReply()) << i;
    EXPECT_EQ(replies.back(), SecureBytes({kIdentitiesAnswer, 0, 0, 0, 0}));
}

// A peer that sends signing requests and does not read the replies: once about a mebibyte of
// them waits for it, its requests are left in the socket, and when it reads at last every
// one is answered, in order.
TEST_F(EndpointTest, APeerThatDoesNotReadItsRepliesIsNotReadEither) {
    const auto rsa = test::LoadKeyFixture("rsa1024").public_blob;
    agent.AddKey(rsa, "r", "");
    std::atomic<int> signed_count{0};
    agent.sign = [&](const std::string&, std::span<const uint8_t> data) {
        ++signed_count;
        SecureBytes result(2048, 0xab);  // the largest RSA signature: 2 KiB per reply
        std::copy(data.begin(), data.end(), result.begin());
        return result;
    };
    constexpr int kRequests = 3000;  // 6 MiB of replies
    std::vector<SecureBytes> requests;
    for (int i = 0; i < kRequests; ++i) {
        requests.push_back(test::Message(kSignRequest, [&](SshWriter& w) {
            w.String(rsa);
            w.String(std::to_string(1000000 + i));
            w.Uint32(0);
        }));
    }
    int signed_unread = 0;
    std::vector<int> answered;
    RunClients({[&] {
        const int fd = Connect(path);
        ASSERT_GE(fd, 0);
        // The socket holds back the sender once the agent stops reading.
        std::thread sender([&] { SendAll(fd, Framed(requests)); });
        for (int last = -1; last != signed_count;) {
            last = signed_count;
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
        }
        signed_unread = signed_count;
        ReplyReader reader(fd);
        for (int i = 0; i < kRequests; ++i) {
            const auto reply = reader.Next();
            if (!reply) break;
            SshReader in(*reply);
            in.Byte();
            SshReader signature(in.String());
            signature.String();
            const auto blob = signature.String();
            answered.push_back(std::stoi(std::string(blob.begin(), blob.begin() + 7)));
        }
        sender.join();
        ::close(fd);
    }});
    EXPECT_LT(signed_unread, kRequests / 4);
    ASSERT_EQ(answered.size(), static_cast<std::size_t>(kRequests));
    for (int i = 0; i < kRequests; ++i) ASSERT_EQ(answered[i], 1000000 + i);
}

// Peers that hold more connections than the endpoint keeps: the ones past the limit are
// closed at once, the socket goes on listening (running out of descriptors would have shut
// it for good), and a connection made once the others are gone is served.
TEST_F(EndpointTest, ConnectionsPastTheLimitAreClosedAndTheSocketStays) {
    FileLimit files(128);
    ASSERT_TRUE(files.Set());
    const std::size_t limit = SecureLocalServer::MaxConnections();
    ASSERT_EQ(limit, 32u);
    constexpr int kPeers = 70;  // their descriptors and the agent's would pass 128
    int answered = 0;
    bool later_answered = false;
    RunClients({[&] {
        std::vector<int> fds;
        for (int i = 0; i < kPeers; ++i) fds.push_back(Connect(path));
        std::this_thread::sleep_for(std::chrono::milliseconds(300));  // all taken up
        for (const int fd : fds) {
            if (fd >= 0 && SendAll(fd, Framed({test::Message(kRequestIdentities)})) &&
                ReadReply(fd)) {
                ++answered;
            }
        }
        for (const int fd : fds) ::close(fd);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const int fd = Connect(path);
        later_answered = fd >= 0 && SendAll(fd, Framed({test::Message(kRequestIdentities)})) &&
                         ReadReply(fd).has_value();
        ::close(fd);
    }});
    EXPECT_EQ(answered, static_cast<int>(limit));
    EXPECT_TRUE(later_answered);
}

// Descriptors held elsewhere in the process can run out below that limit. The accept that
// fails then must leave the socket in place, and the peer that waited is served once some
// descriptors are free again.
TEST_F(EndpointTest, RunningOutOfDescriptorsPausesAcceptingAndKeepsTheSocket) {
    FileLimit files(128);
    ASSERT_TRUE(files.Set());
    bool socket_stayed = false;
    std::optional<SecureBytes> reply;
    RunClients({[&] {
        std::vector<int> filler;
        for (int fd; (fd = ::dup(STDERR_FILENO)) >= 0;) filler.push_back(fd);
        ::close(filler.back());  // the one left is the client's
        filler.pop_back();
        const int client = Connect(path);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));  // accepts fail meanwhile
        socket_stayed = ::access(path.c_str(), F_OK) == 0;
        for (const int fd : filler) ::close(fd);
        if (client >= 0 && SendAll(client, Framed({test::Message(kRequestIdentities)})))
            reply = ReadReply(client);
        ::close(client);
    }});
    EXPECT_TRUE(socket_stayed);
    ASSERT_TRUE(reply.has_value());
    EXPECT_EQ((*reply)[0], kIdentitiesAnswer);
}

TEST_F(EndpointTest, AnOversizedOrTruncatedMessageClosesOnlyItsConnection) {
    std::optional<SecureBytes> big_reply, other_reply;
    bool big_closed = false;
    RunClients({[&] {
        const int big = Connect(path);
        const int truncated = Connect(path);
        const int other = Connect(path);
        const uint32_t n = kMaxMessage + 1;
        SecureBytes header = {static_cast<uint8_t>(n >> 24), static_cast<uint8_t>(n >> 16),
                              static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n), 11};
        SendAll(big, header);
        SendAll(truncated, SecureBytes{0, 0, 0, 9, 11});
        ::close(truncated);
        big_reply = ReadReply(big);
        uint8_t byte;
        big_closed = ::recv(big, &byte, 1, 0) == 0;
        SendAll(other, Framed({test::Message(kRequestIdentities)}));
        other_reply = ReadReply(other);
        ::close(big);
        ::close(other);
    }});
    EXPECT_FALSE(big_reply.has_value());
    EXPECT_TRUE(big_closed);
    ASSERT_TRUE(other_reply.has_value());
    EXPECT_EQ((*other_reply)[0], kIdentitiesAnswer);
}

TEST_F(EndpointTest, OtherConnectionsAreServedWhileARequestWaitsInANestedLoop) {
    const auto dss = test::LoadKeyFixture("dsa1024").public_blob;
    agent.AddKey(dss, "d", "");
    std::atomic<bool> prompting{false}, release{false};
    std::mutex order_mutex;
    std::vector<std::string> order;
    auto note = [&](std::string what) {
        std::lock_guard lock(order_mutex);
        order.push_back(std::move(what));
    };
    agent.dispatcher.SetHandler(AGENT_PRIVATE_KEY_OP, [&](AgentBuffer& in, AgentBuffer& out) {
        note("sign starts");
        prompting = true;
        // What a prompt does: run the event loop until the user answers.
        while (!release) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        note("sign ends");
        (void)in;
        WritePrivateKeyOpResult(SecureBytes(40, 1), out);
        return true;
    });
    agent.dispatcher.SetHandler(AGENT_LIST_KEYS, [&](AgentBuffer& in, AgentBuffer& out) {
        note("list");
        (void)in;
        WriteListReplyHeader(0, out);
        return true;
    });

    std::vector<uint8_t> first_reply_types;
    RunClients({[&] {
                    const int fd = Connect(path);
                    const auto sign = test::Message(kSignRequest, [&](SshWriter& w) {
                        w.String(dss);
                        w.String("data");
                        w.Uint32(0);
                    });
                    SendAll(fd, Framed({sign}));
                    // Sent while the first waits in its loop: it must wait its turn.
                    while (!prompting) std::this_thread::sleep_for(std::chrono::milliseconds(5));
                    SendAll(fd, Framed({test::Message(kRequestIdentities)}));
                    ReplyReader reader(fd);
                    for (int i = 0; i < 2; ++i)
                        if (auto reply = reader.Next()) first_reply_types.push_back((*reply)[0]);
                    ::close(fd);
                },
                [&] {
                    while (!prompting) std::this_thread::sleep_for(std::chrono::milliseconds(5));
                    const int fd = Connect(path);
                    SendAll(fd, Framed({test::Message(kRequestIdentities)}));
                    const auto reply = ReadReply(fd);
                    note(reply ? "second client answered" : "second client not answered");
                    release = true;
                    ::close(fd);
                }});
    EXPECT_EQ(first_reply_types, std::vector<uint8_t>({kSignResponse, kIdentitiesAnswer}));
    const std::vector<std::string> expected = {"sign starts", "list", "second client answered",
                                               "sign ends", "list"};
    EXPECT_EQ(order, expected);
}

SecureBytes UnlockMessage(std::string_view passphrase) {
    return test::Message(kUnlock, [&](SshWriter& w) { w.String(passphrase); });
}

// The failure reply to a wrong UNLOCK passphrase is held back without stopping the agent:
// another connection is served (and its UNLOCK refused unchecked) meanwhile, the first
// connection's next message waits for that reply, and once it has arrived the next attempt
// is checked.
TEST(EndpointHoldTest, AWrongUnlockIsAnsweredLateWhileOthersAreServed) {
    TempDir dir;
    const std::string path = dir.Path() + "/ssh";
    test::FakeNativeAgent agent;
    test::FakeHost host{agent};
    OpenSshTranslator::Options options;
    options.unlock_hold_step = std::chrono::milliseconds(1000);
    SshAgentEndpoint endpoint{agent.dispatcher, host, options};
    ASSERT_TRUE(endpoint.Listen(path)) << endpoint.ErrorString();

    std::mutex order_mutex;
    std::vector<std::string> order;
    auto note = [&](std::string what) {
        std::lock_guard lock(order_mutex);
        order.push_back(std::move(what));
    };
    std::atomic<int> done{0};
    std::thread guesser([&] {
        const int fd = Connect(path);
        ReplyReader reader(fd);
        SendAll(fd, Framed({UnlockMessage("wrong"), test::Message(kRequestIdentities)}));
        const auto first = reader.Next();
        note(first && *first == FailureReply() ? "guesser failed" : "guesser: no failure");
        const auto list = reader.Next();
        note(list && (*list)[0] == kIdentitiesAnswer ? "guesser listed" : "guesser: no list");
        SendAll(fd, Framed({UnlockMessage("correct horse")}));  // after the reply: checked
        const auto last = reader.Next();
        note(last && *last == SuccessReply() ? "guesser unlocked" : "guesser: not unlocked");
        ::close(fd);
        ++done;
    });
    std::thread other([&] {
        while (host.unlock_calls < 1) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        const int fd = Connect(path);
        SendAll(fd, Framed({UnlockMessage("correct horse")}));
        const auto reply = ReadReply(fd);
        note(reply && *reply == FailureReply() ? "other refused" : "other: not refused");
        ::close(fd);
        ++done;
    });
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (done < 2 && Clock::now() < deadline)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    guesser.join();
    other.join();
    const std::vector<std::string> expected = {"other refused", "guesser failed", "guesser listed",
                                               "guesser unlocked"};
    EXPECT_EQ(order, expected);
    // The other connection's attempt was never checked.
    EXPECT_EQ(host.unlock_attempts, std::vector<std::string>({"wrong", "correct horse"}));
}

// Each request states its connection's peer while it is handled: this process, named by its
// origin rather than by forwarding hops, and forwarded once ssh bound the connection with
// "is_forwarding" set.
TEST_F(EndpointTest, RequestsStateTheirPeerAndABindingMarksAConnectionForwarded) {
    RequestPeers peers;
    endpoint.SetRequestPeers(&peers);
    std::vector<RequestPeer> seen;
    std::vector<std::string> origins;
    agent.dispatcher.SetHandler(AGENT_LIST_KEYS, [&](AgentBuffer& in, AgentBuffer& out) {
        if (peers.Current() != nullptr) seen.push_back(*peers.Current());
        if (const auto request = DecodeListRequest(in))
            origins.push_back(Requester(request->origins));
        WriteListReplyHeader(0, out);
        return true;
    });
    auto bind = [](bool forwarding) {
        return test::Message(kExtension, [forwarding](SshWriter& w) {
            w.String("session-bind@openssh.com");
            w.String("host key");
            w.String("session id");
            w.String("signature");
            w.Byte(forwarding ? 1 : 0);
        });
    };
    RunClients({[&] {
        const int local = Connect(path);
        SendAll(local, Framed({bind(false), test::Message(kRequestIdentities)}));
        ReplyReader local_replies(local);
        local_replies.Next();
        local_replies.Next();
        const int forwarded = Connect(path);
        SendAll(forwarded, Framed({test::Message(kRequestIdentities), bind(true),
                                   test::Message(kRequestIdentities)}));
        ReplyReader forwarded_replies(forwarded);
        for (int i = 0; i < 3; ++i) forwarded_replies.Next();
        ::close(local);
        ::close(forwarded);
    }});
    ASSERT_EQ(seen.size(), 3u);
    for (const RequestPeer& peer : seen) {
        ASSERT_TRUE(peer.process.has_value());
        EXPECT_EQ(peer.process->pid, ::getpid());
        EXPECT_FALSE(peer.origins_are_hops);
    }
    EXPECT_FALSE(seen[0].forwarded);
    EXPECT_FALSE(seen[1].forwarded);  // before its binding
    EXPECT_TRUE(seen[2].forwarded);
    ASSERT_EQ(origins.size(), 3u);  // the prompts and the log tell a forwarded request apart
    EXPECT_EQ(origins[1].find("forwarded"), std::string::npos);
    EXPECT_EQ(origins[2], origins[1] + ", forwarded");
    EXPECT_EQ(peers.Current(), nullptr);  // stated only while a request is handled
}

TEST_F(EndpointTest, APeerOfAnotherUserIsClosedUnanswered) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to connect as another user";
    ::chmod(dir.Path().c_str(), 0777);
    ::chmod(path.c_str(), 0666);  // only the uid check is left to refuse
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setuid(65534) != 0) ::_exit(2);
        const int fd = Connect(path);
        if (fd < 0) ::_exit(3);
        if (!SendAll(fd, Framed({test::Message(kRequestIdentities)}))) ::_exit(0);
        ::_exit(ReadReply(fd).has_value() ? 1 : 0);
    }
    int status = -1;
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (::waitpid(child, &status, WNOHANG) == 0 && Clock::now() < deadline)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_TRUE(agent.origins.empty());
}

}  // namespace
}  // namespace kv

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
