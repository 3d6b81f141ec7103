// Module state: mode, version, status and the load-time self-tests.
#include <atomic>
#include <cstdlib>
#include <mutex>

#include "kvclm/hash.h"
#include "kvclm/internal.h"
#include "kvclm/secret_cache.h"
#include "kvclm/selftest.h"

namespace kvclm {
namespace {

constexpr std::uint32_t kVersionFlags = KVCLM_VERSION_INTERNATIONAL | KVCLM_VERSION_SELFTEST |
                                        KVCLM_VERSION_BIGNUM | KVCLM_VERSION_DISCRETE_LOG |
                                        KVCLM_VERSION_RSA;

std::atomic<int> g_status{KVCLM_STATUS_UNINITIALISED};
std::atomic<int> g_mode{KVCLM_MODE_NORMAL};
std::mutex g_selfTestMutex;
SelfTestCorruption g_corruption = SelfTestCorruption::None;

bool ValidCorruption(int which) {
    return which >= 0 && which <= static_cast<int>(SelfTestCorruption::Ed25519);
}

int RunSelfTestsLocked() {
    g_status = KVCLM_STATUS_SELFTEST;
    const bool ok = RunSelfTests(g_corruption);
    g_status = ok ? KVCLM_STATUS_READY : KVCLM_STATUS_ERROR;
    return ok ? KVCLM_OK : KVCLM_E_NOT_READY;
}

void OnUnload() {
    g_status = KVCLM_STATUS_UNLOADING;
    ForgetSecrets();
    FreeFetchedDigests();
}

// The self-tests initialise OpenSSL, which registers its own clean-up with atexit; registering
// ours afterwards makes it run first, at exit and at unload alike, so remembered keys are freed
// and wiped while OpenSSL is still usable.
__attribute__((constructor)) void OnLoad() {
    std::lock_guard<std::mutex> lock(g_selfTestMutex);
    if (const char* which = std::getenv("KVCLM_TEST_CORRUPT_SELFTEST")) {
        const int n = std::atoi(which);
        if (ValidCorruption(n)) g_corruption = static_cast<SelfTestCorruption>(n);
    }
    try {
        RunSelfTestsLocked();
    } catch (...) {
        g_status = KVCLM_STATUS_ERROR;
    }
    std::atexit(OnUnload);
}

}  // namespace

bool ModuleReady() noexcept { return g_status.load() == KVCLM_STATUS_READY; }
bool FipsMode() noexcept { return g_mode.load() == KVCLM_MODE_FIPS; }

}  // namespace kvclm

using namespace kvclm;

extern "C" int kvclm_SetModuleMode(int mode, int reserved) {
    return Guarded(reserved, false, [&] {
        if (mode != KVCLM_MODE_NORMAL && mode != KVCLM_MODE_FIPS) return KVCLM_E_BAD_PARAM;
        g_mode = mode;
        return KVCLM_OK;
    });
}

extern "C" int kvclm_GetModuleMode(int reserved) { return reserved == 0 ? g_mode.load() : -1; }

extern "C" int kvclm_GetModuleVersion(ModuleVersion* version, int reserved) {
    return Guarded(reserved, false, [&] {
        if (version == nullptr) return KVCLM_E_BAD_PARAM;
        version->major = 1;
        version->minor = 0;
        version->build = 1;
        version->flags = kVersionFlags;
        return KVCLM_OK;
    });
}

extern "C" int kvclm_GetModuleStatus(int reserved) { return reserved == 0 ? g_status.load() : -1; }

extern "C" int kvclm_Selftest(int reserved) {
    return Guarded(reserved, false, [&] {
        std::lock_guard<std::mutex> lock(g_selfTestMutex);
        return RunSelfTestsLocked();
    });
}

extern "C" int kvclm_ForgetSecrets(int reserved) {
    return Guarded(reserved, false, [&] {
        ForgetSecrets();
        return KVCLM_OK;
    });
}

extern "C" int kvclm_TestCorruptSelfTest(int which, int reserved) {
    return Guarded(reserved, false, [&] {
        if (!ValidCorruption(which)) return KVCLM_E_BAD_PARAM;
        std::lock_guard<std::mutex> lock(g_selfTestMutex);
        g_corruption = static_cast<SelfTestCorruption>(which);
        return RunSelfTestsLocked();
    });
}
