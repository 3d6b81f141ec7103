#include "platform/process_identity.h"

#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <fstream>
#include <sstream>
#include <vector>

namespace kv {

namespace {

// The audit subsystem's "no login session".
constexpr const char* kUnsetAuditSession = "4294967295";

std::string ProcPath(pid_t pid, const char* entry) {
    return "/proc/" + std::to_string(pid) + "/" + entry;
}

// The fields of /proc/<pid>/stat after the program name, which may hold spaces and
// parentheses itself: the first is the state (field 3 of the file).
std::vector<std::string> StatFieldsAfterName(pid_t pid) {
    std::ifstream in(ProcPath(pid, "stat"));
    std::string line;
    if (!std::getline(in, line)) return {};
    const auto name_end = line.rfind(')');
    if (name_end == std::string::npos) return {};
    std::istringstream rest(line.substr(name_end + 1));
    std::vector<std::string> fields;
    for (std::string field; rest >> field;) fields.push_back(field);
    return fields;
}

// Field numbers of proc(5), counted in the list StatFieldsAfterName returns.
constexpr std::size_t kSessionField = 6 - 3;
constexpr std::size_t kStartTimeField = 22 - 3;

std::optional<std::uint64_t> ParseNumber(const std::string& text) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return {};
    try {
        return std::stoull(text);
    } catch (...) {
        return std::nullopt;
    }
}

std::string SessionOf(pid_t pid, const std::vector<std::string>& fields) {
    std::ifstream in(ProcPath(pid, "sessionid"));
    std::string audit;
    if (std::getline(in, audit) && ParseNumber(audit) && audit != kUnsetAuditSession)
        return "login:" + audit;
    return "sid:" + fields[kSessionField];
}

std::optional<std::string> ExecutablePath(pid_t pid) {
    std::array<char, 4096> buffer{};
    const ssize_t n = ::readlink(ProcPath(pid, "exe").c_str(), buffer.data(), buffer.size());
    if (n <= 0 || static_cast<std::size_t>(n) >= buffer.size()) return std::nullopt;
    std::string path(buffer.data(), static_cast<std::size_t>(n));
    // The kernel marks a program whose file is gone; which program that was cannot be told.
    constexpr std::string_view kDeleted = " (deleted)";
    if (path.size() >= kDeleted.size() &&
        path.compare(path.size() - kDeleted.size(), kDeleted.size(), kDeleted) == 0) {
        return std::nullopt;
    }
    return path;
}

}  // namespace

std::optional<ProcessStamp> StampProcess(pid_t pid) {
    if (pid <= 0) return std::nullopt;
    const auto fields = StatFieldsAfterName(pid);
    if (fields.size() <= kStartTimeField) return std::nullopt;
    const auto start = ParseNumber(fields[kStartTimeField]);
    if (!start) return std::nullopt;
    ProcessStamp stamp{pid, *start};
    struct stat file {};
    if (::stat(ProcPath(pid, "exe").c_str(), &file) == 0) {
        stamp.device = static_cast<std::uint64_t>(file.st_dev);
        stamp.inode = static_cast<std::uint64_t>(file.st_ino);
    }
    return stamp;
}

std::optional<ProgramIdentity> IdentifyProgram(const ProcessStamp& stamp) {
    if (stamp.pid <= 0) return std::nullopt;
    const auto fields = StatFieldsAfterName(stamp.pid);
    if (fields.size() <= kStartTimeField ||
        ParseNumber(fields[kStartTimeField]) != stamp.start_time) {
        return std::nullopt;
    }
    auto path = ExecutablePath(stamp.pid);
    struct stat file {};
    if (!path || ::stat(ProcPath(stamp.pid, "exe").c_str(), &file) != 0 ||
        static_cast<std::uint64_t>(file.st_dev) != stamp.device ||
        static_cast<std::uint64_t>(file.st_ino) != stamp.inode) {
        return std::nullopt;
    }
    ProgramIdentity identity;
    identity.executable = std::move(*path);
    identity.device = static_cast<std::uint64_t>(file.st_dev);
    identity.inode = static_cast<std::uint64_t>(file.st_ino);
    identity.session = SessionOf(stamp.pid, fields);
    // Read last: had the pid been given to another process meanwhile, its start time moved.
    const auto again = StampProcess(stamp.pid);
    if (!again || again->start_time != stamp.start_time) return std::nullopt;
    return identity;
}

}  // namespace kv
