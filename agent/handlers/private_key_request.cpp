#include "agent/handlers/private_key_request.h"

#include "agent/agent_buffer.h"
#include "agent/handlers/format_text.h"
#include "agent/handlers/remembered_approval.h"
#include "agent/handlers/unlock_on_demand.h"
#include "agent/payloads.h"
#include "app/agent_app.h"
#include "app/prompt_runner.h"
#include "keys/private_key_operation.h"
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

bool HandlePrivateKeyOperation(CAgentApp& app, AgentBuffer& in, AgentBuffer& out) {
    const auto request = DecodePrivateKeyOpRequest(in);
    if (!request) return false;
    const OriginList& origins = request->origins;
    const PrivateKeyOpFields& fields = request->fields;
    const std::optional<ProcessStamp> local = LocalRequester(app.Peers().Current(), origins);
    EventLog& log = app.Log();
    KeyStore& keys = app.Keys();

    const KeyPair* key = keys.FindByBlob(fields.blob);
    if (key == nullptr) {
        log.LogMessage(&origins, LogError, IDS_OPERATION_KEY_UNKNOWN);
        WritePrivateKeyOpStatus(kStatusKeyNotAvailable, out);
        return true;
    }
    // The key is looked up again after the prompt: requests handled inside it may have
    // deleted it.
    const std::int32_t number = key->Number();
    const std::string name = key->Name();
    const std::string prompt =
        FormatText(IDS_PROMPT_OPERATION, fields.operation.c_str(), name.c_str());
    if (!UnlockOnDemand(app, prompt, true)) {
        log.LogMessage(&origins, LogError, IDS_OPERATION_IGNORED_LOCKED, fields.operation.c_str());
        return true;  // the identifier alone: the agent stayed locked
    }
    auto blob = keys.ReadPrivateKey(number);
    if (!blob) {
        log.LogMessage(&origins, LogError, IDS_OPERATION_KEY_UNREADABLE, name.c_str());
        WritePrivateKeyOpStatus(kStatusKeyNotAvailable, out);
        return true;
    }
    log.LogMessage(&origins, LogOperation, IDS_PRIVATE_KEY_OPERATION, fields.operation.c_str(),
                   name.c_str());

    const OperationContext context{
        app.Settings(), log,
        [&app, &local](const KeyPair* owner, std::string_view op, std::string_view requester) {
            return ConfirmPrivateKeyOperation(app, owner, op, requester, local ? &*local : nullptr);
        }};
    const OperationResult result = Perform(*blob, fields.operation, Requester(origins),
                                           keys.HeldPassphrase(), fields.data, context);
    if (!result.ok) {
        WritePrivateKeyOpStatus(kStatusOperationFailed, out);
        log.LogMessage(nullptr, LogContinuation, IDS_SUFFIX_FAILED);
        return true;
    }
    WritePrivateKeyOpResult(result.output, out);
    return true;
}

}  // namespace kv
