#include "platform/paths.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

namespace kv::paths {
namespace {

constexpr const char* kAppFolder = "kvsshaa";

// XDG values count only when set and absolute; anything else means "use the default".
std::string AbsoluteEnv(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || value[0] != '/') return {};
    return value;
}

std::string Join(const std::string& dir, const char* leaf) {
    if (dir.empty()) return {};
    return dir + "/" + leaf;
}

std::string StripTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

// Parents are created 0700 like the leaf; existing parents are left alone (not ours).
bool MakeDirChain(const std::string& dir) {
    for (std::size_t pos = dir.find('/', 1); pos != std::string::npos;
         pos = dir.find('/', pos + 1)) {
        std::string parent = dir.substr(0, pos);
        if (mkdir(parent.c_str(), 0700) != 0 && errno != EEXIST) return false;
    }
    return mkdir(dir.c_str(), 0700) == 0 || errno == EEXIST;
}

}  // namespace

std::string HomeDir() {
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] != '\0') return home;
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
    passwd entry{};
    passwd* result = nullptr;
    if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &result) != 0 ||
        result == nullptr || result->pw_dir == nullptr) {
        return {};
    }
    return result->pw_dir;
}

std::string ConfigDir() {
    std::string base = AbsoluteEnv("XDG_CONFIG_HOME");
    if (base.empty()) {
        std::string home = HomeDir();
        if (home.empty()) return {};
        base = StripTrailingSlashes(home) + "/.config";
    }
    return Join(StripTrailingSlashes(base), kAppFolder);
}

std::string RuntimeDir() {
    std::string base = AbsoluteEnv("XDG_RUNTIME_DIR");
    if (base.empty()) return "/tmp/kvsshaa-" + std::to_string(geteuid());
    return Join(StripTrailingSlashes(base), kAppFolder);
}

std::string ExecutableDir() {
    std::vector<char> buffer(4096);
    for (;;) {
        ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (n < 0) return {};
        if (static_cast<std::size_t>(n) < buffer.size()) {
            std::string exe(buffer.data(), static_cast<std::size_t>(n));
            std::size_t slash = exe.rfind('/');
            if (slash == std::string::npos) return {};
            return slash == 0 ? "/" : exe.substr(0, slash);
        }
        buffer.resize(buffer.size() * 2);  // the link was cut short
    }
}

bool EnsurePrivateDir(const std::string& requested) {
    if (requested.empty() || requested[0] != '/') return false;
    const std::string dir = StripTrailingSlashes(requested);
    struct stat st {};
    if (lstat(dir.c_str(), &st) != 0) {
        if (errno != ENOENT || !MakeDirChain(dir) || lstat(dir.c_str(), &st) != 0) return false;
    }
    // lstat: a symbolic link is not S_ISDIR, so a planted link is refused here.
    if (!S_ISDIR(st.st_mode) || st.st_uid != geteuid()) return false;
    if ((st.st_mode & 07777) != 0700 && chmod(dir.c_str(), 0700) != 0) return false;
    return true;
}

bool EnsurePrivateFile(const std::string& file) {
    if (file.empty()) return false;
    int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0) {
        bool ok = fchmod(fd, 0600) == 0;  // the umask may have taken bits we need
        close(fd);
        return ok;
    }
    if (errno != EEXIST) return false;
    struct stat st {};
    if (lstat(file.c_str(), &st) != 0) return false;
    if (S_ISLNK(st.st_mode) || S_ISDIR(st.st_mode) || st.st_uid != geteuid()) return false;
    if ((st.st_mode & 07777) != 0600 && chmod(file.c_str(), 0600) != 0) return false;
    return true;
}

bool NoOtherUserControlsParents(const std::string& dir) {
    char* resolved = realpath(dir.c_str(), nullptr);
    if (resolved == nullptr) return false;
    std::string path(resolved);
    std::free(resolved);
    while (path != "/") {
        const std::size_t slash = path.rfind('/');
        path = slash == 0 ? "/" : path.substr(0, slash);
        struct stat st {};
        if (stat(path.c_str(), &st) != 0) return false;
        if (st.st_uid != 0 && st.st_uid != geteuid()) return false;
        const bool others_write = (st.st_mode & (S_IWGRP | S_IWOTH)) != 0;
        if (others_write && !((st.st_mode & S_ISVTX) != 0 && st.st_uid == 0)) return false;
    }
    return true;
}

bool IsAbsentOrOwnFile(const std::string& file) {
    struct stat st {};
    if (lstat(file.c_str(), &st) != 0) return errno == ENOENT;
    return S_ISREG(st.st_mode) && st.st_uid == geteuid();
}

std::string RegistryFile() { return Join(ConfigDir(), "registry.sqlite"); }
std::string AgentSocketPath() { return Join(RuntimeDir(), "agent"); }
std::string SshSocketPath() { return Join(RuntimeDir(), "ssh"); }
std::string InstanceLockPath() { return Join(RuntimeDir(), "kvsshaaMutex.lock"); }

}  // namespace kv::paths
