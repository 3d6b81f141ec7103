#include "agent/handlers/private_key_request.h"

#include "agent/agent_buffer.h"
#include "agent/deferred_reply.h"
#include "agent/handlers/remembered_approval.h"
#include "agent/payloads.h"
#include "app/agent_app.h"
#include "app/agent_lock.h"
#include "app/prompt_runner.h"
#include "app/unlock_on_demand.h"
#include "keys/key_use_guard.h"
#include "keys/private_key_operation.h"
#include "res/format_text.h"
#include "res/string_ids.h"

namespace kv {

bool ConfirmPrivateKeyOperation(CAgentApp& app, const KeyPair* key, std::string_view operation,
                                std::string_view requester, const ProcessStamp* local_requester) {
    const bool marked = key != nullptr && key->RequiresConfirmation();
    if (!marked && !app.Settings().GetFlag(IDS_SETTING_ASK_BEFORE_AGENT_OP)) return true;
    const ApprovalMemory memory(app, key, local_requester);
    if (memory.Covers()) {
        app.Log().LogMessage(nullptr, LogContinuation, IDS_REMEMBERED);
        return true;
    }
    // Refused without a prompt: the log must not say the user refused it.
    if (app.PromptDepth() >= CAgentApp::kMaxOpenPrompts) {
        app.Log().LogMessage(nullptr, LogContinuation, IDS_OPERATION_NOT_ASKED);
        return false;
    }
    ConfirmOperationRequest request;
    request.key_comment = key != nullptr ? key->Comment() : std::string();
    request.key_name = key != nullptr ? key->Name() : std::string();
    request.operation = std::string(operation);
    request.requester = std::string(requester);
    request.remember_offer = memory.Offer();
    const auto answer = RunPrompt(app, [&] { return app.Ui().ConfirmOperation(request); });
    if (!answer.allowed) {
        app.Log().LogMessage(nullptr, LogContinuation, IDS_OPERATION_DENIED);
        return false;
    }
    // The key was opened before the prompt; an agent locked since must not use it.
    if (memory.LockedMeanwhile()) {
        app.Log().LogMessage(nullptr, LogContinuation, IDS_LOCKED_WHILE_ASKING);
        return false;
    }
    if (answer.remember) memory.Keep();
    return true;
}

namespace {

void RefuseUnknownKey(CAgentApp& app, const DecodedPrivateKeyOpRequest& request, AgentBuffer& out) {
    app.Log().LogMessage(&request.origins, LogError, IDS_OPERATION_KEY_UNKNOWN);
    WritePrivateKeyOpStatus(kStatusKeyNotAvailable, out);
}

// The reply holds the identifier alone, as for a locked agent.
void RefuseLocked(CAgentApp& app, const DecodedPrivateKeyOpRequest& request) {
    app.Log().LogMessage(&request.origins, LogError, IDS_OPERATION_IGNORED_LOCKED,
                         request.fields.operation.c_str());
}

// A stored key within its lifetime. The sweep that deletes expired keys waits while a prompt
// is open; until it runs, such a key is listed but not used.
const KeyPair* UsableKey(const KeyStore& keys, std::span<const std::uint8_t> blob) {
    const KeyPair* key = keys.FindByBlob(blob);
    return key != nullptr && !key->IsExpired(keys.TimeSource().Now()) ? key : nullptr;
}

// The request's key in an unlocked agent; null once the refusal is logged and written.
const KeyPair* UnlockedKey(CAgentApp& app, const DecodedPrivateKeyOpRequest& request,
                           AgentBuffer& out) {
    LockIfPastDeadline(app);
    KeyStore& keys = app.Keys();
    const KeyPair* key = UsableKey(keys, request.fields.blob);
    if (key == nullptr) {
        RefuseUnknownKey(app, request, out);
        return nullptr;
    }
    const std::string prompt =
        FormatText(IDS_PROMPT_OPERATION, request.fields.operation.c_str(), key->Name().c_str());
    if (!UnlockOnDemand(app, prompt, true)) {
        RefuseLocked(app, request);
        return nullptr;
    }
    // Requests handled inside the prompt may have deleted the key: look it up again.
    key = UsableKey(keys, request.fields.blob);
    if (key == nullptr) RefuseUnknownKey(app, request, out);
    return key;
}

// The result of a computation, unless the agent locked or lost the key while it ran (or
// while a prompt was open): then the request is refused as it would have been had it come
// first, and nothing computed leaves the agent.
void AnswerGuarded(CAgentApp& app, const DecodedPrivateKeyOpRequest& request,
                   const KeyUseGuard& guard, const OperationResult& result, AgentBuffer& out) {
    switch (guard.Check()) {
        case KeyUseGuard::Verdict::kLocked:
            return RefuseLocked(app, request);
        case KeyUseGuard::Verdict::kKeyGone:
            return RefuseUnknownKey(app, request, out);
        case KeyUseGuard::Verdict::kGoAhead:
            break;
    }
    if (!result.ok) {
        WritePrivateKeyOpStatus(kStatusOperationFailed, out);
        app.Log().LogMessage(nullptr, LogContinuation, IDS_SUFFIX_FAILED);
        return;
    }
    WritePrivateKeyOpResult(result.output, out);
}

// What a computation moved to the compute pool carries; the worker touches `prepared` and
// `result` only, the rest stays on this thread.
struct PoolOperation {
    PoolOperation(const KeyUseGuard& g, DecodedPrivateKeyOpRequest r, PreparedOperation p)
        : guard(g), request(std::move(r)), prepared(std::move(p)) {}
    KeyUseGuard guard;
    DecodedPrivateKeyOpRequest request;
    PreparedOperation prepared;
    OperationResult result;
};

// Prepares the operation under a guard taken now, with the agent unlocked, and computes it:
// on the compute pool when the endpoint can answer later, else here.
void PerformGuarded(CAgentApp& app, const DecodedPrivateKeyOpRequest& request, const KeyPair& key,
                    const PrivateKeyBlob& blob, const ProcessStamp* local, AgentBuffer& out) {
    KeyStore& keys = app.Keys();
    const KeyUseGuard guard(keys, key);
    const OperationContext context{
        app.Settings(), app.Log(),
        [&app, local](const KeyPair* owner, std::string_view op, std::string_view requester) {
            return ConfirmPrivateKeyOperation(app, owner, op, requester, local);
        },
        &guard};
    auto prepared = Prepare(blob, request.fields.operation, Requester(request.origins),
                            keys.HeldPassphrase(), request.fields.data, context);
    if (!prepared) return AnswerGuarded(app, request, guard, OperationResult{}, out);
    DeferralScope* scope = DeferralScope::Open(prepared->Slow());
    if (scope == nullptr) return AnswerGuarded(app, request, guard, prepared->Compute(), out);
    auto op = std::make_shared<PoolOperation>(guard, request, std::move(*prepared));
    scope->Defer(std::make_shared<DeferredReply>(
        [op] { op->result = op->prepared.Compute(); },
        [&app, op](SecureBytes) {
            AgentBuffer later;
            AnswerGuarded(app, op->request, op->guard, op->result, later);
            return SecureBytes(later.Data(), later.Data() + later.Length());
        },
        // A job still queued when the agent locks is not computed at all.
        [op] { return !op->guard.LockedSince(); }));
}

}  // namespace

bool HandlePrivateKeyOperation(CAgentApp& app, AgentBuffer& in, AgentBuffer& out) {
    const auto request = DecodePrivateKeyOpRequest(in);
    if (!request) return false;
    const KeyPair* key = UnlockedKey(app, *request, out);
    if (key == nullptr) return true;
    const std::string name = key->Name();
    const auto blob = app.Keys().ReadPrivateKey(key->Number());
    if (!blob) {
        app.Log().LogMessage(&request->origins, LogError, IDS_OPERATION_KEY_UNREADABLE,
                             name.c_str());
        WritePrivateKeyOpStatus(kStatusKeyNotAvailable, out);
        return true;
    }
    app.Log().LogMessage(&request->origins, LogOperation, IDS_PRIVATE_KEY_OPERATION,
                         request->fields.operation.c_str(), name.c_str());
    const std::optional<ProcessStamp> local =
        LocalRequester(app.Peers().Current(), request->origins);
    PerformGuarded(app, *request, *key, *blob, local ? &*local : nullptr, out);
    return true;
}

}  // namespace kv
