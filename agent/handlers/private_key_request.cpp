#include "agent/handlers/private_key_request.h"

#include "agent/agent_buffer.h"
#include "agent/handlers/format_text.h"
#include "agent/handlers/unlock_on_demand.h"
#include "agent/payloads.h"
#include "app/agent_app.h"
#include "app/prompt_runner.h"
#include "keys/key_use_guard.h"
#include "keys/private_key_operation.h"
#include "res/string_ids.h"

namespace kv {

bool ConfirmPrivateKeyOperation(CAgentApp& app, const KeyPair* key, std::string_view operation,
                                std::string_view requester) {
    const bool marked = key != nullptr && key->RequiresConfirmation();
    if (!marked && !app.Settings().GetFlag(IDS_SETTING_ASK_BEFORE_AGENT_OP)) return true;
    ConfirmOperationRequest request;
    request.key_comment = key != nullptr ? key->Comment() : std::string();
    request.key_name = key != nullptr ? key->Name() : std::string();
    request.operation = std::string(operation);
    request.requester = std::string(requester);
    if (RunPrompt(app, [&] { return app.Ui().ConfirmOperation(request); })) return true;
    app.Log().LogMessage(nullptr, LogContinuation, IDS_OPERATION_DENIED);
    return false;
}

namespace {

// A guard that no longer holds: the agent locked, or the key went, while a prompt was open.
// The request is refused as it would have been had that happened before it arrived.
void RefuseAfterChange(CAgentApp& app, const DecodedPrivateKeyOpRequest& request,
                       KeyUseGuard::Verdict verdict, AgentBuffer& out) {
    if (verdict == KeyUseGuard::Verdict::kLocked) {
        app.Log().LogMessage(&request.origins, LogError, IDS_OPERATION_IGNORED_LOCKED,
                             request.fields.operation.c_str());
        return;  // the identifier alone, as for a locked agent
    }
    app.Log().LogMessage(&request.origins, LogError, IDS_OPERATION_KEY_UNKNOWN);
    WritePrivateKeyOpStatus(kStatusKeyNotAvailable, out);
}

}  // namespace

bool HandlePrivateKeyOperation(CAgentApp& app, AgentBuffer& in, AgentBuffer& out) {
    const auto request = DecodePrivateKeyOpRequest(in);
    if (!request) return false;
    const OriginList& origins = request->origins;
    const PrivateKeyOpFields& fields = request->fields;
    EventLog& log = app.Log();
    KeyStore& keys = app.Keys();

    const KeyPair* key = keys.FindByBlob(fields.blob);
    if (key == nullptr) {
        log.LogMessage(&origins, LogError, IDS_OPERATION_KEY_UNKNOWN);
        WritePrivateKeyOpStatus(kStatusKeyNotAvailable, out);
        return true;
    }
    const std::string prompt =
        FormatText(IDS_PROMPT_OPERATION, fields.operation.c_str(), key->Name().c_str());
    if (!UnlockOnDemand(app, prompt, true)) {
        log.LogMessage(&origins, LogError, IDS_OPERATION_IGNORED_LOCKED, fields.operation.c_str());
        return true;  // the identifier alone: the agent stayed locked
    }
    // Requests handled inside the prompt may have deleted the key: look it up again.
    key = keys.FindByBlob(fields.blob);
    if (key == nullptr) {
        log.LogMessage(&origins, LogError, IDS_OPERATION_KEY_UNKNOWN);
        WritePrivateKeyOpStatus(kStatusKeyNotAvailable, out);
        return true;
    }
    const std::string name = key->Name();
    auto blob = keys.ReadPrivateKey(key->Number());
    if (!blob) {
        log.LogMessage(&origins, LogError, IDS_OPERATION_KEY_UNREADABLE, name.c_str());
        WritePrivateKeyOpStatus(kStatusKeyNotAvailable, out);
        return true;
    }
    log.LogMessage(&origins, LogOperation, IDS_PRIVATE_KEY_OPERATION, fields.operation.c_str(),
                   name.c_str());

    const KeyUseGuard guard(keys, *key);
    const OperationContext context{
        app.Settings(), log,
        [&app](const KeyPair* owner, std::string_view op, std::string_view requester) {
            return ConfirmPrivateKeyOperation(app, owner, op, requester);
        },
        &guard};
    const OperationResult result = Perform(*blob, fields.operation, Requester(origins),
                                           keys.HeldPassphrase(), fields.data, context);
    // Whatever the operation did, nothing leaves an agent that locked meanwhile.
    if (const auto verdict = guard.Check(); verdict != KeyUseGuard::Verdict::kGoAhead) {
        RefuseAfterChange(app, *request, verdict, out);
        return true;
    }
    if (!result.ok) {
        WritePrivateKeyOpStatus(kStatusOperationFailed, out);
        log.LogMessage(nullptr, LogContinuation, IDS_SUFFIX_FAILED);
        return true;
    }
    WritePrivateKeyOpResult(result.output, out);
    return true;
}

}  // namespace kv
