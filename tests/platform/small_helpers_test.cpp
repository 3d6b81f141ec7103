// The small helpers every layer shares: ASCII case folding, 32-bit byte order and the stream
// buffer both frame readers keep their bytes in.
#include <gtest/gtest.h>
#include <malloc.h>
#include <unistd.h>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "platform/ascii_case.h"
#include "platform/byte_order.h"
#include "platform/secure_memory.h"
#include "platform/stream_buffer.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#include <sanitizer/allocator_interface.h>
#define KV_UNDER_ASAN 1
#endif
#endif

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

std::size_t ResidentBytes() {
#ifdef KV_UNDER_ASAN
    __sanitizer_purge_allocator();  // its quarantine would keep the taken messages' blocks
#endif
    std::size_t pages = 0, resident = 0;
    std::ifstream("/proc/self/statm") >> pages >> resident;
    return resident * static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
}

// Many connections each holding most of a large message, then closing, or taking it: the
// memory goes back to the system, although the agent keeps freed heap blocks for reuse (as
// set here) and small blocks allocated in between pin the heap.
TEST(StreamBufferTest, GivesLargeMessagesMemoryBackWhenTakenOrFreed) {
    ::mallopt(M_MMAP_THRESHOLD, 4 << 20);
    ::mallopt(M_TRIM_THRESHOLD, 16 << 20);
    constexpr std::size_t kStreams = 48, kMessage = 1 << 20, kPiece = 16 * 1024;
    const std::vector<std::uint8_t> piece(kPiece, 0x5a);
    for (const bool take : {false, true}) {
        const std::size_t before = ResidentBytes();
        std::vector<std::unique_ptr<StreamBuffer>> streams;
        std::vector<std::unique_ptr<std::uint8_t[]>> pins;
        for (std::size_t i = 0; i < kStreams; ++i) {
            streams.push_back(std::make_unique<StreamBuffer>());
            for (std::size_t fed = 0; fed < kMessage; fed += kPiece) {
                streams.back()->Feed(piece.data(), piece.size());
                pins.push_back(std::make_unique<std::uint8_t[]>(64));
            }
        }
        const std::size_t filled = ResidentBytes();
        ASSERT_GT(filled, before + kStreams * kMessage / 2) << take;
        if (take) {
            for (auto& stream : streams) {
                EXPECT_EQ(stream->Take(4, kMessage - 4).size(), kMessage - 4);
                EXPECT_EQ(stream->Buffered(), 0u);
            }
        } else {
            streams.clear();
        }
        EXPECT_LT(ResidentBytes(), before + (filled - before) / 4) << take;
    }
}

}  // namespace
}  // namespace kv
