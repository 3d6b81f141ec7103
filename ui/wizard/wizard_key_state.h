// What the three pages of the key generation wizard share with each other and with the worker
// thread that makes the key. The worker writes the key and the error code before it sets the
// state, and the pages read them only after they have seen that state.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <thread>

#include "cryptomodule/key_generation.h"
#include "cryptomodule/private_key.h"

namespace kv {

enum KeyGenState : std::int32_t {
    KeyGenRunning = 0,
    KeyGenDone = 1,
    KeyGenFailed = 2,
    KeyGenCancelRequested = 3,
    KeyGenCancelled = 4,
};

enum WizardKeyType : std::int32_t { WizardKeyRsa = 0, WizardKeyDsa = 1 };

// Makes a key of the wizard's type and size; runs on the worker thread.
using KeyGenerator = std::function<ModuleResult<PrivateKey>(
    std::int32_t key_type, std::uint32_t bits, const GenerationProgress& progress)>;

// The cryptographic module's RSA and DSA generation.
KeyGenerator ModuleKeyGenerator();

class WizardKeyState {
  public:
    WizardKeyState() = default;
    // Asks a running generation to stop and waits for the worker; a key that was made but
    // never stored is released with the record.
    ~WizardKeyState();
    WizardKeyState(const WizardKeyState&) = delete;
    WizardKeyState& operator=(const WizardKeyState&) = delete;

    // Written by the pages only while no worker runs.
    std::int32_t key_type = WizardKeyDsa;
    std::int32_t bits = 2048;

    std::atomic<std::int32_t> state{KeyGenRunning};
    std::int32_t error_code = 0;
    PrivateKey generated_key;
    // Set by the progress callback, read and cleared by the Generate page's tick.
    std::atomic<bool> progress{false};

    KeyGenState State() const { return KeyGenState(state.load(std::memory_order_acquire)); }
    // True when a finished key is held: the state is done and the worker has let go of it.
    bool HasKey() const { return State() == KeyGenDone && generated_key.IsValid(); }
    // Releases the key (only while no worker runs).
    void ReleaseKey() { generated_key.Reset(); }
    // From running to cancel requested; false when the worker already finished.
    bool RequestCancel();

    // Starts the worker on the record, after the previous one has ended.
    void StartWorker(KeyGenerator generate);
    void JoinWorker();

  private:
    std::thread m_worker;
};

// The worker thread's body: generates, then sets the state to done, failed or cancelled (also
// when the cancel request came before it started). From that moment on it touches neither the
// pages nor the record.
void RunKeyGeneration(WizardKeyState& state, const KeyGenerator& generate);

}  // namespace kv
