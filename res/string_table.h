// The string table: every user-visible text, log message format and settings value name,
// addressed by a fixed numeric id (names in res/string_ids.h).
#pragma once

namespace kv {

// The text of `id`, or nullptr when the table has none. Callers rely on nullptr: a missing
// text means no message box and no log entry. The returned text lives for the whole process.
const char* LoadString(unsigned id);

}  // namespace kv
