#include "ui/wizard/wizard_key_state.h"

#include <QApplication>
#include <QMetaObject>

namespace kv {

namespace {

// The system sound of a finished generation. Only the user-interface thread may make it, so
// the worker posts it there.
void PlayDoneSound() {
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr) return;
    QMetaObject::invokeMethod(
        app, [] { QApplication::beep(); }, Qt::QueuedConnection);
}

}  // namespace

KeyGenerator ModuleKeyGenerator() {
    return [](std::int32_t key_type, std::uint32_t bits, const GenerationProgress& progress) {
        return key_type == WizardKeyRsa ? GenerateRsaKey(bits, progress)
                                        : GenerateDssKey(bits, progress);
    };
}

WizardKeyState::~WizardKeyState() {
    // Only when the agent shuts down with the wizard open can a generation still run here.
    RequestCancel();
    JoinWorker();
}

bool WizardKeyState::RequestCancel() {
    std::int32_t expected = KeyGenRunning;
    return state.compare_exchange_strong(expected, KeyGenCancelRequested,
                                         std::memory_order_acq_rel);
}

void WizardKeyState::StartWorker(KeyGenerator generate) {
    JoinWorker();
    m_worker =
        std::thread([this, generate = std::move(generate)] { RunKeyGeneration(*this, generate); });
}

void WizardKeyState::JoinWorker() {
    if (m_worker.joinable()) m_worker.join();
}

void RunKeyGeneration(WizardKeyState& state, const KeyGenerator& generate) {
    if (state.State() != KeyGenRunning) {
        // Stopped before this thread got going: say so, or the wizard, which waits for the
        // worker's word, could never close.
        std::int32_t expected = KeyGenCancelRequested;
        state.state.compare_exchange_strong(expected, KeyGenCancelled, std::memory_order_acq_rel);
        return;
    }
    const GenerationProgress progress = [&state](int) {
        if (state.State() == KeyGenCancelRequested) return false;  // the module gives up
        state.progress.store(true, std::memory_order_relaxed);
        return true;
    };
    ModuleResult<PrivateKey> made =
        generate(state.key_type, static_cast<std::uint32_t>(state.bits), progress);
    if (!made.ok()) {
        state.error_code = made.code;
        state.generated_key.Reset();
        std::int32_t expected = KeyGenRunning;
        if (!state.state.compare_exchange_strong(expected, KeyGenFailed,
                                                 std::memory_order_acq_rel)) {
            state.state.store(KeyGenCancelled, std::memory_order_release);
        }
        return;
    }
    state.generated_key = std::move(made.value);
    // A cancel request that meets the end of a successful generation is lost on purpose.
    state.state.store(KeyGenDone, std::memory_order_release);
    PlayDoneSound();
}

}  // namespace kv
