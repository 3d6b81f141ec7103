// The main frame in this process, on a real socket, with request handlers of the test's own.
#include "agent/main_frame.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <atomic>
#include <fstream>
#include <thread>

#include "agent/deferred_reply.h"
#include "agent/payloads.h"
#include "platform/client_connection.h"
#include "platform/message_codes.h"
#include "platform/paths.h"
#include "tests/support/scripted_user_interface.h"
#include "tests/support/temp_dir.h"

namespace kv {
namespace {

Envelope ListEnvelope(std::int32_t id) {
    Envelope e;
    e.code = AGENT_LIST_KEYS;
    e.flags = kEnvelopeHasWindow;
    const Bytes payload = BuildListRequest(id, {});
    e.payload.assign(payload.begin(), payload.end());
    return e;
}

std::int32_t IdOf(const Envelope& reply) {
    AgentBuffer in(reply.payload);
    return in.ReadIntField();
}

class MainFrameTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dispatcher.SetHandler(AGENT_LIST_KEYS, [this](AgentBuffer& in, AgentBuffer& out) {
            if (!ReadOriginList(in)) return false;
            ++handled;
            // Id 100 stands for a request that opens a modal prompt: it waits in a nested
            // loop until a later request has been processed inside that loop.
            if (handled == 1 && hold_first) {
                QEventLoop prompt;
                QTimer poll;
                QObject::connect(&poll, &QTimer::timeout, [&] {
                    if (handled > 1) prompt.quit();
                });
                poll.start(5);
                prompt.exec();
            }
            if (frame != nullptr) most_waiting = std::max(most_waiting, frame->WaitingRequests());
            out.AppendIntField(handled);
            if (reply_padding > 0) out.AppendStringField(Bytes(reply_padding, 0x5a));
            return true;
        });
        ASSERT_TRUE(app.InitInstance([this](CAgentApp& owner) {
            auto made = std::make_unique<CMainFrame>(owner, dispatcher);
            frame = made.get();
            return made;
        }));
    }

    // Runs `client` on a thread while the event loop serves it.
    void Serve(const std::function<void()>& client) {
        std::atomic<bool> done = false;
        std::thread thread([&] {
            client();
            done = true;
        });
        QTimer poll;
        QEventLoop loop;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (done) loop.quit();
        });
        poll.start(5);
        loop.exec();
        thread.join();
    }

    IsolatedHome home;
    ScriptedUserInterface ui;
    CAgentApp app{ui};
    RequestDispatcher dispatcher;
    std::atomic<int> handled = 0;
    bool hold_first = false;
    std::size_t reply_padding = 0;
    CMainFrame* frame = nullptr;
    std::size_t most_waiting = 0;
};

TEST_F(MainFrameTest, PipelinedRequestsAreAnsweredInOrderOnTheirConnection) {
    std::vector<std::int32_t> ids;
    Serve([&] {
        ClientConnection connection;
        ASSERT_TRUE(connection.Connect(paths::AgentSocketPath()));
        SecureBytes burst;
        for (std::int32_t id = 1; id <= 20; ++id) {
            const SecureBytes one = EncodeEnvelope(ListEnvelope(id));
            burst.insert(burst.end(), one.begin(), one.end());
        }
        ASSERT_TRUE(connection.SendRaw(burst.data(), burst.size()));
        for (int i = 0; i < 20; ++i) {
            auto reply = connection.Receive(5000);
            ASSERT_TRUE(reply.has_value());
            EXPECT_EQ(reply->code, AGENT_LIST_KEYS_REPLY);
            ids.push_back(IdOf(*reply));
        }
    });
    ASSERT_EQ(ids.size(), 20u);
    for (std::int32_t i = 0; i < 20; ++i) EXPECT_EQ(ids[i], i + 1);
    // Read as they are taken up, not all at once.
    EXPECT_GE(most_waiting, 1u);
    EXPECT_LE(most_waiting, CMainFrame::kMaxWaiting);
}

