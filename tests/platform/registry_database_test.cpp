// The database file itself: where it lives, its modes, its schema as others see it, and
// what happens with files this build did not write.
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <iterator>

#include "platform/paths.h"
#include "tests/platform/registry_fixture.h"

namespace kv::testing {
namespace {

// Runs SQL on a second, independent connection, as another tool would.
std::string Sql(const std::string& file, const std::string& sql) {
    sqlite3* db = nullptr;
    std::string result;
    if (sqlite3_open(file.c_str(), &db) == SQLITE_OK) {
        auto collect = [](void* out, int columns, char** values, char**) {
            for (int i = 0; i < columns; ++i) {
                *static_cast<std::string*>(out) += values[i] ? values[i] : "NULL";
                *static_cast<std::string*>(out) += '|';
            }
            return 0;
        };
        char* error = nullptr;
        if (sqlite3_exec(db, sql.c_str(), collect, &result, &error) != SQLITE_OK) {
            result = std::string("error: ") + (error ? error : "?");
        }
        sqlite3_free(error);
    }
    sqlite3_close(db);
    return result;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST_F(RegistryTest, DatabaseLivesInThePrivateConfigFolder) {
    ASSERT_TRUE(RegistryKey::EnsureKey(kAgentRegistryPath));
    EXPECT_EQ(RegistryDatabase::FilePath(), m_home.Dir() + "/config/kvsshaa/registry.sqlite");
    EXPECT_EQ(ModeOf(m_home.Dir() + "/config/kvsshaa"), 0700u);
    EXPECT_EQ(ModeOf(RegistryDatabase::FilePath()), 0600u);
}

TEST_F(RegistryTest, SchemaIsVersionedWithoutTouchingThePublishedTables) {
    ASSERT_TRUE(RegistryKey::EnsureKey(kAgentRegistryPath));
    const std::string file = RegistryDatabase::FilePath();
    EXPECT_EQ(Sql(file, "PRAGMA user_version"), "1|");
    EXPECT_EQ(Sql(file, "SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name"),
              "registry_keys|registry_values|");
    EXPECT_EQ(Sql(file, "SELECT name, type, pk FROM pragma_table_info('registry_values')"),
              "key_path|TEXT|1|name|TEXT|2|type|INTEGER|0|data|BLOB|0|");
}

TEST_F(RegistryTest, ReadsADatabaseWrittenByAnotherTool) {
    const std::string file = m_home.Dir() + "/handmade.sqlite";
    const std::string made =
        Sql(file,
            "CREATE TABLE registry_keys (path TEXT PRIMARY KEY COLLATE NOCASE);"
            "CREATE TABLE registry_values (key_path TEXT NOT NULL COLLATE NOCASE,"
            " name TEXT NOT NULL COLLATE NOCASE, type INTEGER NOT NULL, data BLOB NOT NULL,"
            " PRIMARY KEY (key_path, name));"
            "INSERT INTO registry_keys VALUES ('SOFTWARE'), ('SOFTWARE\\X');"
            "INSERT INTO registry_values VALUES ('software\\x', 'Name', 1, 'no terminator');");
    ASSERT_EQ(made, "");
    ASSERT_TRUE(RegistryDatabase::UseFile(file));
    RegistryKey key;
    ASSERT_TRUE(key.Open("Software\\x", false));
    EXPECT_EQ(Text(key, "name"), "no terminator");
    char exact[13];  // no room for the terminator the stored text lacks
    EXPECT_FALSE(key.ReadString("Name", exact, sizeof exact));
    EXPECT_EQ(key.LastError(), kRegMoreData);
    EXPECT_EQ(Sql(file, "PRAGMA user_version"), "1|");
}

TEST_F(RegistryTest, UnreadableDatabaseFailsEveryCallAndIsKept) {
    const std::string file = m_home.Dir() + "/garbage.sqlite";
    const std::string garbage(8192, 'G');
    std::ofstream(file, std::ios::binary) << garbage;
    EXPECT_FALSE(RegistryDatabase::UseFile(file));
    RegistryKey key;
    EXPECT_FALSE(key.Open(kAgentRegistryPath));
    EXPECT_EQ(key.LastError(), kRegIoFailed);
    RegistryTransaction tx;
    EXPECT_FALSE(tx.IsActive());
    EXPECT_FALSE(tx.Commit());
    EXPECT_EQ(ReadFile(file), garbage);
}

// A journal is played back into the store at open: only the user's own may be.
TEST_F(RegistryTest, AJournalThatIsNotTheUsersOwnKeepsTheRegistryClosed) {
    ASSERT_TRUE(RegistryKey::EnsureKey(kAgentRegistryPath));
    const std::string file = RegistryDatabase::FilePath();
    const std::string journal = file + "-journal";
    RegistryDatabase::Close();
    const std::string before = ReadFile(file);

    ASSERT_EQ(::symlink(file.c_str(), journal.c_str()), 0);
    RegistryKey key;
    EXPECT_FALSE(key.Open(kAgentRegistryPath, false));
    EXPECT_EQ(ReadFile(file), before);
    ASSERT_EQ(::unlink(journal.c_str()), 0);

    std::ofstream(journal) << "";  // the user's own, empty: not a hot journal
    EXPECT_TRUE(key.Open(kAgentRegistryPath, false));
    RegistryDatabase::Close();
    if (::geteuid() != 0) GTEST_SKIP() << "handing a file to another user needs root";
    ASSERT_EQ(::chown(journal.c_str(), 65534, 65534), 0);
    EXPECT_FALSE(key.Open(kAgentRegistryPath, false));
    EXPECT_EQ(ReadFile(file), before);
}

TEST_F(RegistryTest, ConnectionInheritedAcrossForkIsRefused) {
    ASSERT_TRUE(RegistryKey::EnsureKey(kAgentRegistryPath));
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        RegistryKey key;
        const bool refused = !key.Open(kAgentRegistryPath) && key.LastError() == kRegIoFailed;
        _exit(refused ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    RegistryKey key;
    EXPECT_TRUE(key.Open(kAgentRegistryPath, false));  // the parent's connection is intact
}

}  // namespace
}  // namespace kv::testing
