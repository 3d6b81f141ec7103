// The event log: a ring of recent entries filtered by the Log settings, an optional log
// file, and an observer through which the event-log page mirrors the ring.
#pragma once

#include <array>
#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

namespace kv {

class SettingsTable;

enum LogCategory : std::int32_t {
    LogInfo = 0,
    LogError = 1,
    LogOperation = 2,
    LogAdd = 3,
    LogDelete = 4,
    LogLock = 5,
    LogUnlock = 6,
    LogList = 7,
    LogContinuation = 8,
};

// The name shown for a category: "" for continuations, "?" for unknown values.
const char* LogCategoryName(std::int32_t category);

struct LogEntry {
    std::int32_t category = LogInfo;
    std::string message;
    std::string time;   // HH:MM:SS
    std::string stamp;  // MM/DD/YY HH:MM:SS
};

// Mirrors the ring in a view; rows are appended at the end and removed from the front.
class EventLogObserver {
  public:
    virtual ~EventLogObserver() = default;
    virtual void OnEntryAppended(int slot, const LogEntry& entry) = 0;
    virtual void OnOldestRemoved() = 0;
};

class EventLog {
  public:
    static constexpr int kRingSize = 100;
    static constexpr std::size_t kMaxMessage = 1000;

    using LocalClock = std::function<std::tm()>;
    using Origins = std::vector<std::string>;

    explicit EventLog(const SettingsTable& settings);

    // Formats string-table text `id` with the arguments (only %s and %d conversions, as the
    // table's texts use) and records it, then one " from : %s" line per origin, last first.
    void LogMessage(const Origins* origins, std::int32_t category, unsigned id, ...);
    void AddLogEntry(std::int32_t category, const std::string& text);

    // Called when the settings are applied: file logging follows "LogToFile".
    void SetFileLogging(bool on) { m_file_logging = on; }
    bool FileLogging() const { return m_file_logging; }
    void ResetFlags();

    void SetObserver(EventLogObserver* observer) { m_observer = observer; }
    void SetRefreshWindow(std::function<void()> refresh) { m_refresh = std::move(refresh); }
    void SetLocalClock(LocalClock clock) { m_clock = std::move(clock); }

    // Oldest first, as the event-log page shows them.
    std::vector<LogEntry> Entries() const;
    const LogEntry& Slot(int slot) const { return m_ring[slot]; }
    int Head() const { return m_head; }
    int Tail() const { return m_tail; }
    bool LastDropped() const { return m_last_dropped; }

    static std::string FormatTime(const std::tm& t);
    static std::string FormatStamp(const std::tm& t);

  private:
    bool Keep(std::int32_t category) const;
    bool WriteToFile(const LogEntry& entry) const;
    void Advance();

    const SettingsTable& m_settings;
    std::array<LogEntry, kRingSize> m_ring;
    int m_head = 0;
    int m_tail = 0;
    bool m_last_dropped = false;
    bool m_file_logging = false;
    EventLogObserver* m_observer = nullptr;
    std::function<void()> m_refresh;
    LocalClock m_clock;
};

// Truncates the log file at `path`. Returns false when it cannot be opened for writing.
bool TruncateLogFile(const std::string& path);

}  // namespace kv
