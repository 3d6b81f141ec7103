// The OpenSSH socket with the real handlers and the compute pool: many connections sign at
// once, each with several requests in flight, while this (the event loop's) thread locks,
// unlocks and deletes keys. Every reply answers its own request, in order (each signature
// is checked against the data of the request it stands for); nothing crashes; and once the
// agent is locked for good, nothing is signed.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <atomic>
#include <cstdlib>
#include <thread>

#include "agent/compute_pool.h"
#include "agent/handlers/openssh_host.h"
#include "agent/handlers/request_handlers.h"
#include "agent/openssh/frame_reader.h"
#include "agent/openssh/messages.h"
#include "agent/openssh/ssh_endpoint.h"
#include "agent/payloads.h"
#include "agent/request_dispatcher.h"
#include "app/agent_app.h"
#include "cryptomodule/key_generation.h"
#include "platform/message_codes.h"
#include "platform/registry/registry_database.h"
#include "tests/support/generated_key.h"
#include "tests/support/openssl_check.h"
#include "tests/support/scripted_user_interface.h"
#include "tests/support/temp_dir.h"
#include "tests/support/unix_socket_client.h"

namespace kv {
namespace {

using namespace openssh;
using Clock = std::chrono::steady_clock;

using test::MakeKey;
using test::TestKey;

using test::Connect;
using test::SendAll;

// One client connection: sends sign requests a few at a time and reads the replies.
class SigningClient {
  public:
    SigningClient(const std::string& path, const TestKey& rsa, const TestKey& dss,
                  std::atomic<int>& signed_so_far)
        : m_fd(Connect(path)), m_rsa(rsa), m_dss(dss), m_signed_so_far(signed_so_far) {}
    ~SigningClient() {
        if (m_fd >= 0) ::close(m_fd);
    }

    // Sends `count` requests, `depth` in flight at a time, checking every reply against
    // its own request. Returns how many were signed; -1 on a wrong or missing reply.
    int Run(int client, int count, int depth) {
        std::deque<std::pair<Bytes, bool>> sent;  // data, signed with the RSA key
        int next = 0, signed_count = 0;
        while (next < count || !sent.empty()) {
            while (next < count && static_cast<int>(sent.size()) < depth) {
                const bool rsa = (next + client) % 3 != 0;
                Bytes data = {'c', static_cast<uint8_t>(client), static_cast<uint8_t>(next),
                              static_cast<uint8_t>(next >> 8)};
                if (!SendAll(m_fd, FrameMessage(Request(rsa, data)))) return -1;
                sent.emplace_back(std::move(data), rsa);
                ++next;
            }
            const auto reply = Next();
            if (!reply || reply->empty()) return -1;
            const auto [data, rsa] = sent.front();
            sent.pop_front();
            if ((*reply)[0] == kFailure) continue;
            if (!SignatureFits(*reply, data, rsa)) return -1;
            ++signed_count;
            ++m_signed_so_far;
        }
        return signed_count;
    }

  private:
    SecureBytes Request(bool rsa, const Bytes& data) const {
        SshWriter out;
        out.Byte(kSignRequest);
        out.String(rsa ? m_rsa.blob : m_dss.blob);
        out.String(data);
        out.Uint32(rsa ? kFlagRsaSha256 : 0);
        return out.Release();
    }

    bool SignatureFits(const SecureBytes& reply, const Bytes& data, bool rsa) const {
        SshReader in(reply);
        if (in.Byte() != kSignResponse) return false;
        const auto blob = in.String();
        SshReader signature(blob);
        const auto algorithm = signature.String();
        const auto raw = signature.String();
        if (!in.Ok() || !signature.Ok()) return false;
        const Bytes sig(raw.begin(), raw.end());
        if (rsa)
            return std::string(algorithm.begin(), algorithm.end()) == "rsa-sha2-256" &&
                   test::VerifyRsa(m_rsa.blob, data, sig, EVP_sha256());
        return test::VerifyDss(m_dss.blob, data, sig);
    }

