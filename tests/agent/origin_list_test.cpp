#include "agent/origin_list.h"

#include <gtest/gtest.h>

#include "tests/agent/wire_bytes.h"

namespace kv {
namespace {

using namespace kv::test;

std::optional<OriginList> Read(const Wire& wire, int32_t* left = nullptr) {
    AgentBuffer in(wire);
    std::optional<OriginList> origins = ReadOriginList(in);
    if (left != nullptr) *left = in.Length();
    return origins;
}

TEST(OriginListTest, LocalClientComesFirstThenReceivedOrder) {
    int32_t left = -1;
    EXPECT_EQ(Read(IntField(0), &left), OriginList{"local client"});
    EXPECT_EQ(left, 0);

    const Wire two = Concat({IntField(2), StrField("A"), StrField("B"), {0xee}});
    EXPECT_EQ(Read(two, &left), (OriginList{"local client", "A", "B"}));
    EXPECT_EQ(left, 1);  // what follows the list is left for the request's own fields
    EXPECT_EQ(Requester(*Read(two)), "B");
    EXPECT_EQ(Requester(*Read(IntField(0))), "local client");
}

// A hop's name reaches the log file and the terminal prompt: no forged lines, no escapes.
TEST(OriginListTest, ControlCharactersBecomeQuestionMarks) {
    const Wire wire =
        Concat({IntField(1), StrField("h\r\n12/08/26 Unlock:\x1b[2J\x7f\xc2\x9b\xc3\xa9")});
    EXPECT_EQ(Requester(*Read(wire)), "h??12/08/26 Unlock:?[2J??\xc3\xa9");
}

TEST(OriginListTest, MalformedLists) {
    const std::vector<Wire> cases = {
        {},                                  // empty payload
        Concat({Word(0), Word(4)}),          // nothing after the length word
        Concat({Word(0), Word(4), {1, 0}}),  // count cut short
        IntField(-1),                        // negative counts
        IntField(INT32_MIN),
        Concat({IntField(1), StrField("")}),              // an empty origin
        Concat({IntField(2), StrField("A")}),             // fewer entries than counted
        Concat({IntField(1), StrHeader(5), {'a', 'b'}}),  // entry longer than the rest
        Concat({IntField(INT32_MAX), StrField("A")}),     // huge count, little data
    };
    // As many hops as are read, and one more: each would be a line of the event log.
    const auto hops = [](int32_t count) {
        Wire wire = IntField(count);
        for (int32_t i = 0; i < count; ++i) {
            const Wire hop = StrField("h");
            wire.insert(wire.end(), hop.begin(), hop.end());
        }
        return wire;
    };
    const auto most = Read(hops(kMaxOrigins));
    ASSERT_TRUE(most);
    EXPECT_EQ(most->size(), static_cast<std::size_t>(kMaxOrigins) + 1);
    EXPECT_FALSE(Read(hops(kMaxOrigins + 1)));
    EXPECT_FALSE(OriginsAreWritable(std::vector<std::string>(kMaxOrigins + 1, "h")));
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_FALSE(Read(cases[i]));
    }
}

TEST(OriginListTest, WriteReadsBack) {
    AgentBuffer out;
    ASSERT_TRUE(OriginsAreWritable({"host-a", "host-b"}));
    WriteOriginList({"host-a", "host-b"}, out);
    EXPECT_EQ(ReadOriginList(out), (OriginList{"local client", "host-a", "host-b"}));
    EXPECT_FALSE(OriginsAreWritable({"host-a", ""}));
}

}  // namespace
}  // namespace kv
