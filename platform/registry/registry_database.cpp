#include "platform/registry/registry_database.h"

#include <unistd.h>

#include <cstdio>

#include "platform/paths.h"
#include "platform/registry/registry_internal.h"
#include "platform/registry/registry_sql.h"

namespace kv {
namespace registry_detail {
namespace {

// Runs SQL that may return rows we do not need (PRAGMAs).
bool ExecDirect(sqlite3* db, const char* sql) {
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

int UserVersion(sqlite3* db) {
    sqlite3_stmt* stmt = nullptr;
    int version = -1;
    if (sqlite3_prepare_v2(db, "PRAGMA user_version", -1, &stmt, nullptr) == SQLITE_OK &&
        sqlite3_step(stmt) == SQLITE_ROW) {
        version = sqlite3_column_int(stmt, 0);
    }
    sqlite3_finalize(stmt);
    return version;
}

// Version 0 is an empty file, or one made by hand from the published schema: both get the
// tables if missing and the version. A newer version keeps its number; the two tables never
// change shape, so this build can still use them.
bool PrepareSchema(sqlite3* db) {
    if (!ExecDirect(db, "BEGIN IMMEDIATE")) return false;
    int version = UserVersion(db);
    bool ok = version >= 0;
    if (ok && version == 0) {
        ok = ExecDirect(db, registry_sql::kCreateSchema) &&
             ExecDirect(
                 db, ("PRAGMA user_version = " + std::to_string(RegistryDatabase::kSchemaVersion))
                         .c_str());
    }
    if (ok && ExecDirect(db, "COMMIT")) return true;
    ExecDirect(db, "ROLLBACK");
    return false;
}

// Rollback journal with synchronous=FULL: a commit is durable and atomic, a crash leaves a
// hot journal that the next open plays back, and unlike WAL it needs no shared memory, so
// a home directory on a network file system works and the whole state is in one file.
// secure_delete: overwritten private-key blobs and passphrase hashes are zeroed, not left
// in free pages.
bool Configure(sqlite3* db) {
    sqlite3_extended_result_codes(db, 1);
    sqlite3_busy_timeout(db, 5000);
    sqlite3_db_config(db, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
    return ExecDirect(db, "PRAGMA journal_mode = DELETE") &&
           ExecDirect(db, "PRAGMA synchronous = FULL") &&
           ExecDirect(db, "PRAGMA secure_delete = ON") && PrepareSchema(db);
}

#ifdef KV_REGISTRY_IN_MEMORY
// Fuzz builds only: the whole registry in this process's memory, so that a fuzzer pays no
// file system work for each input.
sqlite3* OpenInMemory() {
    sqlite3* db = nullptr;
    const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX;
    if (sqlite3_open_v2(":memory:", &db, flags, nullptr) != SQLITE_OK || !Configure(db)) {
        sqlite3_close_v2(db);
        return nullptr;
    }
    return db;
}
#endif

sqlite3* OpenDatabase(const DatabaseState& s) {
#ifdef KV_REGISTRY_IN_MEMORY
    if (s.fileOverride == RegistryDatabase::kInMemory) return OpenInMemory();
#endif
    const bool isDefault = s.fileOverride.empty();
    const std::string file = isDefault ? paths::RegistryFile() : s.fileOverride;
    if (file.empty()) return nullptr;
    if (isDefault && !paths::EnsurePrivateDir(paths::ConfigDir())) return nullptr;
    // Made 0600 before SQLite sees it; SQLite gives its journal the same mode.
    if (!paths::EnsurePrivateFile(file)) return nullptr;
    // SQLite plays a journal back into the database as it opens it. One that another user
    // left while the folder was open to them (or a link) would replace the whole store.
    const std::string journal = file + "-journal";
    if (!paths::IsAbsentOrOwnFile(journal)) {
        std::fprintf(stderr, "kvsshaa: %s is not the user's own file; the registry stays closed\n",
                     journal.c_str());
        return nullptr;
    }
    sqlite3* db = nullptr;
    const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOFOLLOW | SQLITE_OPEN_NOMUTEX;
    if (sqlite3_open_v2(file.c_str(), &db, flags, nullptr) != SQLITE_OK || !Configure(db)) {
        sqlite3_close_v2(db);
        return nullptr;
    }
    return db;
}

void CloseConnection(DatabaseState& s) {
    if (s.db != nullptr && s.pid == getpid()) {
        for (auto& entry : s.statements) sqlite3_finalize(entry.second);
        sqlite3_close_v2(s.db);  // rolls back an open transaction
    }
    // An inherited connection is dropped, not closed: closing it could roll back the
    // parent's transaction under its feet.
    s.statements.clear();
    s.db = nullptr;
    s.pid = 0;
    s.depth = 0;
    s.doomed = false;
    ++s.generation;
}

}  // namespace

DatabaseState& State() {
    // Never destroyed: registry calls from other static destructors must not find it gone.
    static DatabaseState* state = new DatabaseState;
    return *state;
}

sqlite3* Connection() {
    DatabaseState& s = State();
    if (s.db != nullptr) return s.pid == getpid() ? s.db : nullptr;
    s.db = OpenDatabase(s);
    if (s.db != nullptr) s.pid = getpid();
    return s.db;
}

bool ConsumeWrite() {
    DatabaseState& s = State();
    ++s.writeCount;
    if (s.writesAllowed < 0) return true;
    if (s.writesAllowed == 0) return false;
    --s.writesAllowed;
    return true;
}

bool ConsumeRead() {
    DatabaseState& s = State();
    if (s.readsAllowed < 0) return true;
    if (s.readsAllowed == 0) return false;
    --s.readsAllowed;
    return true;
}

bool ConsumeCommit() { return !State().failCommit; }

bool Exec(const char* sql) {
    Statement statement(sql);
    return statement.Step() == SQLITE_DONE;
}

}  // namespace registry_detail

bool RegistryDatabase::UseFile(const std::string& file) {
    auto lock = registry_detail::Lock();
    registry_detail::DatabaseState& s = registry_detail::State();
    registry_detail::CloseConnection(s);
    s.fileOverride = file;
    return registry_detail::Connection() != nullptr;
}

void RegistryDatabase::Close() {
    auto lock = registry_detail::Lock();
    registry_detail::CloseConnection(registry_detail::State());
}

std::string RegistryDatabase::FilePath() {
    auto lock = registry_detail::Lock();
    const registry_detail::DatabaseState& s = registry_detail::State();
    return s.fileOverride.empty() ? paths::RegistryFile() : s.fileOverride;
}

namespace registry_testing {

void FailWritesAfter(int n) {
    auto lock = registry_detail::Lock();
    registry_detail::State().writesAllowed = n;
}

void FailReadsAfter(int n) {
    auto lock = registry_detail::Lock();
    registry_detail::State().readsAllowed = n;
}

void FailCommit(bool fail) {
    auto lock = registry_detail::Lock();
    registry_detail::State().failCommit = fail;
}

int WriteCount() {
    auto lock = registry_detail::Lock();
    return registry_detail::State().writeCount;
}

void Reset() {
    auto lock = registry_detail::Lock();
    registry_detail::DatabaseState& s = registry_detail::State();
    s.writesAllowed = -1;
    s.readsAllowed = -1;
    s.failCommit = false;
    s.writeCount = 0;
}

}  // namespace registry_testing
}  // namespace kv
