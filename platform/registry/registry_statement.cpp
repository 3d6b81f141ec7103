#include <limits>

#include "platform/registry/registry_internal.h"

namespace kv::registry_detail {

Statement::Statement(const char* sql) {
    sqlite3* db = Connection();
    if (db == nullptr) {
        m_error = SQLITE_CANTOPEN;
        return;
    }
    DatabaseState& s = State();
    auto found = s.statements.find(sql);
    if (found != s.statements.end()) {
        m_stmt = found->second;
        return;
    }
    sqlite3_stmt* stmt = nullptr;
    m_error = sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, &stmt, nullptr);
    if (m_error != SQLITE_OK) {
        sqlite3_finalize(stmt);
        return;
    }
    try {
        s.statements.emplace(sql, stmt);
    } catch (...) {
        sqlite3_finalize(stmt);
        m_error = SQLITE_NOMEM;
        return;
    }
    m_stmt = stmt;
}

Statement::~Statement() {
    if (m_stmt == nullptr) return;
    sqlite3_reset(m_stmt);
    sqlite3_clear_bindings(m_stmt);
}

void Statement::BindText(int index, std::string_view text) {
    if (m_error != SQLITE_OK) return;
    if (text.size() > static_cast<std::size_t>(std::numeric_limits<int>::max())) {
        m_error = SQLITE_TOOBIG;
        return;
    }
    m_error = sqlite3_bind_text(m_stmt, index, text.data(), static_cast<int>(text.size()),
                                SQLITE_TRANSIENT);
}

void Statement::BindInt(int index, std::int64_t value) {
    if (m_error != SQLITE_OK) return;
    m_error = sqlite3_bind_int64(m_stmt, index, value);
}

void Statement::BindBlob(int index, const void* data, std::size_t size) {
    if (m_error != SQLITE_OK) return;
    // A null pointer would bind SQL NULL, which "data BLOB NOT NULL" refuses.
    if (size == 0) {
        m_error = sqlite3_bind_zeroblob(m_stmt, index, 0);
        return;
    }
    m_error = sqlite3_bind_blob64(m_stmt, index, data, size, SQLITE_TRANSIENT);
}

int Statement::Step() {
    if (m_error != SQLITE_OK) return m_error;
    int rc = sqlite3_step(m_stmt);
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) m_error = rc;
    return rc;
}

std::string Statement::Text(int column) const {
    const unsigned char* text = sqlite3_column_text(m_stmt, column);
    if (text == nullptr) return {};
    return std::string(reinterpret_cast<const char*>(text),
                       static_cast<std::size_t>(sqlite3_column_bytes(m_stmt, column)));
}

std::int64_t Statement::Int(int column) const { return sqlite3_column_int64(m_stmt, column); }

bool Statement::IsNull(int column) const {
    return sqlite3_column_type(m_stmt, column) == SQLITE_NULL;
}

std::string_view Statement::Blob(int column) const {
    const void* data = sqlite3_column_blob(m_stmt, column);
    if (data == nullptr) return {};
    return std::string_view(static_cast<const char*>(data),
                            static_cast<std::size_t>(sqlite3_column_bytes(m_stmt, column)));
}

}  // namespace kv::registry_detail