// More than one read's worth: the frame stops reading while its queue is full and must take
// up the rest by hand, since the notifier stays quiet while it is off.
TEST_F(MainFrameTest, ABurstLargerThanOneReadIsAnsweredCompletelyAndInOrder) {
    std::vector<std::int32_t> ids;
    std::int32_t sent = 0;
    Serve([&] {
        ClientConnection connection;
        ASSERT_TRUE(connection.Connect(paths::AgentSocketPath()));
        SecureBytes burst;
        while (burst.size() < 48 * 1024) {
            const SecureBytes one = EncodeEnvelope(ListEnvelope(++sent));
            burst.insert(burst.end(), one.begin(), one.end());
        }
        ASSERT_TRUE(connection.SendRaw(burst.data(), burst.size()));
        for (std::int32_t i = 0; i < sent; ++i) {
            auto reply = connection.Receive(5000);
            ASSERT_TRUE(reply.has_value()) << "reply " << i + 1 << " of " << sent;
            ids.push_back(IdOf(*reply));
        }
        // Reading is on again once the burst is through: a request sent later is answered.
        ASSERT_TRUE(connection.Send(ListEnvelope(++sent)));
        auto last = connection.Receive(5000);
        ASSERT_TRUE(last.has_value());
        ids.push_back(IdOf(*last));
    });
    ASSERT_EQ(ids.size(), static_cast<std::size_t>(sent));
    for (std::int32_t i = 0; i < sent; ++i) ASSERT_EQ(ids[i], i + 1);
}

// A client that sends and never reads: once about a mebibyte of replies waits for it, its
// requests are left in the socket, and when it reads at last every one is answered, in order.
TEST_F(MainFrameTest, AClientThatDoesNotReadItsRepliesIsNotReadEither) {
    reply_padding = 16 * 1024;
    constexpr std::int32_t kSent = 1000;  // 16 MiB of replies
    int handled_unread = 0;
    std::vector<std::int32_t> ids;
    Serve([&] {
        ClientConnection connection;
        ASSERT_TRUE(connection.Connect(paths::AgentSocketPath()));
        SecureBytes burst;
        for (std::int32_t id = 1; id <= kSent; ++id) {
            const SecureBytes one = EncodeEnvelope(ListEnvelope(id));
            burst.insert(burst.end(), one.begin(), one.end());
        }
        ASSERT_TRUE(connection.SendRaw(burst.data(), burst.size()));
        for (int last = -1; last != handled;) {
            last = handled;
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
        }
        handled_unread = handled;
        for (std::int32_t i = 0; i < kSent; ++i) {
            auto reply = connection.Receive(5000);
            ASSERT_TRUE(reply.has_value()) << "reply " << i + 1 << " of " << kSent;
            ids.push_back(IdOf(*reply));
        }
    });
    EXPECT_LT(handled_unread, kSent / 4);
    ASSERT_EQ(ids.size(), static_cast<std::size_t>(kSent));
    for (std::int32_t i = 0; i < kSent; ++i) ASSERT_EQ(ids[i], i + 1);
}

// A reply computed on the pool holds back the later replies of its connection, even those
// ready long before it; other connections are not held back.
TEST_F(MainFrameTest, AComputedReplyKeepsItsPlaceOnItsConnection) {
    std::atomic<bool> released{false};
    const auto release_computation = [&] {
        released = true;
        released.notify_all();
    };
    // Code 1044 stands for a signature: computed on the pool, released by the third list.
    dispatcher.SetHandler(AGENT_PRIVATE_KEY_OP, [&](AgentBuffer&, AgentBuffer& out) {
        out.AppendIntField(1044);
        if (DeferralScope* scope = DeferralScope::Open()) {
            scope->Defer(std::make_shared<DeferredReply>(
                [&] { released.wait(false); }, [](SecureBytes) { return SecureBytes{9}; }));
        }
        return true;
    });
    dispatcher.SetHandler(AGENT_DELETE_KEY, [&](AgentBuffer&, AgentBuffer&) {
        release_computation();
        return true;
    });
    std::vector<std::int32_t> ids;
    Serve([&] {
        ClientConnection connection, other;
        ASSERT_TRUE(connection.Connect(paths::AgentSocketPath()));
        ASSERT_TRUE(other.Connect(paths::AgentSocketPath()));
        Envelope computed;
        computed.code = AGENT_PRIVATE_KEY_OP;
        computed.flags = kEnvelopeHasWindow;
        computed.payload = ListEnvelope(5).payload;  // its identifier first
        ASSERT_TRUE(connection.Send(computed));
        ASSERT_TRUE(connection.Send(ListEnvelope(2)));
        ASSERT_TRUE(connection.Send(ListEnvelope(3)));
        // The other connection is answered while the computation waits.
        ASSERT_TRUE(other.Send(ListEnvelope(4)));
        auto reply = other.Receive(5000);
        ASSERT_TRUE(reply.has_value());
        ids.push_back(IdOf(*reply));
        Envelope release = computed;
        release.code = AGENT_DELETE_KEY;
        ASSERT_TRUE(other.Send(release));
        for (int i = 0; i < 3; ++i) {
            reply = connection.Receive(5000);
            ASSERT_TRUE(reply.has_value());
            ids.push_back(IdOf(*reply));
            if (i == 0) {
                EXPECT_EQ(reply->code, AGENT_PRIVATE_KEY_OP_REPLY);
                EXPECT_EQ(reply->payload.back(), 9);
            }
        }
    });
    release_computation();  // whatever happened, the worker is not left waiting
    EXPECT_EQ(ids, (std::vector<std::int32_t>{4, 5, 2, 3}));
}

