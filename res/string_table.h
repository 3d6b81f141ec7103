// The string table: every user-visible text, log message format and settings value name,
// addressed by a fixed numeric id (names in res/string_ids.h).
#pragma once

#include <cstdarg>
#include <string>

namespace kv {

// Longer formatted texts are cut, as the event log cuts its messages.
inline constexpr int kMaxFormattedText = 1000;

// The text of `id`, or nullptr when the table has none. Callers rely on nullptr: a missing
// text means no message box and no log entry. The returned text lives for the whole process.
const char* LoadString(unsigned id);

// The text of `id` filled with the arguments (only %s and %d conversions, as the table's
// texts use); empty when the table has none.
std::string FormatString(unsigned id, ...);
std::string FormatStringV(unsigned id, std::va_list args);

}  // namespace kv
