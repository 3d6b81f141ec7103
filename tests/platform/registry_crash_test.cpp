// A process killed in the middle of writing never leaves a torn value behind, and a
// transaction of several values lands whole or not at all.
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <random>

#include "tests/platform/registry_fixture.h"

namespace kv::testing {
namespace {

// Every byte depends on the generation and the position, so a mix of two generations, a
// truncation or a stale page shows.
Bytes Pattern(std::uint32_t generation, std::size_t size) {
    Bytes data(size);
    std::memcpy(data.data(), &generation, sizeof generation);
    for (std::size_t i = sizeof generation; i < size; ++i) {
        data[i] = static_cast<std::uint8_t>((generation * 131u + i * 7u) ^ (i >> 8));
    }
    return data;
}

std::string TextPattern(std::uint32_t generation) {
    std::string text = "generation " + std::to_string(generation) + ":";
    while (text.size() < 3000) text += static_cast<char>('a' + (text.size() + generation) % 26);
    return text;
}

// The child: rewrite the same values forever, reporting each finished generation.
[[noreturn]] void WriteForever(int report, std::uint32_t first) {
    RegistryKey key(kAgentRegistryPath);
    for (std::uint32_t generation = first;; ++generation) {
        const Bytes big = Pattern(generation, 64 * 1024);
        const std::string text = TextPattern(generation);
        bool ok = key.WriteBinary("Big", big.data(), static_cast<std::uint32_t>(big.size())) &&
                  key.WriteString("Text", text.c_str());
        RegistryTransaction tx;
        ok = ok && key.WriteDword("T1", generation) && key.WriteBinary("T2", big.data(), 5000) &&
             key.WriteString("T3", text.c_str());
        if (!ok || !tx.Commit()) _exit(2);
        if (write(report, &generation, sizeof generation) != sizeof generation) _exit(3);
    }
}

// Reads `name` and returns the generation its content is a complete copy of, or 0.
std::uint32_t GenerationOf(RegistryKey& key, const char* name, std::size_t size) {
    Bytes data(size + 1);
    std::uint32_t length = static_cast<std::uint32_t>(data.size());
    std::uint32_t type = 0;
    if (!key.ReadRaw(name, data.data(), &length, &type)) return 0;
    if (type == kRegSz) {
        std::uint32_t generation = 0;
        std::sscanf(reinterpret_cast<const char*>(data.data()), "generation %u", &generation);
        const std::string expected = TextPattern(generation);
        const bool whole = length == expected.size() + 1 &&
                           std::memcmp(data.data(), expected.c_str(), length) == 0;
        return whole ? generation : 0;
    }
    std::uint32_t generation = 0;
    std::memcpy(&generation, data.data(), sizeof generation);
    data.resize(length);
    return data == Pattern(generation, size) ? generation : 0;
}

std::uint32_t DwordOf(RegistryKey& key, const char* name) {
    std::uint32_t value = 0;
    std::uint32_t size = sizeof value;
    return key.ReadRaw(name, &value, &size) && size == 4 ? value : 0;
}

// Starts the writer, lets it finish a few generations, kills it at a random moment and
// returns the last generation it reported as committed.
std::uint32_t RunAndKill(std::uint32_t first, std::mt19937& random) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0) return 0;
    RegistryDatabase::Close();  // a connection must not cross fork()
    const pid_t child = fork();
    if (child == 0) {
        close(pipeFds[0]);
        WriteForever(pipeFds[1], first);
    }
    close(pipeFds[1]);
    std::uint32_t last = 0;
    for (int seen = 0; seen < 3 && read(pipeFds[0], &last, sizeof last) == sizeof last;) ++seen;
    usleep(std::uniform_int_distribution<useconds_t>(0, 20000)(random));
    kill(child, SIGKILL);
    std::uint32_t reported = 0;
    while (read(pipeFds[0], &reported, sizeof reported) == sizeof reported) last = reported;
    close(pipeFds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status)) << "the writer stopped by itself: " << status;
    return last;
}

TEST_F(RegistryTest, KilledWriterLeavesOnlyWholeValues) {
    std::mt19937 random(std::random_device{}());
    ASSERT_TRUE(RegistryKey::EnsureKey(kAgentRegistryPath));
    for (std::uint32_t round = 1; round <= 6; ++round) {
        const std::uint32_t first = round * 1000000;
        const std::uint32_t committed = RunAndKill(first, random);
        ASSERT_GE(committed, first) << "round " << round;

        RegistryKey key;
        ASSERT_TRUE(key.Open(kAgentRegistryPath, false));
        // Each value is the last committed generation or the one being written.
        for (auto [name, size] : {std::pair{"Big", 64 * 1024}, {"Text", 3001}}) {
            const std::uint32_t generation = GenerationOf(key, name, size);
            EXPECT_TRUE(generation == committed || generation == committed + 1)
                << name << " is torn or stale: " << generation << " vs " << committed;
        }
        const std::uint32_t t1 = DwordOf(key, "T1");
        EXPECT_TRUE(t1 == committed || t1 == committed + 1) << t1 << " vs " << committed;
        EXPECT_EQ(GenerationOf(key, "T2", 5000), t1) << "transaction landed in part";
        EXPECT_EQ(GenerationOf(key, "T3", 3001), t1) << "transaction landed in part";
    }
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(RegistryDatabase::FilePath().c_str(), &db), SQLITE_OK);
    sqlite3_stmt* check = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &check, nullptr), SQLITE_OK);
    ASSERT_EQ(sqlite3_step(check), SQLITE_ROW);
    EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(check, 0)), "ok");
    sqlite3_finalize(check);
    sqlite3_close(db);
}

}  // namespace
}  // namespace kv::testing
