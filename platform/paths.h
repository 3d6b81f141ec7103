// Where the agent keeps its files: <config> for persistent state, <runtime> for sockets and
// the instance lock, and the executable's own folder for the files installed beside it.
// Every function reads the environment at each call, so tests may repoint HOME and XDG_*.
#pragma once

#include <string>

namespace kv::paths {

// $HOME, or the password database entry of the effective user; empty when neither exists.
std::string HomeDir();

// $XDG_CONFIG_HOME/kvsshaa, or ~/.config/kvsshaa. A relative XDG value is ignored, as the
// XDG base directory rules require. Empty when no home directory is known.
std::string ConfigDir();

// $XDG_RUNTIME_DIR/kvsshaa, or /tmp/kvsshaa-<uid> when the variable is unset or relative.
std::string RuntimeDir();

// The folder of the running executable (from /proc/self/exe); empty when unknown.
std::string ExecutableDir();

// Makes `dir` (absolute) exist as a directory of mode 0700 owned by the effective user,
// creating missing parents with mode 0700. An existing directory with other permissions is
// chmod-ed. Refuses (false) a symbolic link, a non-directory and a directory of another
// owner: under the /tmp fallback someone else may have planted it first.
bool EnsurePrivateDir(const std::string& dir);

// Makes `file` exist with mode 0600 owned by the effective user, creating an empty regular
// file when missing. Refuses (false) a symbolic link and a file of another owner. An existing
// file of another kind (a socket, say) is only chmod-ed.
bool EnsurePrivateFile(const std::string& file);

// True when no other user can rename or replace `dir` itself: every folder above it (links
// resolved) belongs to root or the effective user, and one that others may write in is root's
// and sticky (as /tmp). A folder the user made private can still be swapped under one that is
// not.
bool NoOtherUserControlsParents(const std::string& dir);

// True when `file` does not exist, or is a regular file of the effective user (not a link).
bool IsAbsentOrOwnFile(const std::string& file);

std::string RegistryFile();      // <config>/registry.sqlite
std::string AgentSocketPath();   // <runtime>/agent
std::string SshSocketPath();     // <runtime>/ssh
std::string InstanceLockPath();  // <runtime>/kvsshaaMutex.lock

}  // namespace kv::paths
