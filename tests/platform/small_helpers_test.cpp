// The small helpers every layer shares: ASCII case folding, 32-bit byte order and the stream
// buffer both frame readers keep their bytes in.
#include <gtest/gtest.h>

#include <string>

#include "platform/ascii_case.h"
#include "platform/byte_order.h"
#include "platform/secure_memory.h"
#include "platform/stream_buffer.h"

namespace kv {
namespace {

TEST(AsciiCaseTest, FoldsOnlyAsciiLettersWhateverTheBytes) {
    EXPECT_EQ(FoldAsciiCase("Key10 \xC3\x89T\xC3\xA9 [Z]@"), "key10 \xC3\x89t\xC3\xA9 [z]@");
    EXPECT_TRUE(EqualsIgnoringAsciiCase("KeyPairs", "KEYPAIRS"));
    EXPECT_FALSE(EqualsIgnoringAsciiCase("\xC3\x89", "\xC3\xA9"));  // É and é stay apart
    EXPECT_FALSE(EqualsIgnoringAsciiCase("[", "{"));  // 0x5B and 0x7B differ by the case bit
    EXPECT_FALSE(EqualsIgnoringAsciiCase("key", "key "));
    EXPECT_TRUE(EndsWithIgnoringAsciiCase("id_rsa.PUB", ".pub"));
    EXPECT_TRUE(EndsWithIgnoringAsciiCase(".pub", ".pub"));
    EXPECT_FALSE(EndsWithIgnoringAsciiCase("pub", ".pub"));
    EXPECT_FALSE(EndsWithIgnoringAsciiCase("id.pubx", ".pub"));
}

TEST(ByteOrderTest, BothOrdersRoundTripAndLayOutTheBytesAsTheWireHasThem) {
    std::uint8_t word[4];
    StoreLe32(0x01020304u, word);
    EXPECT_EQ(word[0], 0x04);
    EXPECT_EQ(word[3], 0x01);
    EXPECT_EQ(LoadLe32(word), 0x01020304u);
    StoreBe32(0xFFFFFFFEu, word);
    EXPECT_EQ(word[0], 0xFF);
    EXPECT_EQ(word[3], 0xFE);
    EXPECT_EQ(LoadBe32(word), 0xFFFFFFFEu);
    // The top bit is data, not a sign that spreads.
    const std::uint8_t high[4] = {0x00, 0x00, 0x00, 0x80};
    EXPECT_EQ(LoadLe32(high), 0x80000000u);
    SecureBytes out;
    AppendLe32(out, 7);
    AppendBe32(out, 7);
    EXPECT_EQ(out, (SecureBytes{7, 0, 0, 0, 0, 0, 0, 7}));
}

// Appending a buffer's own bytes to it must survive the growth that moves them.
TEST(SecureBytesTest, AppendsOtherAndOwnBytesWhileGrowing) {
    SecureBytes out = {1, 2, 3};
    const std::uint8_t more[] = {4, 5};
    AppendBytes(out, more);
    AppendBytes(out, {});
    EXPECT_EQ(out, (SecureBytes{1, 2, 3, 4, 5}));
    out.shrink_to_fit();
    AppendBytes(out, std::span<const std::uint8_t>(out).subspan(1, 3));
    EXPECT_EQ(out, (SecureBytes{1, 2, 3, 4, 5, 2, 3, 4}));
}

// Many messages taken one by one from a stream fed in uneven pieces: every message comes out
// whole and in order, also after the taken bytes have been dropped from the front.
TEST(StreamBufferTest, TakesWholeMessagesAcrossFeedsAndCompactions) {
    StreamBuffer stream;
    SecureBytes sent;
    for (int i = 0; i < 3000; ++i) {
        sent.push_back(static_cast<std::uint8_t>(i % 7));  // a one-byte header, skipped
        for (int j = 0; j < 40; ++j) sent.push_back(static_cast<std::uint8_t>(i + j));
    }
    std::size_t fed = 0;
    int taken = 0;
    for (std::size_t piece = 1; fed < sent.size(); piece = piece % 97 + 13) {
        const std::size_t n = std::min(piece, sent.size() - fed);
        stream.Feed(sent.data() + fed, n);
        fed += n;
        while (stream.Buffered() >= 41) {
            ASSERT_EQ(stream.Front()[0], taken % 7);
            const SecureBytes message = stream.Take(1, 40);
            ASSERT_EQ(message.size(), 40u);
            for (int j = 0; j < 40; ++j)
                ASSERT_EQ(message[j], static_cast<std::uint8_t>(taken + j)) << taken;
            ++taken;
        }
    }
    EXPECT_EQ(taken, 3000);
    EXPECT_EQ(stream.Buffered(), 0u);
    stream.Feed("ab", 2);
    EXPECT_EQ(stream.Take(0, 2), (SecureBytes{'a', 'b'}));
}

}  // namespace
}  // namespace kv
