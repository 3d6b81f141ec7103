// The two-round output convention, driven by scripted module answers.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <utility>
#include <vector>

#include "cryptomodule/two_call.h"
#include "platform/secure_memory.h"

namespace kv {
namespace {

// Answers like a module call producing `output`, or with a scripted code per round.
struct ScriptedCall {
    explicit ScriptedCall(std::vector<std::uint8_t> out, std::vector<int> forced = {})
        : output(std::move(out)), forcedCodes(std::move(forced)) {}

    std::vector<std::uint8_t> output;
    std::vector<int> forcedCodes;   // used instead of the real answer, round by round
    std::uint32_t claimedSize = 0;  // when nonzero, the size stated with 1070
    std::vector<bool> hadBuffer;

    int operator()(std::uint8_t* out, std::uint32_t* length) {
        const std::size_t round = hadBuffer.size();
        hadBuffer.push_back(out != nullptr);
        if (round < forcedCodes.size() && forcedCodes[round] != KVCLM_OK) {
            if (forcedCodes[round] == KVCLM_E_SHORT_BUFFER) *length = Needed();
            return forcedCodes[round];
        }
        if (out == nullptr || *length < output.size()) {
            if (output.empty()) {
                *length = 0;
                return KVCLM_OK;
            }
            *length = Needed();
            return KVCLM_E_SHORT_BUFFER;
        }
        std::memcpy(out, output.data(), output.size());
        *length = static_cast<std::uint32_t>(output.size());
        return KVCLM_OK;
    }
    std::uint32_t Needed() const {
        return claimedSize != 0 ? claimedSize : static_cast<std::uint32_t>(output.size());
    }
};

TEST(CallTwice, AsksForTheSizeThenFillsTheBuffer) {
    ScriptedCall call{{1, 2, 3, 4, 5}};
    auto result = CallTwice<SecureBytes>(std::ref(call));
    ASSERT_TRUE(result.ok());
    EXPECT_EQ(result.value, (SecureBytes{1, 2, 3, 4, 5}));
    EXPECT_EQ(call.hadBuffer, (std::vector<bool>{false, true}));
}

TEST(CallTwice, KeepsOnlyWhatTheModuleWrote) {
    // A module may ask for more than it finally writes (a signature with leading zeros).
    ScriptedCall call{{9, 8, 7}};
    call.claimedSize = 10;
    auto result = CallTwice<Bytes>(std::ref(call));
    ASSERT_TRUE(result.ok());
    EXPECT_EQ(result.value, (Bytes{9, 8, 7}));
}

TEST(CallTwice, OneRoundWhenTheOfferedRoomSuffices) {
    ScriptedCall call{{1, 2, 3}};
    auto result = CallTwice<Bytes>(std::ref(call), 40);
    ASSERT_TRUE(result.ok());
    EXPECT_EQ(result.value, (Bytes{1, 2, 3}));
    EXPECT_EQ(call.hadBuffer, (std::vector<bool>{true}));

    ScriptedCall shortRoom{{1, 2, 3, 4}};
    auto grown = CallTwice<Bytes>(std::ref(shortRoom), 2);
    ASSERT_TRUE(grown.ok());
    EXPECT_EQ(grown.value.size(), 4u);
    EXPECT_EQ(shortRoom.hadBuffer.size(), 2u);
}

TEST(CallTwice, EmptyOutputSucceedsWithoutABuffer) {
    ScriptedCall call{{}};
    auto result = CallTwice<Bytes>(std::ref(call));
    EXPECT_TRUE(result.ok());
    EXPECT_TRUE(result.value.empty());
    EXPECT_EQ(call.hadBuffer.size(), 1u);
}

TEST(CallTwice, FailuresKeepTheModuleCodeAndGiveNoOutput) {
    ScriptedCall refused{{1, 2}, {KVCLM_E_BAD_FORMAT}};
    auto first = CallTwice<Bytes>(std::ref(refused));
    EXPECT_EQ(first.code, KVCLM_E_BAD_FORMAT);
    EXPECT_TRUE(first.value.empty());
    EXPECT_EQ(refused.hadBuffer.size(), 1u);

    ScriptedCall failsLater{{1, 2}, {KVCLM_OK, KVCLM_E_CRYPTO}};
    auto second = CallTwice<Bytes>(std::ref(failsLater));
    EXPECT_EQ(second.code, KVCLM_E_CRYPTO);
    EXPECT_TRUE(second.value.empty());
}

TEST(CallTwice, ModuleFaultsAreFailuresNotLoops) {
    // Success claimed for output that had no buffer to go into.
    auto noBuffer = CallTwice<Bytes>([](std::uint8_t*, std::uint32_t* length) {
        *length = 8;
        return KVCLM_OK;
    });
    EXPECT_EQ(noBuffer.code, KVCLM_E_CRYPTO);

    // "Short" again although the second buffer has the size asked for.
    ScriptedCall stillShort{{1, 2, 3}, {KVCLM_OK, KVCLM_E_SHORT_BUFFER}};
    auto twice = CallTwice<Bytes>(std::ref(stillShort));
    EXPECT_EQ(twice.code, KVCLM_E_SHORT_BUFFER);
    EXPECT_TRUE(twice.value.empty());
    EXPECT_EQ(stillShort.hadBuffer.size(), 2u);

    // "Short" with a size no larger than what was offered.
    ScriptedCall shrinking{{1, 2, 3}, {KVCLM_E_SHORT_BUFFER}};
    auto offered = CallTwice<Bytes>(std::ref(shrinking), 3);
    EXPECT_EQ(offered.code, KVCLM_E_CRYPTO);
    EXPECT_EQ(shrinking.hadBuffer.size(), 1u);

    // A length beyond the buffer after success must not be trusted.
    auto overlong = CallTwice<Bytes>([](std::uint8_t* out, std::uint32_t* length) {
        if (out == nullptr) {
            *length = 4;
            return KVCLM_E_SHORT_BUFFER;
        }
        *length = 4000;
        return KVCLM_OK;
    });
    EXPECT_EQ(overlong.code, KVCLM_E_CRYPTO);
    EXPECT_TRUE(overlong.value.empty());
}

}  // namespace
}  // namespace kv
