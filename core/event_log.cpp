#include "core/event_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>

#include "core/settings_table.h"
#include "platform/one_line_text.h"
#include "res/string_ids.h"
#include "res/string_table.h"

namespace kv {

namespace {

std::tm CurrentLocalTime() {
    std::time_t now = std::time(nullptr);
    std::tm t{};
    localtime_r(&now, &t);
    return t;
}

// The setting that decides whether a category is recorded. Continuations and unknown
// categories follow "LogError".
std::uint16_t FilterSetting(std::int32_t category) {
    switch (category) {
        case LogInfo:
            return IDS_SETTING_LOG_INFO;
        case LogOperation:
            return IDS_SETTING_LOG_OPS;
        case LogAdd:
            return IDS_SETTING_LOG_ADD;
        case LogDelete:
            return IDS_SETTING_LOG_DELETE;
        case LogLock:
        case LogUnlock:
            return IDS_SETTING_LOG_LOCK;
        case LogList:
            return IDS_SETTING_LOG_LIST;
        default:
            return IDS_SETTING_LOG_ERROR;
    }
}

// The log file, made if missing; -1 unless it is a regular file of this user with no other
// name. Opened without blocking: a FIFO in its place (planted in a shared folder, say) would
// otherwise hold the agent at the open until someone read it. Not through a symbolic link, and
// not a file another user made or linked there: in a shared folder such as /tmp those would
// let that user read the log or have it appended to (or emptied) in any file of ours.
int OpenLogFile(const std::string& path, int flags) {
    const int fd =
        ::open(path.c_str(), flags | O_CREAT | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return -1;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid() ||
        st.st_nlink != 1) {
        ::close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

const char* LogCategoryName(std::int32_t category) {
    static const char* const kNames[] = {"Info", "ERROR",  "Operation", "Add", "Delete",
                                         "Lock", "Unlock", "List",      ""};
    if (category < 0 || category > LogContinuation) return "?";
    return kNames[category];
}

EventLog::EventLog(const SettingsTable& settings)
    : m_settings(settings), m_clock(CurrentLocalTime) {}

void EventLog::ResetFlags() {
    m_last_dropped = false;
    m_file_logging = false;
}

void EventLog::LogMessage(const Origins* origins, std::int32_t category, unsigned id, ...) {
    const char* format = LoadString(id);
    if (format == nullptr) return;

    char text[kMaxMessage + 1];
    va_list args;
    va_start(args, id);
    const int n = std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (n < 0) return;

    AddLogEntry(category, text);
    if (origins == nullptr) return;
    for (auto it = origins->rbegin(); it != origins->rend(); ++it) {
        std::snprintf(text, sizeof text, " from : %s", it->c_str());
        AddLogEntry(LogContinuation, text);
    }
}

bool EventLog::Keep(std::int32_t category) const {
    // A continuation never outlives the entry before it.
    if (category == LogContinuation && m_last_dropped) return false;
    return m_settings.GetFlag(FilterSetting(category));
}

void EventLog::AddLogEntry(std::int32_t category, const std::string& text) {
    if (!Keep(category)) {
        m_last_dropped = true;
        return;
    }
    m_last_dropped = false;

    const std::tm now = m_clock();
    LogEntry& entry = m_ring[m_head];
    // Requests name keys and hosts with text of their own: it must not start a line of the file.
    entry = {category, OneLine(std::string_view(text).substr(0, kMaxMessage)), FormatTime(now),
             FormatStamp(now)};
    if (m_observer != nullptr) m_observer->OnEntryAppended(m_head, entry);

    bool file_failed = false;
    if (m_file_logging && !WriteToFile(entry)) {
        m_file_logging = false;
        file_failed = true;
    }
    Advance();
    if (m_refresh) m_refresh();

    // Never written to the file: file logging is already off.
    if (file_failed) {
        LogMessage(nullptr, LogError, IDS_LOG_FILE_WRITE_FAILED,
                   m_settings.GetText(IDS_SETTING_LOG_TO_FILE).c_str());
    }
}

void EventLog::Advance() {
    m_head = (m_head + 1) % kRingSize;
    if (m_head != m_tail) return;
    // Full: drop the oldest entry, and the continuations that belonged to it.
    do {
        m_ring[m_tail] = LogEntry{};
        m_tail = (m_tail + 1) % kRingSize;
        if (m_observer != nullptr) m_observer->OnOldestRemoved();
    } while (m_tail != m_head && m_ring[m_tail].category == LogContinuation);
}

bool EventLog::WriteToFile(const LogEntry& entry) const {
    std::string line;
    if (entry.category == LogContinuation) {
        line = entry.message;
    } else {
        line = entry.stamp + " " + LogCategoryName(entry.category) + ":" + entry.message;
    }
    line += "\r\n";

    const std::string& path = m_settings.GetText(IDS_SETTING_LOG_TO_FILE);
    const int fd = OpenLogFile(path, O_WRONLY | O_APPEND);
    if (fd < 0) return false;
    const ssize_t written = ::write(fd, line.data(), line.size());
    const bool closed = ::close(fd) == 0;
    return written == static_cast<ssize_t>(line.size()) && closed;
}

std::vector<LogEntry> EventLog::Entries() const {
    std::vector<LogEntry> out;
    for (int i = m_tail; i != m_head; i = (i + 1) % kRingSize) out.push_back(m_ring[i]);
    return out;
}

std::string EventLog::FormatTime(const std::tm& t) {
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", t.tm_hour % 100, t.tm_min % 100,
                  t.tm_sec % 100);
    return text;
}

std::string EventLog::FormatStamp(const std::tm& t) {
    char text[32];
    std::snprintf(text, sizeof text, "%02d/%02d/%02d ", (t.tm_mon + 1) % 100, t.tm_mday % 100,
                  (t.tm_year + 1900) % 100);
    return text + FormatTime(t);
}

bool TruncateLogFile(const std::string& path) {
    // Emptied only once it is known to be ours: O_TRUNC would empty it before the checks.
    const int fd = OpenLogFile(path, O_WRONLY);
    if (fd < 0) return false;
    const bool emptied = ::ftruncate(fd, 0) == 0;
    return ::close(fd) == 0 && emptied;
}

}  // namespace kv
