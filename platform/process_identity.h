// Which program a peer process runs, for approvals a user lets the agent remember. A peer is
// stamped when it connects (pid and start time); its program is read from /proc when a
// request needs it, and only while the pid still belongs to the stamped process.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>

namespace kv {

// A process, told apart from a later one that is given the same pid, and the program file it
// ran when stamped: one that has since run another program (exec) is not identified, since
// whoever connected may have left the connection to a child and then become a trusted program.
struct ProcessStamp {
    pid_t pid = 0;
    std::uint64_t start_time = 0;  // clock ticks after boot, from /proc/<pid>/stat
    std::uint64_t device = 0;      // of the program file; 0 and 0 when it could not be read
    std::uint64_t inode = 0;
};

// The program file a process runs and the user session it runs in. Two processes count as
// the same program when all of it is equal: a file replaced at the same path is another
// program, and so is the same file run from another login.
struct ProgramIdentity {
    std::string executable;  // the resolved path of /proc/<pid>/exe
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    // The audit login session ("login:N") when the kernel keeps one, else the process
    // session ("sid:N"), which is narrower: one terminal rather than one login.
    std::string session;

    bool operator==(const ProgramIdentity&) const = default;
};

// Nothing when the process cannot be read (gone, or not ours to read).
std::optional<ProcessStamp> StampProcess(pid_t pid);

// Read now. Nothing when the stamped process is gone or its pid now names another process,
// when it runs another program file than when stamped, or when its program cannot be resolved
// or was deleted: such a peer is never remembered.
std::optional<ProgramIdentity> IdentifyProgram(const ProcessStamp& stamp);

}  // namespace kv
