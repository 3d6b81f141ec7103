// A throw-away HOME with XDG_CONFIG_HOME and XDG_RUNTIME_DIR inside it, so that a test
// never touches the real user's files, sockets or registry. Removed on destruction.
#pragma once

#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

namespace kv::testing {

class TempHome {
  public:
    TempHome() {
        char pattern[] = "/tmp/kv-platform-test-XXXXXX";
        const char* dir = mkdtemp(pattern);
        m_dir = dir != nullptr ? dir : "";
        setenv("HOME", (m_dir + "/home").c_str(), 1);
        setenv("XDG_CONFIG_HOME", (m_dir + "/config").c_str(), 1);
        setenv("XDG_RUNTIME_DIR", (m_dir + "/run").c_str(), 1);
        mkdir((m_dir + "/home").c_str(), 0700);
        mkdir((m_dir + "/run").c_str(), 0700);
    }
    ~TempHome() {
        std::error_code ignored;
        if (!m_dir.empty()) std::filesystem::remove_all(m_dir, ignored);
    }
    TempHome(const TempHome&) = delete;
    TempHome& operator=(const TempHome&) = delete;

    const std::string& Dir() const { return m_dir; }

  private:
    std::string m_dir;
};

inline unsigned ModeOf(const std::string& path) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0) return 0xFFFF;
    return st.st_mode & 07777;
}

}  // namespace kv::testing
