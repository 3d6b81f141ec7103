#include "platform/envelope.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

#include "client/agent_client.h"
#include "client/key_input.h"
#include "client/output.h"
#include "platform/message_codes.h"
#include "tests/support/temp_dir.h"

namespace kv {
namespace {

SecureBytes Encoded(std::uint32_t code, std::uint32_t flags, std::size_t length) {
    Envelope e;
    e.code = code;
    e.flags = flags;
    e.payload.assign(length, 0xAB);
    return EncodeEnvelope(e);
}

TEST(EnvelopeReader, CutsAStreamFedInPiecesIntoWholeEnvelopes) {
    SecureBytes stream = Encoded(1037, 1, 24);
    const SecureBytes second = Encoded(1046, 0, 0);
    stream.insert(stream.end(), second.begin(), second.end());
    EXPECT_EQ(stream[0], 0x0D);  // 1037 little-endian
    EXPECT_EQ(stream[1], 0x04);

    EnvelopeReader reader;
    for (std::uint8_t byte : stream) {
        EXPECT_FALSE(reader.Invalid());
        reader.Feed(&byte, 1);
    }
    auto first = reader.Next();
    ASSERT_TRUE(first.has_value());
    EXPECT_EQ(first->code, 1037u);
    EXPECT_TRUE(first->HasWindow());
    EXPECT_EQ(first->payload.size(), 24u);
    auto show = reader.Next();
    ASSERT_TRUE(show.has_value());
    EXPECT_EQ(show->code, 1046u);
    EXPECT_FALSE(show->HasWindow());
    EXPECT_FALSE(reader.Next().has_value());
    EXPECT_EQ(reader.Pending(), 0u);
}

TEST(EnvelopeReader, TruncatedEnvelopesWaitAndOversizedOnesInvalidateTheStream) {
    EnvelopeReader reader;
    const SecureBytes whole = Encoded(1041, 1, 100);
    reader.Feed(whole.data(), whole.size() - 1);
    EXPECT_FALSE(reader.Next().has_value());
    EXPECT_FALSE(reader.Invalid());

    EnvelopeReader at_limit;
    const SecureBytes header = Encoded(1041, 1, 0);
    SecureBytes big(header.begin(), header.end());
    big[8] = 0x00, big[9] = 0x00, big[10] = 0x10, big[11] = 0x00;  // exactly 1 MiB: allowed
    at_limit.Feed(big.data(), big.size());
    EXPECT_FALSE(at_limit.Next().has_value());
    EXPECT_FALSE(at_limit.Invalid());

    EnvelopeReader over;
    big[8] = 0x01;  // 1 MiB + 1
    over.Feed(big.data(), big.size());
    EXPECT_FALSE(over.Next().has_value());
    EXPECT_TRUE(over.Invalid());
    big[8] = 0xFF, big[9] = 0xFF, big[10] = 0xFF, big[11] = 0xFF;
    EnvelopeReader huge;
    huge.Feed(big.data(), big.size());
    EXPECT_FALSE(huge.Next().has_value());
    EXPECT_TRUE(huge.Invalid());
}

// What "kvsshaa-client raw --flags 0" runs: a send that fails must not read as sent.
TEST(ClientRaw, AFailedSendWithoutAWindowIsAnError) {
    TempDir dir;
    const std::string path = dir.Path() + "/agent";
    const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(listener, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 1), 0);

    ClientOptions options;
    options.socket_path = path;
    AgentClient client(options);
    ASSERT_TRUE(client.Connect());
    ::close(::accept(listener, nullptr, nullptr));  // the agent drops the connection
    ::close(listener);

    const Bytes payload(16, 0);
    const auto reply = client.Raw(AGENT_LIST_KEYS, 0, payload);
    EXPECT_FALSE(reply.has_value());
    EXPECT_FALSE(client.Error().empty());
    EXPECT_EQ(Output(false).Raw(reply, false, client.Error()), 1);
}

TEST(ClientInput, HexRejectsGarbage) {
    EXPECT_EQ(DecodeHex("00ff10"), (Bytes{0x00, 0xFF, 0x10}));
    EXPECT_FALSE(DecodeHex("0").has_value());
    EXPECT_FALSE(DecodeHex("zz").has_value());
    EXPECT_FALSE(DecodeHex(" 1").has_value());
}

// Comments in --json output are a client's bytes: the output must stay JSON a strict parser
// takes (valid UTF-8), with every control character escaped.
TEST(ClientOutput, JsonStringsAreValidUtf8WithControlsEscaped) {
    EXPECT_EQ(JsonString("a\"\\\n\x7f"), "\"a\\\"\\\\\\u000a\\u007f\"");
    EXPECT_EQ(JsonString("\xc3\xa9\xe2\x82\xac\xf0\x9f\x94\x91"),
              "\"\xc3\xa9\xe2\x82\xac\xf0\x9f\x94\x91\"");
    // A stray continuation byte, a lead byte cut short, an overlong form, a surrogate and a
    // code point past U+10FFFF.
    EXPECT_EQ(
        JsonString("\x80|\xc3|\xc0\xaf|\xed\xa0\x80|\xf4\x90\x80\x80"),
        "\"\\ufffd|\\ufffd|\\ufffd\\ufffd|\\ufffd\\ufffd\\ufffd|\\ufffd\\ufffd\\ufffd\\ufffd\"");
}

}  // namespace
}  // namespace kv
