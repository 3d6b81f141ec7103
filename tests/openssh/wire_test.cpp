// The SSH wire reader and writer, the message framing and the unlock delay.
#include <gtest/gtest.h>

#include "agent/openssh/frame_reader.h"
#include "agent/openssh/session_bind.h"
#include "agent/openssh/ssh_wire.h"
#include "agent/openssh/unlock_throttle.h"

namespace kv {
namespace {

TEST(SshReaderTest, AFailedReadIsStickyAndLeavesThePositionAtTheField) {
    const uint8_t data[] = {0, 0, 0, 9, 'a', 'b', 'c', 0, 0, 0, 1, 'x'};
    SshReader in(data);
    EXPECT_TRUE(in.String().empty());  // claims 9 bytes, 8 remain
    EXPECT_FALSE(in.Ok());
    EXPECT_EQ(in.Remaining(), sizeof data);
    EXPECT_EQ(in.Uint32(), 0u);  // later reads yield nothing, even ones that would fit
    EXPECT_EQ(in.Remaining(), sizeof data);
}

TEST(SshReaderTest, ReadsBigEndianFieldsAndStopsTextAtNul) {
    const uint8_t data[] = {0x0b, 0x12, 0x34, 0x56, 0x78, 0, 0, 0, 3, 'a', 0, 'b'};
    SshReader in(data);
    EXPECT_EQ(in.Byte(), 0x0b);
    EXPECT_EQ(in.Uint32(), 0x12345678u);
    EXPECT_EQ(in.Text(), "a");
    EXPECT_TRUE(in.Ok());
    EXPECT_TRUE(in.AtEnd());
    in.Byte();
    EXPECT_FALSE(in.Ok());
}

TEST(SshReaderTest, LengthsNearTheTopOfTheRangeFailWithoutOverflow) {
    const uint8_t data[] = {0xff, 0xff, 0xff, 0xff, 1, 2};
    SshReader in(data);
    EXPECT_TRUE(in.String().empty());
    EXPECT_FALSE(in.Ok());
}

TEST(SshWriterTest, MpintsAreMinimalAndPositive) {
    const uint8_t high[] = {0x00, 0x00, 0x80, 0x01};
    const uint8_t low[] = {0x00, 0x7f};
    SshWriter out;
    out.Mpint(high);
    out.Mpint(low);
    out.Mpint({});
    const SecureBytes expected = {0, 0, 0, 3, 0x00, 0x80, 0x01, 0, 0, 0, 1, 0x7f, 0, 0, 0, 0};
    EXPECT_EQ(out.Data(), expected);
}

SecureBytes Frame(std::initializer_list<uint8_t> body) { return FrameMessage(SecureBytes(body)); }

TEST(SshFrameReaderTest, CutsPipelinedAndSplitMessages) {
    SecureBytes stream = Frame({11});
    const SecureBytes second = Frame({13, 1, 2, 3});
    stream.insert(stream.end(), second.begin(), second.end());
    SshFrameReader reader;
    reader.Feed(stream.data(), 6);  // the first message and half a length word
    ASSERT_EQ(reader.Next(), SecureBytes({11}));
    EXPECT_FALSE(reader.Next().has_value());
    reader.Feed(stream.data() + 6, stream.size() - 6);
    EXPECT_EQ(reader.Next(), SecureBytes({13, 1, 2, 3}));
    EXPECT_FALSE(reader.Next().has_value());
    EXPECT_EQ(reader.Buffered(), 0u);
}

TEST(SshFrameReaderTest, AMessageOverTheLimitMakesTheStreamInvalid) {
    const uint32_t limit = openssh::kMaxMessage;
    for (uint32_t length : {limit, limit + 1}) {
        const uint8_t header[] = {static_cast<uint8_t>(length >> 24),
                                  static_cast<uint8_t>(length >> 16),
                                  static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length)};
        SshFrameReader reader;
        reader.Feed(header, sizeof header);
        EXPECT_FALSE(reader.Next().has_value());
        EXPECT_EQ(reader.Invalid(), length > limit) << length;
    }
}

TEST(SshFrameReaderTest, AnEmptyMessageIsAMessage) {
    SshFrameReader reader;
    const SecureBytes empty = Frame({});
    reader.Feed(empty.data(), empty.size());
    const auto message = reader.Next();
    ASSERT_TRUE(message.has_value());
    EXPECT_TRUE(message->empty());
}

TEST(SessionBindTest, OnlyAWellFormedBindingWithItsFlagSetSaysForwarding) {
    auto bind = [](std::string_view name, int flag, bool extra = false) {
        SshWriter w;
        w.Byte(27);
        w.String(name);
        w.String("host key");
        w.String("session id");
        w.String("signature");
        if (flag >= 0) w.Byte(static_cast<uint8_t>(flag));
        if (extra) w.Byte(0);
        return w.Release();
    };
    EXPECT_TRUE(IsForwardingSessionBind(bind("session-bind@openssh.com", 1)));
    EXPECT_TRUE(IsForwardingSessionBind(bind("session-bind@openssh.com", 2)));
    EXPECT_FALSE(IsForwardingSessionBind(bind("session-bind@openssh.com", 0)));
    EXPECT_FALSE(IsForwardingSessionBind(bind("session-bind@openssh.com", -1)));  // flag missing
    EXPECT_FALSE(IsForwardingSessionBind(bind("session-bind@openssh.com", 1, true)));
    EXPECT_FALSE(IsForwardingSessionBind(bind("session-bind@openssh.co", 1)));
    EXPECT_FALSE(IsForwardingSessionBind(bind("query", 1)));
    SecureBytes sign = bind("session-bind@openssh.com", 1);
    sign[0] = 13;
    EXPECT_FALSE(IsForwardingSessionBind(sign));
    EXPECT_FALSE(IsForwardingSessionBind({}));
}

TEST(UnlockThrottleTest, HoldGrowsByAStepUpToTenSecondsAndEndsWithASuccess) {
    using std::chrono::milliseconds;
    UnlockThrottle throttle(milliseconds(300));
    EXPECT_FALSE(throttle.FailurePending());
    EXPECT_EQ(throttle.RecordFailure(), milliseconds(300));
    EXPECT_TRUE(throttle.FailurePending());
    throttle.FailureAnswered();
    EXPECT_FALSE(throttle.FailurePending());
    EXPECT_EQ(throttle.RecordFailure(), milliseconds(600));
    for (int i = 0; i < 40; ++i) throttle.RecordFailure();
    EXPECT_EQ(throttle.RecordFailure(), UnlockThrottle::kMaxHold);
    throttle.RecordSuccess();
    EXPECT_EQ(throttle.Failures(), 0);
    EXPECT_EQ(throttle.RecordFailure(), milliseconds(300));
}

}  // namespace
}  // namespace kv
