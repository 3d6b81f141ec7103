// The cryptographic module (crypto/libkvclm.so), loaded with dlopen at its first call.
//
// Where it is looked for, first match wins:
//   1. the directory given to the constructor or to SetDirectoryForTesting();
//   2. the environment variable KVSSHAA_MODULE_DIR (used by tests that run the agent with a
//      broken or absent module);
//   3. "crypto" in the directory of the running executable.
//
// A module that is missing, fails to load, or lacks any call of kvclm.h leaves the agent
// running: every wrapper then fails with kModuleUnavailable, Status() reads
// KVCLM_STATUS_ERROR and Mode() reads -1. The reason is given once to the load failure
// reporter (the application logs it) and stays readable through LoadError(). A module that
// loads but fails its self-tests is reported the same way; its calls then answer
// KVCLM_E_NOT_READY themselves.
//
// The wrappers (PrivateKey, PublicKey, Hash, Base64, Generate*Key) take the module as a last
// argument defaulting to Module(), the one the agent uses.
//
// The module is never unloaded: handles released during process exit must still find it.
#pragma once

#include <functional>
#include <mutex>
#include <string>

#include "cryptomodule/kvclm_functions.h"
#include "cryptomodule/module_result.h"

namespace kv {

class CryptoModule {
  public:
    using FailureReporter = std::function<void(const std::string& reason)>;

    CryptoModule() = default;
    // Loads <directory>/libkvclm.so instead of the default location.
    explicit CryptoModule(std::string directory);
    CryptoModule(const CryptoModule&) = delete;
    CryptoModule& operator=(const CryptoModule&) = delete;

    // Points this instance at another directory. Only before the first call; false after it.
    bool SetDirectoryForTesting(std::string directory);

    // The reporter is called exactly once, with the reason, if the module turns out unusable:
    // at the failing first call, or at once if that call already happened.
    void SetLoadFailureReporter(FailureReporter reporter);

    // Loads the module if that has not been tried yet. True when every call was resolved.
    bool IsAvailable();
    // Why the module is unusable; empty when it loaded and passed its self-tests.
    std::string LoadError();
    // The file that was (or will be) loaded.
    std::string LibraryPath();

    // The module's calls, or null when it is unavailable. For the wrappers of this folder.
    const KvclmFunctions* Functions();

    int SetMode(int mode);  // KVCLM_MODE_NORMAL or KVCLM_MODE_FIPS
    int Mode();             // KVCLM_MODE_*; -1 when the module is unavailable
    int Status();           // KVCLM_STATUS_*; KVCLM_STATUS_ERROR when unavailable
    ModuleResult<ModuleVersion> Version();
    // Drops every passphrase-derived key and opened key the module remembers (on lock).
    int ForgetSecrets();
    // Corrupts a known answer of the self-tests (0 restores them); for tests of the status.
    int CorruptSelfTestForTesting(int which);

  private:
    void Load();
    void ReportFailureOnce();

    std::once_flag m_loadOnce;
    std::mutex m_mutex;  // guards everything below but m_functions
    std::string m_directory;
    std::string m_libraryPath;
    std::string m_error;
    bool m_attempted = false;
    bool m_available = false;
    bool m_reported = false;
    FailureReporter m_reporter;
    KvclmFunctions m_functions;  // written once, inside m_loadOnce
};

// The agent's module, shared by everything in the process.
CryptoModule& Module();

}  // namespace kv
