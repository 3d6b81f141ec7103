#include "core/event_log.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "core/settings_table.h"
#include "res/string_ids.h"
#include "tests/support/temp_dir.h"

namespace kv {
namespace {

class RecordingObserver : public EventLogObserver {
  public:
    void OnEntryAppended(int, const LogEntry& entry) override { rows.push_back(entry.message); }
    void OnOldestRemoved() override { rows.erase(rows.begin()); }
    std::vector<std::string> rows;
};

class EventLogTest : public ::testing::Test {
  protected:
    EventLogTest() : log(settings) {
        settings.DefineDefaults();
        log.SetLocalClock([] {
            std::tm t{};
            t.tm_year = 126;  // 2026
            t.tm_mon = 11;
            t.tm_mday = 6;
            t.tm_hour = 9;
            t.tm_min = 5;
            t.tm_sec = 3;
            return t;
        });
    }

    std::vector<std::string> Messages() const {
        std::vector<std::string> out;
        for (const LogEntry& e : log.Entries()) out.push_back(e.message);
        return out;
    }

    static std::string ReadFile(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

    SettingsTable settings;
    EventLog log;
};

TEST_F(EventLogTest, FiltersByCategoryAndDropsTheContinuationsOfDroppedEntries) {
    const EventLog::Origins origins = {"local client", "A"};
    // "LogList" is off by default: neither the entry nor its origin lines are recorded.
    log.LogMessage(&origins, LogList, IDS_GET_KEY_LIST);
    EXPECT_TRUE(log.Entries().empty());
    EXPECT_TRUE(log.LastDropped());
    log.AddLogEntry(LogContinuation, " Failed");
    EXPECT_TRUE(log.Entries().empty());

    settings.SetFlag(IDS_SETTING_LOG_LIST, true);
    log.LogMessage(&origins, LogList, IDS_GET_KEY_LIST);
    EXPECT_EQ(Messages(),
              (std::vector<std::string>{"Get key list", " from : A", " from : local client"}));
}

TEST_F(EventLogTest, ContinuationsFollowTheErrorFilterWhenTheirEntryWasKept) {
    settings.SetFlag(IDS_SETTING_LOG_ERROR, false);
    const EventLog::Origins origins = {"local client"};
    log.LogMessage(&origins, LogOperation, IDS_PRIVATE_KEY_OPERATION, "sign", "k");
    log.AddLogEntry(LogContinuation, " Failed");
    EXPECT_EQ(Messages(),
              (std::vector<std::string>{"Private key operation (sign) with public key (k)"}));
    EXPECT_TRUE(log.LastDropped());
    // Unknown categories are shown as "?" and filtered like errors.
    log.AddLogEntry(42, "odd");
    EXPECT_EQ(log.Entries().size(), 1u);
    EXPECT_STREQ(LogCategoryName(42), "?");
    EXPECT_STREQ(LogCategoryName(-1), "?");
}

TEST_F(EventLogTest, MissingStringIdRecordsNothingAndLongMessagesAreCut) {
    log.LogMessage(nullptr, LogInfo, 9999);
    EXPECT_TRUE(log.Entries().empty());
    const std::string huge(5000, 'x');
    log.LogMessage(nullptr, LogAdd, IDS_ADDING_KEY, huge.c_str());
    ASSERT_EQ(log.Entries().size(), 1u);
    EXPECT_EQ(log.Entries()[0].message.size(), EventLog::kMaxMessage);
}

TEST_F(EventLogTest, FullRingDropsTheOldestEntryWithItsContinuationsInStepWithTheView) {
    RecordingObserver view;
    log.SetObserver(&view);
    const EventLog::Origins origins = {"local client", "A"};
    log.LogMessage(&origins, LogOperation, IDS_PRIVATE_KEY_OPERATION, "sign", "first");
    for (int i = 0; i < 96; ++i) log.AddLogEntry(LogInfo, "filler " + std::to_string(i));
    EXPECT_EQ(log.Entries().size(), 99u);  // 3 + 96: the ring holds at most 99
    EXPECT_EQ(view.rows, Messages());

    log.AddLogEntry(LogInfo, "one more");
    // The oldest entry left, and the two origin lines behind it went with it.
    EXPECT_EQ(log.Entries().size(), 97u);
    EXPECT_EQ(log.Entries().front().message, "filler 0");
    EXPECT_EQ(view.rows, Messages());

    for (int i = 0; i < 500; ++i) log.AddLogEntry(LogInfo, "more " + std::to_string(i));
    EXPECT_EQ(log.Entries().size(), 99u);
    EXPECT_EQ(log.Entries().back().message, "more 499");
    EXPECT_EQ(view.rows, Messages());
}

TEST_F(EventLogTest, FileLinesCarryStampAndCategoryButContinuationsDoNot) {
    TempDir dir;
    const std::string path = dir.Path() + "/kv-ssh-aa.log";
    settings.SetText(IDS_SETTING_LOG_TO_FILE, path);
    log.SetFileLogging(true);
    const EventLog::Origins origins = {"local client"};
    log.LogMessage(nullptr, LogInfo, IDS_AGENT_STARTED);
    log.LogMessage(&origins, LogDelete, IDS_DELETING_ALL_KEYS);
    EXPECT_EQ(ReadFile(path),
              "12/06/26 09:05:03 Info:Agent started\r\n"
              "12/06/26 09:05:03 Delete:Deleting all keypairs\r\n"
              " from : local client\r\n");
    EXPECT_EQ(log.Entries()[0].time, "09:05:03");
}

TEST_F(EventLogTest, TextFromRequestsStaysOnItsOwnLine) {
    TempDir dir;
    const std::string path = dir.Path() + "/kv-ssh-aa.log";
    settings.SetText(IDS_SETTING_LOG_TO_FILE, path);
    log.SetFileLogging(true);
    const EventLog::Origins origins = {"local client", "a\r\n12/06/26 09:05:03 Lock:Agent locked"};
    log.LogMessage(&origins, LogDelete, IDS_DELETING_KEY, "k\n\x1b[2J\x7f");
    EXPECT_EQ(ReadFile(path),
              "12/06/26 09:05:03 Delete:Deleting private keypair (k??[2J?)\r\n"
              " from : a??12/06/26 09:05:03 Lock:Agent locked\r\n"
              " from : local client\r\n");
}

TEST_F(EventLogTest, UnwritableFileGivesOneErrorEntryAndNoFurtherAttempts) {
    TempDir dir;
    const std::string path = dir.Path() + "/missing/dir/log.txt";
    settings.SetText(IDS_SETTING_LOG_TO_FILE, path);
    log.SetFileLogging(true);
    log.LogMessage(nullptr, LogInfo, IDS_AGENT_STARTED);
    log.LogMessage(nullptr, LogInfo, IDS_AGENT_STARTED);
    EXPECT_FALSE(log.FileLogging());
    const auto entries = log.Entries();
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[1].category, LogError);
    EXPECT_EQ(entries[1].message, "Cannot write to log file : '" + path + "'");
    EXPECT_EQ(entries[2].message, "Agent started");
}

// Anything but a regular file at the path is refused: a FIFO nobody read would have held the
// agent at the open (this one has a reader, so that the test cannot hang).
TEST_F(EventLogTest, AFifoInPlaceOfTheFileIsRefused) {
    TempDir dir;
    const std::string path = dir.Path() + "/log";
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    const int reader = ::open(path.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    settings.SetText(IDS_SETTING_LOG_TO_FILE, path);
    log.SetFileLogging(true);
    log.LogMessage(nullptr, LogInfo, IDS_AGENT_STARTED);
    EXPECT_FALSE(log.FileLogging());
    char byte = 0;
    EXPECT_LE(::read(reader, &byte, 1), 0);  // nothing was written into it
    EXPECT_FALSE(TruncateLogFile(path));
    ::close(reader);
}

// In a shared folder another user may plant a link at the log file's path: nothing is written
// or emptied through a symbolic link or a second name of a file.
TEST_F(EventLogTest, ALinkInPlaceOfTheFileIsNeitherWrittenNorEmptied) {
    TempDir dir;
    const std::string target = dir.Path() + "/bashrc";
    std::ofstream(target) << "keep\n";
    for (const bool symbolic : {true, false}) {
        const std::string path = dir.Path() + (symbolic ? "/symlink.log" : "/hardlink.log");
        ASSERT_EQ(symbolic ? ::symlink(target.c_str(), path.c_str())
                           : ::link(target.c_str(), path.c_str()),
                  0);
        settings.SetText(IDS_SETTING_LOG_TO_FILE, path);
        log.SetFileLogging(true);
        log.LogMessage(nullptr, LogInfo, IDS_AGENT_STARTED);
        EXPECT_FALSE(log.FileLogging());
        EXPECT_FALSE(TruncateLogFile(path));
        EXPECT_EQ(ReadFile(target), "keep\n");
    }
}

TEST_F(EventLogTest, StampsUseTwoDigitsEverywhere) {
    std::tm t{};
    t.tm_year = 100;
    t.tm_mon = 0;
    t.tm_mday = 2;
    t.tm_hour = 0;
    t.tm_min = 7;
    t.tm_sec = 9;
    EXPECT_EQ(EventLog::FormatStamp(t), "01/02/00 00:07:09");
}

TEST(LogFile, TruncatingEmptiesAnExistingFileAndFailsForAMissingDirectory) {
    TempDir dir;
    const std::string path = dir.Path() + "/log";
    std::ofstream(path) << "old lines\r\n";
    EXPECT_TRUE(TruncateLogFile(path));
    EXPECT_EQ(std::ifstream(path).peek(), EOF);
    EXPECT_FALSE(TruncateLogFile(dir.Path() + "/no/such/log"));
}

}  // namespace
}  // namespace kv
