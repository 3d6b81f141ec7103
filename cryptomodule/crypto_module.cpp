#include "cryptomodule/crypto_module.h"

#include <dlfcn.h>

#include <utility>
#include <vector>

#include "cryptomodule/module_location.h"
#include "res/string_ids.h"
#include "res/string_table.h"

namespace kv {

namespace {

constexpr std::size_t kMissingNamesShown = 3;

std::string JoinMissing(const std::vector<std::string>& missing) {
    std::string text;
    for (std::size_t i = 0; i < missing.size() && i < kMissingNamesShown; ++i) {
        if (i > 0) text += ", ";
        text += missing[i];
    }
    if (missing.size() > kMissingNamesShown) {
        text = FormatString(IDS_MODULE_MORE_MISSING, text.c_str(),
                            static_cast<int>(missing.size() - kMissingNamesShown));
    }
    return text;
}

}  // namespace

CryptoModule::CryptoModule(std::string directory) : m_directory(std::move(directory)) {}

bool CryptoModule::SetDirectoryForTesting(std::string directory) {
    std::lock_guard lock(m_mutex);
    if (m_attempted) return false;
    m_directory = std::move(directory);
    return true;
}

std::string CryptoModule::LibraryPath() {
    std::lock_guard lock(m_mutex);
    if (!m_libraryPath.empty()) return m_libraryPath;
    const std::string dir = m_directory.empty() ? DefaultModuleDirectory() : m_directory;
    if (dir.empty()) return {};
    return dir + (dir.back() == '/' ? "" : "/") + kModuleFileName;
}

void CryptoModule::Load() {
    const std::string path = LibraryPath();
    std::string error;
    bool available = false;
    if (path.empty()) {
        error = FormatString(IDS_MODULE_NO_DIRECTORY);
    } else if (void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL); library == nullptr) {
        const char* why = dlerror();
        error = FormatString(IDS_MODULE_CANNOT_LOAD, why != nullptr ? why : path.c_str());
    } else {
        // The handle is kept for the life of the process on purpose (see the header).
        std::vector<std::string> missing;
#define KV_KVCLM_RESOLVE(name)                                                        \
    m_functions.name =                                                                \
        reinterpret_cast<decltype(m_functions.name)>(dlsym(library, "kvclm_" #name)); \
    if (m_functions.name == nullptr) missing.push_back("kvclm_" #name);
        KV_KVCLM_FUNCTIONS(KV_KVCLM_RESOLVE)
#undef KV_KVCLM_RESOLVE
        if (!missing.empty()) {
            m_functions = KvclmFunctions{};
            dlclose(library);  // nothing of it was handed out
            error =
                FormatString(IDS_MODULE_LACKS_CALLS, path.c_str(), JoinMissing(missing).c_str());
        } else {
            available = true;
            const int status = m_functions.GetModuleStatus(0);
            if (status != KVCLM_STATUS_READY) {
                error = FormatString(IDS_MODULE_SELF_TEST_FAILED, status);
            }
        }
    }
    std::lock_guard lock(m_mutex);
    m_libraryPath = path;
    m_error = std::move(error);
    m_available = available;
    m_attempted = true;
}

void CryptoModule::ReportFailureOnce() {
    FailureReporter reporter;
    std::string reason;
    {
        std::lock_guard lock(m_mutex);
        if (!m_attempted || m_error.empty() || m_reported || !m_reporter) return;
        m_reported = true;
        reporter = m_reporter;
        reason = m_error;
    }
    // Outside the lock: the reporter may well ask this module something.
    reporter(reason);
}

void CryptoModule::SetLoadFailureReporter(FailureReporter reporter) {
    {
        std::lock_guard lock(m_mutex);
        m_reporter = std::move(reporter);
    }
    ReportFailureOnce();
}

const KvclmFunctions* CryptoModule::Functions() {
    std::call_once(m_loadOnce, [this] { Load(); });
    ReportFailureOnce();
    // m_available and m_functions are written only inside call_once, which orders them
    // before every read here.
    return m_available ? &m_functions : nullptr;
}

bool CryptoModule::IsAvailable() { return Functions() != nullptr; }

std::string CryptoModule::LoadError() {
    Functions();
    std::lock_guard lock(m_mutex);
    return m_error;
}

int CryptoModule::SetMode(int mode) {
    const KvclmFunctions* f = Functions();
    return f ? f->SetModuleMode(mode, 0) : kModuleUnavailable;
}

int CryptoModule::Mode() {
    const KvclmFunctions* f = Functions();
    return f ? f->GetModuleMode(0) : -1;
}

int CryptoModule::Status() {
    const KvclmFunctions* f = Functions();
    return f ? f->GetModuleStatus(0) : KVCLM_STATUS_ERROR;
}

ModuleResult<ModuleVersion> CryptoModule::Version() {
    ModuleResult<ModuleVersion> result;
    if (const KvclmFunctions* f = Functions()) result.code = f->GetModuleVersion(&result.value, 0);
    return result;
}

int CryptoModule::ForgetSecrets() {
    const KvclmFunctions* f = Functions();
    return f ? f->ForgetSecrets(0) : kModuleUnavailable;
}

int CryptoModule::CorruptSelfTestForTesting(int which) {
    const KvclmFunctions* f = Functions();
    return f ? f->TestCorruptSelfTest(which, 0) : kModuleUnavailable;
}

CryptoModule& Module() {
    // Never destroyed, like the library it holds: handles freed by other static objects
    // during exit still reach it.
    static CryptoModule* module = new CryptoModule();
    return *module;
}

}  // namespace kv
