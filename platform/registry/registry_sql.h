// Every statement the registry runs. Values are always bound, never spliced in.
//
// Children of a key K are the paths P with K\ < P < K] under NOCASE ordering ('\' + 1 is
// ']', and case folding only moves letters above both), whose remainder after K\ holds no
// further backslash. The remainder is cut as bytes (CAST AS BLOB) because ?3 is a byte
// offset. The root's variants drop the range.
#pragma once

namespace kv::registry_sql {

// The two tables are an interface others read and write: this is their text verbatim.
inline constexpr char kCreateSchema[] =
    "CREATE TABLE IF NOT EXISTS registry_keys   (path TEXT PRIMARY KEY COLLATE NOCASE);\n"
    "CREATE TABLE IF NOT EXISTS registry_values (key_path TEXT NOT NULL COLLATE NOCASE,\n"
    "                              name TEXT NOT NULL COLLATE NOCASE,\n"
    "                              type INTEGER NOT NULL,   -- 1 REG_SZ, 3 REG_BINARY, 4 "
    "REG_DWORD\n"
    "                              data BLOB NOT NULL,\n"
    "                              PRIMARY KEY (key_path, name));\n";

inline constexpr char kBegin[] = "BEGIN IMMEDIATE";
inline constexpr char kCommit[] = "COMMIT";
inline constexpr char kRollback[] = "ROLLBACK";

inline constexpr char kSelectKey[] = "SELECT path FROM registry_keys WHERE path = ?1";
inline constexpr char kInsertKey[] = "INSERT INTO registry_keys (path) VALUES (?1)";
inline constexpr char kDeleteKey[] = "DELETE FROM registry_keys WHERE path = ?1";
inline constexpr char kDeleteKeyValues[] = "DELETE FROM registry_values WHERE key_path = ?1";

// ?1 low, ?2 high, ?3 first byte of the child name (1-based), ?4 limit, ?5 offset.
inline constexpr char kChildren[] =
    "SELECT path FROM registry_keys WHERE path > ?1 AND path < ?2"
    " AND instr(substr(CAST(path AS BLOB), ?3), X'5C') = 0"
    " ORDER BY path LIMIT ?4 OFFSET ?5";
inline constexpr char kRootChildren[] =
    "SELECT path FROM registry_keys WHERE path <> ''"
    " AND instr(substr(CAST(path AS BLOB), ?3), X'5C') = 0"
    " ORDER BY path LIMIT ?4 OFFSET ?5";

// Any key below K at all, children or deeper: ?1 low, ?2 high.
inline constexpr char kHasDescendant[] =
    "SELECT 1 FROM registry_keys WHERE path > ?1 AND path < ?2 LIMIT 1";

// ?1 low, ?2 high, ?3 first byte of the child name.
inline constexpr char kChildValues[] =
    "SELECT k.path, v.name, v.type, v.data FROM registry_keys AS k"
    " LEFT JOIN registry_values AS v ON v.key_path = k.path"
    " WHERE k.path > ?1 AND k.path < ?2"
    " AND instr(substr(CAST(k.path AS BLOB), ?3), X'5C') = 0"
    " ORDER BY k.path, v.name";
inline constexpr char kRootChildValues[] =
    "SELECT k.path, v.name, v.type, v.data FROM registry_keys AS k"
    " LEFT JOIN registry_values AS v ON v.key_path = k.path"
    " WHERE k.path <> '' AND instr(substr(CAST(k.path AS BLOB), ?3), X'5C') = 0"
    " ORDER BY k.path, v.name";

// Any value stored under a path, whether or not the key itself has its row.
inline constexpr char kHasValues[] = "SELECT 1 FROM registry_values WHERE key_path = ?1 LIMIT 1";

inline constexpr char kSelectValue[] =
    "SELECT type, data FROM registry_values WHERE key_path = ?1 AND name = ?2";
inline constexpr char kSelectValues[] =
    "SELECT name, type, data FROM registry_values WHERE key_path = ?1 ORDER BY name";
inline constexpr char kUpsertValue[] =
    "INSERT INTO registry_values (key_path, name, type, data) VALUES (?1, ?2, ?3, ?4)"
    " ON CONFLICT (key_path, name) DO UPDATE SET type = excluded.type, data = excluded.data";
inline constexpr char kDeleteValue[] =
    "DELETE FROM registry_values WHERE key_path = ?1 AND name = ?2";

}  // namespace kv::registry_sql
