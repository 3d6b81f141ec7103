// Shared by the registry's own files only: the connection state, the cached statements and
// the write helper that gives every write its transaction.
#pragma once

#include <sqlite3.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>

#include "platform/registry/registry.h"

namespace kv::registry_detail {

struct DatabaseState {
    std::recursive_mutex mutex;
    sqlite3* db = nullptr;
    pid_t pid = 0;  // of the process that opened db
    std::string fileOverride;
    std::unordered_map<std::string_view, sqlite3_stmt*> statements;
    unsigned generation = 1;  // bumped when a transaction ends or the connection closes,
                              // so RegistryTransaction objects of older ones turn inert
    int depth = 0;            // live RegistryTransaction objects
    bool doomed = false;      // the open transaction can only roll back
    int writesAllowed = -1;   // fault injection; negative: unlimited
    int readsAllowed = -1;
    bool failCommit = false;
    int writeCount = 0;
};

DatabaseState& State();

// Held by every public entry point; recursive because they call each other.
[[nodiscard]] inline std::lock_guard<std::recursive_mutex> Lock() {
    return std::lock_guard<std::recursive_mutex>(State().mutex);
}

// The connection, opened at first use; null when it cannot be opened or was inherited
// across fork().
sqlite3* Connection();

// Fault injection: false when this write / read / commit must fail.
bool ConsumeWrite();
bool ConsumeRead();
bool ConsumeCommit();

// A cached prepared statement for one use: reset and unbound when it goes out of scope.
// A failed prepare or bind is remembered and returned by Step(), so a run of binds is
// checked once.
class Statement {
  public:
    explicit Statement(const char* sql);
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    void BindText(int index, std::string_view text);
    void BindInt(int index, std::int64_t value);
    void BindBlob(int index, const void* data, std::size_t size);
    // SQLITE_ROW, SQLITE_DONE or an error code.
    int Step();

    std::string Text(int column) const;
    std::int64_t Int(int column) const;
    bool IsNull(int column) const;
    // The column's bytes, valid until the next Step().
    std::string_view Blob(int column) const;

  private:
    sqlite3_stmt* m_stmt = nullptr;
    int m_error = SQLITE_OK;
};

// Runs one statement that returns no rows.
bool Exec(const char* sql);

// The one way a write reaches the database: inside a transaction (its own, or the caller's
// joined), counted for fault injection. A 1016 from `body` rolls back and dooms an enclosing
// transaction; other codes (nothing was changed) leave it alone.
template <class Body>
std::uint32_t RunWrite(Body&& body) {
    RegistryTransaction tx;
    if (!tx.IsActive()) return kRegIoFailed;
    if (!ConsumeWrite()) {
        tx.Rollback();
        return kRegIoFailed;
    }
    const std::uint32_t rc = body();
    if (rc == kRegIoFailed) {
        tx.Rollback();
        return rc;
    }
    const bool committed = tx.Commit();
    if (rc != kRegOk) return rc;
    return committed ? kRegOk : kRegIoFailed;
}

}  // namespace kv::registry_detail
