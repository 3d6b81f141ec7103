// A private temporary folder for one test, removed with everything in it afterwards.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <string>

namespace kv {

class TempDir {
  public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "kvtest.XXXXXX").string();
        m_path = ::mkdtemp(pattern.data()) != nullptr ? pattern : std::string();
    }
    ~TempDir() {
        std::error_code ignored;
        if (!m_path.empty()) std::filesystem::remove_all(m_path, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return m_path; }

  private:
    std::string m_path;
};

// Points HOME and the XDG folders at a temporary folder for the life of the object.
class IsolatedHome {
  public:
    IsolatedHome() {
        Set("HOME", m_dir.Path());
        Set("XDG_CONFIG_HOME", m_dir.Path() + "/config");
        Set("XDG_RUNTIME_DIR", m_dir.Path() + "/run");
        Set("XDG_DATA_HOME", m_dir.Path() + "/data");
    }
    const std::string& Path() const { return m_dir.Path(); }

  private:
    static void Set(const char* name, const std::string& value) {
        ::setenv(name, value.c_str(), 1);
    }
    TempDir m_dir;
};

}  // namespace kv