// Malformed and unknown requests are logged as errors, once per connection however many
// come, so that a flood cannot push everything else out of the log.
TEST_F(MainFrameTest, BadRequestsAreLoggedOncePerConnection) {
    std::vector<std::uint32_t> codes;
    Serve([&] {
        for (int round = 0; round < 2; ++round) {
            ClientConnection connection;
            ASSERT_TRUE(connection.Connect(paths::AgentSocketPath()));
            Envelope malformed;
            malformed.code = AGENT_LIST_KEYS;
            malformed.flags = kEnvelopeHasWindow;
            Envelope unknown = malformed;
            unknown.code = 4242;
            for (int i = 0; i < 30; ++i) {
                ASSERT_TRUE(connection.Send((i + round) % 2 == 0 ? malformed : unknown));
            }
            ASSERT_TRUE(connection.Send(ListEnvelope(7)));
            for (int i = 0; i < 16; ++i) {
                auto reply = connection.Receive(5000);
                ASSERT_TRUE(reply.has_value());
                codes.push_back(reply->code);
            }
        }
    });
    ASSERT_EQ(codes.size(), 32u);
    EXPECT_EQ(std::count(codes.begin(), codes.end(), AGENT_FAILURE), 30);  // unknown: no reply
    auto refusal = [](const LogEntry& e) {
        return e.category == LogError && e.message.ends_with("on the native socket");
    };
    std::vector<std::string> errors;
    for (const LogEntry& entry : app.Log().Entries()) {
        if (refusal(entry)) errors.push_back(entry.message);
    }
    const std::vector<std::string> expected = {
        "Refusing a malformed request (code 1037) on the native socket",
        "Ignoring a request with unknown code 4242 on the native socket"};
    EXPECT_EQ(errors, expected);
    const auto entries = app.Log().Entries();
    const auto first = std::find_if(entries.begin(), entries.end(), refusal);
    ASSERT_NE(first + 1, entries.end());
    EXPECT_EQ((first + 1)->message.rfind(" from : main_frame_test (pid ", 0), 0u)
        << (first + 1)->message;
}

TEST_F(MainFrameTest, ARequestArrivingDuringAPromptIsProcessedInsideItsLoop) {
    hold_first = true;
    std::vector<std::int32_t> order;
    Serve([&] {
        ClientConnection first, second;
        ASSERT_TRUE(first.Connect(paths::AgentSocketPath()));
        ASSERT_TRUE(second.Connect(paths::AgentSocketPath()));
        ASSERT_TRUE(first.Send(ListEnvelope(1)));
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        ASSERT_TRUE(second.Send(ListEnvelope(2)));
        auto second_reply = second.Receive(5000);
        ASSERT_TRUE(second_reply.has_value());
        order.push_back(IdOf(*second_reply));
        auto first_reply = first.Receive(5000);
        ASSERT_TRUE(first_reply.has_value());
        order.push_back(IdOf(*first_reply));
    });
    EXPECT_EQ(order, (std::vector<std::int32_t>{2, 1}));
}

