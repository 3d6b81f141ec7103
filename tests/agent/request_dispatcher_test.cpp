#include "agent/request_dispatcher.h"

#include <gtest/gtest.h>

#include "agent/payloads.h"
#include "platform/message_codes.h"

namespace kv {
namespace {

Envelope Request(std::uint32_t code, const Bytes& payload, bool window = true) {
    Envelope e;
    e.code = code;
    e.flags = window ? kEnvelopeHasWindow : 0;
    e.payload.assign(payload.begin(), payload.end());
    return e;
}

class DispatcherTest : public ::testing::Test {
  protected:
    DispatcherTest() {
        for (std::uint32_t code :
             {AGENT_LIST_KEYS, AGENT_PRIVATE_KEY_OP, AGENT_ADD_KEY, AGENT_DELETE_KEY}) {
            dispatcher.SetHandler(code, [this, code](AgentBuffer& in, AgentBuffer& out) {
                handled.push_back(code);
                const auto origins = ReadOriginList(in);
                if (!origins) return false;
                out.AppendIntField(static_cast<std::int32_t>(origins->size()));
                return true;
            });
        }
        dispatcher.SetShowWindow([this] { ++shown; });
    }

    RequestDispatcher dispatcher;
    std::vector<std::uint32_t> handled;
    int shown = 0;
};

TEST_F(DispatcherTest, RepliesEchoTheIdentifierWithTheRightCode) {
    const std::pair<std::uint32_t, std::uint32_t> codes[] = {
        {AGENT_LIST_KEYS, AGENT_LIST_KEYS_REPLY},
        {AGENT_PRIVATE_KEY_OP, AGENT_PRIVATE_KEY_OP_REPLY},
        {AGENT_ADD_KEY, AGENT_ADD_KEY},
        {AGENT_DELETE_KEY, AGENT_DELETE_KEY}};
    for (auto [code, reply_code] : codes) {
        const auto reply = dispatcher.Process(Request(code, BuildListRequest(77, {"A"})), true);
        ASSERT_TRUE(reply.has_value()) << code;
        EXPECT_EQ(reply->code, reply_code);
        AgentBuffer body(reply->payload);
        EXPECT_EQ(body.ReadIntField(), 77);
        EXPECT_EQ(body.ReadIntField(), 2);  // "local client" and A
        EXPECT_EQ(body.Length(), 0);
    }
}

TEST_F(DispatcherTest, EmptyPayloadFailsAtTheOriginListWithTheErrorReply) {
    const auto reply = dispatcher.Process(Request(AGENT_LIST_KEYS, {}), true);
    ASSERT_TRUE(reply.has_value());
    EXPECT_EQ(reply->code, AGENT_FAILURE);
    EXPECT_TRUE(reply->payload.empty());
    EXPECT_EQ(handled.size(), 1u);
}

TEST_F(DispatcherTest, OtherUsersAndSendersWithoutAWindowGetNothing) {
    const Bytes list = BuildListRequest(1, {});
    EXPECT_FALSE(dispatcher.Process(Request(AGENT_LIST_KEYS, list), false));
    EXPECT_FALSE(dispatcher.Process(Request(AGENT_LIST_KEYS, list, false), true));
    EXPECT_TRUE(handled.empty());  // neither was processed, so nothing could be logged
}

TEST_F(DispatcherTest, ShowWindowIsAcceptedFromAnyoneAndNeverAnswered) {
    EXPECT_FALSE(dispatcher.Process(Request(AGENT_SHOW_WINDOW, {}, false), false));
    EXPECT_FALSE(dispatcher.Process(Request(AGENT_SHOW_WINDOW, {1, 2, 3}), true));
    EXPECT_EQ(shown, 2);
}

TEST_F(DispatcherTest, ReplyCodesAndUnknownCodesAreIgnored) {
    const Bytes list = BuildListRequest(1, {});
    for (std::uint32_t code : {1036u, 1038u, 1039u, 1040u, 1042u, 1043u, 1064u, 0u, 0xFFFFFFFFu}) {
        EXPECT_FALSE(dispatcher.Process(Request(code, list), true)) << code;
    }
    EXPECT_TRUE(handled.empty());
    EXPECT_EQ(shown, 0);
}

}  // namespace
}  // namespace kv