    std::optional<SecureBytes> Next() {
        const auto deadline = Clock::now() + std::chrono::seconds(20);
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

    int m_fd;
    const TestKey& m_rsa;
    const TestKey& m_dss;
    std::atomic<int>& m_signed_so_far;  // by every client
    SshFrameReader m_reader;
};

class PooledEndpointTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* bin = std::getenv("KV_BIN_DIR");
        ASSERT_NE(bin, nullptr) << "run through ctest, which sets KV_BIN_DIR";
        ::setenv("KVSSHAA_MODULE_DIR", (std::string(bin) + "/crypto").c_str(), 1);
        ASSERT_TRUE(RegistryDatabase::UseFile(dir.Path() + "/registry.sqlite"));
        app = std::make_unique<CAgentApp>(ui);
        app->InitSettings();
        RegisterRequestHandlers(*app, dispatcher);
        rsa = MakeKey(true);
        dss = MakeKey(false);
        ui.passphrases.push_back(ScriptedUserInterface::Typed("pw"));
        ASSERT_EQ(Add(rsa, "r"), 0);
        ASSERT_EQ(Add(dss, "d"), 0);
        host = std::make_unique<AgentOpenSshHost>(*app);
        endpoint = std::make_unique<SshAgentEndpoint>(dispatcher, *host);
        endpoint->SetComputePool(&pool);
        QObject::connect(&notifier, &QSocketNotifier::activated, [this] { pool.RunFinished(); });
        path = dir.Path() + "/ssh";
        ASSERT_TRUE(endpoint->Listen(path)) << endpoint->ErrorString();
    }

    void TearDown() override {
        endpoint.reset();
        app.reset();
        RegistryDatabase::Close();
    }

    int Add(const TestKey& key, const std::string& name) {
        AgentKeyEntry entry;
        entry.type = 1;
        entry.blob = key.blob;
        entry.comment = name + ": test";
        const auto payload = BuildAddRequest(7, {}, entry, key.plain);
        Envelope request{AGENT_ADD_KEY, kEnvelopeHasWindow,
                         SecureBytes(payload.begin(), payload.end())};
        const auto reply = dispatcher.Process(request, true);
        return reply ? ParseStatusReply(reply->payload)->status : -1;
    }

    // Runs `clients` on threads and the event loop here, with `disturb` every 3 ms.
    std::vector<int> Serve(int clients, int count, int depth, std::function<void()> disturb) {
        std::vector<int> results(static_cast<std::size_t>(clients), -2);
        std::atomic<int> done{0};
        std::vector<std::thread> threads;
        for (int i = 0; i < clients; ++i) {
            threads.emplace_back([&, i] {
                SigningClient client(path, rsa, dss, signed_so_far);
                results[static_cast<std::size_t>(i)] = client.Run(i, count, depth);
                ++done;
            });
        }
        QTimer timer;
        if (disturb) QObject::connect(&timer, &QTimer::timeout, disturb);
        timer.start(3);
        const auto deadline = Clock::now() + std::chrono::seconds(60);
        while (done < clients && Clock::now() < deadline)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        for (auto& t : threads) t.join();
        return results;
    }

    TempDir dir;
    std::string path;
    ScriptedUserInterface ui;
    std::unique_ptr<CAgentApp> app;
    RequestDispatcher dispatcher;
    ComputePool pool{2};
    QSocketNotifier notifier{pool.WakeDescriptor(), QSocketNotifier::Read};
    std::unique_ptr<AgentOpenSshHost> host;
    std::unique_ptr<SshAgentEndpoint> endpoint;
    TestKey rsa, dss;
    std::atomic<int> signed_so_far{0};
};

TEST_F(PooledEndpointTest, ManyConnectionsSignInOrderWhileTheAgentLocksAndLosesKeys) {
    int tick = 0;
    int signed_at_lock = 0;
    const auto results = Serve(6, 40, 4, [&] {
        KeyStore& keys = app->Keys();
        switch (++tick % 6) {
            case 1:
                // Not before something was signed since the last lock: on a busy machine the
                // timer's ticks can bunch up and leave no time unlocked at all.
                if (signed_so_far == signed_at_lock) {
                    --tick;
                    break;
                }
                signed_at_lock = signed_so_far;
                app->LockCommand();
                break;
            case 3:
                ASSERT_TRUE(keys.Unlock(ToSecureBytes("pw")));
                break;
            case 5:
                if (const KeyPair* key = keys.FindByBlob(dss.blob)) {
                    keys.Delete(key->Number());
                } else {
                    ASSERT_EQ(Add(dss, "d"), 0);
                }
                break;
            default:
                break;
        }
    });
    int signed_total = 0;
    for (const int r : results) {
        EXPECT_GE(r, 0) << "a reply was missing, wrong or out of order";
        signed_total += std::max(r, 0);
    }
    EXPECT_GT(signed_total, 0);
    EXPECT_EQ(pool.Outstanding(), 0u);

    // Locked for good (the unlock prompt is cancelled): nothing more is signed.
    app->LockCommand();
    for (const int r : Serve(4, 12, 3, nullptr)) EXPECT_EQ(r, 0);
}

}  // namespace
}  // namespace kv

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
