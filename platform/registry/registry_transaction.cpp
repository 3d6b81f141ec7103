#include "platform/registry/registry_internal.h"
#include "platform/registry/registry_sql.h"

namespace kv {
namespace {

using registry_detail::DatabaseState;

// SQLite ends a transaction by itself after some errors (a full disk, for one). Writes
// that followed would each commit alone, so such a transaction can only be doomed.
void DoomIfSqliteEndedIt(DatabaseState& s) {
    if (s.depth > 0 && !s.doomed && (s.db == nullptr || sqlite3_get_autocommit(s.db) != 0)) {
        s.doomed = true;
    }
}

bool FinishOutermost(DatabaseState& s, bool commit) {
    bool ok = commit && !s.doomed && registry_detail::ConsumeCommit() &&
              registry_detail::Exec(registry_sql::kCommit);
    if (!ok && s.db != nullptr && sqlite3_get_autocommit(s.db) == 0) {
        (void)registry_detail::Exec(registry_sql::kRollback);
    }
    s.depth = 0;
    s.doomed = false;
    ++s.generation;  // inner objects that outlive their outermost turn inert
    return ok;
}

}  // namespace

RegistryTransaction::RegistryTransaction() {
    auto lock = registry_detail::Lock();
    DatabaseState& s = registry_detail::State();
    if (s.depth == 0) {
        m_outermost = true;
        s.doomed = !registry_detail::Exec(registry_sql::kBegin);
    } else {
        DoomIfSqliteEndedIt(s);
    }
    ++s.depth;
    m_generation = s.generation;
    if (s.doomed) m_lastError = kRegIoFailed;
}

RegistryTransaction::~RegistryTransaction() { Rollback(); }

bool RegistryTransaction::IsActive() const {
    auto lock = registry_detail::Lock();
    DatabaseState& s = registry_detail::State();
    if (m_generation == 0 || m_generation != s.generation) return false;
    DoomIfSqliteEndedIt(s);
    return !s.doomed;
}

bool RegistryTransaction::Commit() {
    auto lock = registry_detail::Lock();
    DatabaseState& s = registry_detail::State();
    m_lastError = kRegIoFailed;
    if (m_generation == 0) return false;
    if (m_generation != s.generation) {  // closed under us, or its outermost has ended
        m_generation = 0;
        return false;
    }
    m_generation = 0;
    bool ok;
    if (m_outermost) {
        ok = FinishOutermost(s, true);
    } else {
        --s.depth;
        DoomIfSqliteEndedIt(s);
        ok = !s.doomed;
    }
    if (ok) m_lastError = kRegOk;
    return ok;
}

void RegistryTransaction::Rollback() {
    auto lock = registry_detail::Lock();
    DatabaseState& s = registry_detail::State();
    if (m_generation == 0) return;
    const bool current = m_generation == s.generation;
    m_generation = 0;
    if (!current) return;
    if (m_outermost) {
        FinishOutermost(s, false);
    } else {
        --s.depth;
        s.doomed = true;
    }
}

}  // namespace kv