TEST_F(MainFrameTest, AClientThatVanishesLosesOnlyItsOwnReply) {
    Serve([&] {
        {
            ClientConnection gone;
            ASSERT_TRUE(gone.Connect(paths::AgentSocketPath()));
            ASSERT_TRUE(gone.Send(ListEnvelope(1)));
        }
        ClientConnection next;
        ASSERT_TRUE(next.Connect(paths::AgentSocketPath()));
        ASSERT_TRUE(next.Send(ListEnvelope(2)));
        auto reply = next.Receive(5000);
        ASSERT_TRUE(reply.has_value());
        EXPECT_EQ(IdOf(*reply), 2);
    });
}

TEST_F(MainFrameTest, EmptyPayloadIsAnsweredWithFailureAndStartupWasLogged) {
    Envelope reply;
    Serve([&] {
        ClientConnection connection;
        ASSERT_TRUE(connection.Connect(paths::AgentSocketPath()));
        Envelope empty;
        empty.code = AGENT_LIST_KEYS;
        empty.flags = kEnvelopeHasWindow;
        ASSERT_TRUE(connection.Send(empty));
        auto got = connection.Receive(5000);
        ASSERT_TRUE(got.has_value());
        reply = *got;
    });
    EXPECT_EQ(reply.code, AGENT_FAILURE);
    EXPECT_TRUE(reply.payload.empty());
    bool started = false;
    for (const LogEntry& entry : app.Log().Entries()) started |= entry.message == "Agent started";
    EXPECT_TRUE(started);
}

TEST_F(MainFrameTest, ThePromptStackRefusesAnEleventhPrompt) {
    for (int i = 0; i < CAgentApp::kMaxOpenPrompts; ++i) EXPECT_TRUE(app.PushPrompt());
    EXPECT_FALSE(app.PushPrompt());
    EXPECT_EQ(app.PromptDepth(), CAgentApp::kMaxOpenPrompts);
    // While prompts are open, showing the window only brings the prompt forward.
    app.OpenConfigurationWindow();
    EXPECT_EQ(ui.window_opened, 0);
    EXPECT_EQ(ui.brought_to_front, 1);
    for (int i = 0; i < CAgentApp::kMaxOpenPrompts + 3; ++i) app.PopPrompt();
    EXPECT_EQ(app.PromptDepth(), 0);
    app.OpenConfigurationWindow();
    EXPECT_EQ(ui.window_opened, 1);
}

TEST_F(MainFrameTest, HelpOpensThePageBesideTheExecutable) {
    EXPECT_TRUE(CAgentApp::HelpPagePath(0).ends_with("/tests/Documentation/index.html"));
    EXPECT_TRUE(CAgentApp::HelpPagePath(131).ends_with("/tests/Documentation/131.html"));
}

TEST_F(MainFrameTest, MissingStringsAndHelpPagesFallBackAsDocumented) {
    EXPECT_EQ(app.MessageBox(9999, MB_YESNO), IDOK);
    EXPECT_TRUE(ui.shown.empty());
    app.ShowHelp(4242);
    ASSERT_EQ(ui.shown.size(), 1u);
    EXPECT_EQ(ui.shown[0], "box:Help file is not available.");
}

TEST_F(MainFrameTest, EmptyingTheLogFileTellsTheUserAndTheLog) {
    const std::string path = home.Path() + "/agent.log";
    { std::ofstream(path) << "old line\r\n"; }
    EXPECT_TRUE(app.EmptyLogFile(path));
    EXPECT_EQ(std::ifstream(path).peek(), EOF);
    EXPECT_EQ(ui.shown.back(), "box:Log file has been emptied.");
    EXPECT_EQ(app.Log().Entries().back().category, LogInfo);

    EXPECT_FALSE(app.EmptyLogFile(home.Path() + "/missing/agent.log"));
    EXPECT_EQ(ui.shown.back(), "box:Could not open log file for writing; log file not emptied.");
    EXPECT_EQ(app.Log().Entries().back().category, LogError);
    const std::size_t shown = ui.shown.size();
    EXPECT_FALSE(app.EmptyLogFile(""));  // nothing typed: nothing happens
    EXPECT_EQ(ui.shown.size(), shown);
}

}  // namespace
}  // namespace kv

int main(int argc, char** argv) {
    QCoreApplication qt(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
