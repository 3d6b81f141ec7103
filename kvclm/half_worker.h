// One more thread for half of a private-key operation, so that a lone signature uses a core
// that would otherwise wait. It takes a job only while fewer operations run than there are
// cores: when every core is busy, splitting would only add thread switches.
#pragma once

#include <openssl/bn.h>

namespace kvclm {

// Counts an operation under way for as long as it lives.
class RunningOperation {
  public:
    RunningOperation();
    ~RunningOperation();
    RunningOperation(const RunningOperation&) = delete;
    RunningOperation& operator=(const RunningOperation&) = delete;
};

using HalfJob = bool (*)(const void* arg, BN_CTX* ctx);

// Runs `job` on the helper thread if a core is free for it. Each started job must be ended by
// FinishHalf on the same thread, before anything `arg` points at goes.
bool TryStartHalf(HalfJob job, const void* arg);
// The started job's result. If the helper has not taken it up yet, the caller runs it itself
// (with `ctx`) rather than wait for a core.
bool FinishHalf(BN_CTX* ctx);

}  // namespace kvclm
