#include "agent/agent_key_entry.h"

#include <gtest/gtest.h>

#include "tests/agent/wire_bytes.h"

namespace kv {
namespace {

using namespace kv::test;

bool Read(const Wire& wire, AgentKeyEntry& entry) {
    AgentBuffer in(wire);
    return ReadKeyEntry(in, entry);
}

TEST(AgentKeyEntryTest, ReadsTheFiveFields) {
    AgentKeyEntry entry;
    ASSERT_TRUE(Read(KeyEntryWire("BLOB", "name: comment", -1, 1), entry));
    EXPECT_EQ(entry.type, 1);
    EXPECT_EQ(entry.blob, Bytes({'B', 'L', 'O', 'B'}));
    EXPECT_EQ(entry.comment, "name: comment");
    EXPECT_EQ(entry.lifetime, -1);
    EXPECT_EQ(entry.flags, 1);
}

TEST(AgentKeyEntryTest, RejectsWrongTypeMissingBlobAndBadFlags) {
    const Wire wrong_type =
        Concat({IntField(2), StrField("B"), StrField("c"), IntField(-1), IntField(0)});
    const Wire empty_blob = KeyEntryWire("", "c", -1, 0);
    const Wire flags_minus_one = KeyEntryWire("B", "c", -1, -1);
    const Wire no_flags = Concat({IntField(1), StrField("B"), StrField("c"), IntField(60)});
    const Wire flags_cut_short = Concat({no_flags, Word(0), Word(4), {0, 0}});
    for (const Wire& wire :
         {wrong_type, empty_blob, flags_minus_one, no_flags, flags_cut_short, Wire{}}) {
        AgentKeyEntry entry;
        EXPECT_FALSE(Read(wire, entry));
    }
}

TEST(AgentKeyEntryTest, BadCommentIsToleratedAndTheFieldsAfterItStillRead) {
    AgentKeyEntry entry;
    ASSERT_TRUE(Read(KeyEntryWire("B", "", 30, 0), entry));
    EXPECT_FALSE(entry.comment);
    EXPECT_EQ(entry.lifetime, 30);

    // A comment length beyond the payload: the next fields follow its length word.
    const Wire overlong =
        Concat({IntField(1), StrField("B"), StrHeader(1000), IntField(45), IntField(1)});
    ASSERT_TRUE(Read(overlong, entry));
    EXPECT_FALSE(entry.comment);
    EXPECT_EQ(entry.lifetime, 45);
    EXPECT_EQ(entry.flags, 1);
}

TEST(AgentKeyEntryTest, WriteRoundTripsAndRefusesOtherTypes) {
    AgentKeyEntry entry{1, 3600, 0, std::nullopt, Bytes{1, 2, 3}};
    AgentBuffer out;
    ASSERT_TRUE(WriteKeyEntry(entry, out));
    // An absent comment is an empty field, which reads back as absent.
    EXPECT_EQ(out.Length(), 52 + 3);
    AgentKeyEntry back;
    ASSERT_TRUE(ReadKeyEntry(out, back));
    EXPECT_EQ(back, entry);

    entry.type = 0;
    EXPECT_FALSE(WriteKeyEntry(entry, out));
    EXPECT_EQ(out.Length(), 0);
}

}  // namespace
}  // namespace kv
