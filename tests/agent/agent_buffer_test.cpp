#include "agent/agent_buffer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "tests/agent/wire_bytes.h"

namespace kv {
namespace {

using test::Concat;
using test::Word;

AgentBuffer FromBytes(const test::Wire& bytes) { return AgentBuffer(bytes); }

TEST(AgentBufferTest, FieldsAreLittleEndianWithTagsAndLengths) {
    AgentBuffer out;
    out.AppendIntField(0x01020304);
    out.AppendStringField("ab");
    out.AppendStringField(nullptr, 0);
    const std::vector<uint8_t> expected =
        Concat({Word(0), Word(4), {4, 3, 2, 1}, Word(1), Word(2), {'a', 'b'}, Word(1), Word(0)});
    EXPECT_EQ(std::vector<uint8_t>(out.Bytes().begin(), out.Bytes().end()), expected);
    EXPECT_EQ(out.Length(), 12 + 10 + 8);
}

TEST(AgentBufferTest, AppendIgnoresEmptyAndNegativeCounts) {
    AgentBuffer out;
    const uint8_t byte = 7;
    EXPECT_EQ(out.AppendBytes(&byte, 0), 0);
    EXPECT_EQ(out.AppendBytes(&byte, -5), 0);
    EXPECT_EQ(out.AppendBytes(nullptr, 3), 0);
    EXPECT_EQ(out.Data(), nullptr);
    EXPECT_EQ(out.AppendBytes(&byte, 1), 1);
    // A negative string length still writes a well-formed (empty) field.
    out.AppendStringField(&byte, -1);
    EXPECT_EQ(out.Length(), 9);
}

TEST(AgentBufferTest, ReadsConsumeFromTheFrontUntilEmpty) {
    AgentBuffer in(FromBytes(Concat({Word(-7), Word(0x7fffffff), {'x', 'y'}})));
    EXPECT_EQ(in.ReadInt(), -7);
    EXPECT_EQ(in.ReadInt(), 0x7fffffff);
    EXPECT_EQ(in.Length(), 2);
    const auto rest = in.ReadBytes(2);
    ASSERT_TRUE(rest);
    EXPECT_EQ(std::string(rest->begin(), rest->end()), "xy");
    EXPECT_EQ(in.Length(), 0);
    EXPECT_EQ(in.Data(), nullptr);
    // An emptied buffer can be reused for a reply.
    in.AppendIntField(5);
    EXPECT_EQ(in.ReadIntField(), 5);
}

TEST(AgentBufferTest, ShortRemaindersReadAsMissingAndAreKept) {
    for (int remainder = 0; remainder <= 3; ++remainder) {
        SCOPED_TRACE(remainder);
        AgentBuffer in(FromBytes(std::vector<uint8_t>(remainder, 0xff)));
        EXPECT_EQ(in.ReadInt(), -1);
        in.SkipTag();
        EXPECT_EQ(in.ReadIntField(), -1);
        EXPECT_FALSE(in.ReadStringField());
        EXPECT_FALSE(in.ReadTextField());
        EXPECT_EQ(in.Length(), remainder);
    }
}

TEST(AgentBufferTest, ReadBytesRefusesBadCountsWithoutConsuming) {
    AgentBuffer in(FromBytes({1, 2, 3}));
    for (int32_t n : {0, -1, 4, INT32_MAX, INT32_MIN}) {
        SCOPED_TRACE(n);
        EXPECT_FALSE(in.ReadBytes(n));
        EXPECT_EQ(in.Length(), 3);
    }
    AgentBuffer empty;
    EXPECT_FALSE(empty.ReadBytes(1));
}

TEST(AgentBufferTest, StringFieldRefusesEmptyAndOverlongLengths) {
    // Bad lengths: 0, longer than what remains, 0x7fffffff, and 0x80000000 (negative).
    for (int32_t n : {0, 3, INT32_MAX, INT32_MIN}) {
        SCOPED_TRACE(n);
        AgentBuffer in(FromBytes(Concat({Word(1), Word(n), {'a', 'b'}})));
        EXPECT_FALSE(in.ReadStringField());
        // Tag and length were read; the bytes after them stay for the next reader.
        EXPECT_EQ(in.Length(), 2);
    }
}

TEST(AgentBufferTest, IntFieldIgnoresTagAndLengthWords) {
    AgentBuffer in(FromBytes(Concat({Word(9), Word(99), Word(42)})));
    EXPECT_EQ(in.ReadIntField(), 42);
    AgentBuffer cut(FromBytes(Concat({Word(0), Word(4), {1, 2}})));
    EXPECT_EQ(cut.ReadIntField(), -1);
    EXPECT_EQ(cut.Length(), 2);
}

TEST(AgentBufferTest, TextStopsAtTheFirstNul) {
    AgentBuffer in;
    in.AppendStringField(std::string("ab\0cd", 5));
    in.AppendStringField(std::string("\0", 1));
    EXPECT_EQ(in.ReadTextField(), "ab");
    EXPECT_EQ(in.ReadTextField(), "");
}

TEST(AgentBufferTest, ReleaseReturnsOnlyTheUnconsumedPart) {
    AgentBuffer in(FromBytes(Concat({Word(1), {9, 8}})));
    in.SkipTag();
    const SecureBytes rest = in.Release();
    EXPECT_EQ(rest, SecureBytes({9, 8}));
    EXPECT_EQ(in.Length(), 0);
}

}  // namespace
}  // namespace kv
