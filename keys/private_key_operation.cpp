#include "keys/private_key_operation.h"

#include <algorithm>

#include "app/core/event_log.h"
#include "app/core/settings_table.h"
#include "cryptomodule/hash.h"
#include "keys/key_pair.h"
#include "keys/key_use_guard.h"
#include "keys/operation_name.h"
#include "res/string_ids.h"

namespace kv {

namespace {

// A challenge response needs the 16-byte session id and at least some ciphertext.
constexpr std::size_t kSessionIdSize = 16;
constexpr std::size_t kMinimumChallengeData = 21;
// Only this much of the decrypted challenge enters the response digest.
constexpr std::size_t kChallengeDigestInput = 32;

struct Operation {
    const PrivateKeyBlob& blob;
    std::string_view name;
    std::string_view requester;
    std::span<const std::uint8_t> data;
    const OperationContext& context;
    const PrivateKey& key;
    const ModuleKeyInfo& info;
};

// The access check may run a prompt, inside which the agent may lock or lose the key: the
// guard is asked after it, right before the module computes.
bool Allowed(const Operation& op) {
    if (op.context.access && !op.context.access(op.blob.Owner(), op.name, op.requester))
        return false;
    return op.context.guard == nullptr ||
           op.context.guard->Check() == KeyUseGuard::Verdict::kGoAhead;
}

OperationResult Success(SecureBytes output) { return {true, std::move(output)}; }

OperationResult Decrypt(const Operation& op) {
    if (op.info.type != KVCLM_KEY_RSA) return {};
    ModuleResult<SecureBytes> plain = op.key.Decrypt(op.data);
    if (!plain.ok()) return {};
    return Success(std::move(plain.value));
}

OperationResult Sign(const Operation& op, const ParsedOperation& parsed) {
    const OperationOptions& o = parsed.options;
    if (o.md5 && o.sha1) return {};
    const std::uint32_t capacity = PrivateKey::SignatureCapacity(op.info);
    ModuleResult<Bytes> signature;
    if (op.info.type == KVCLM_KEY_DSS) {
        // The DSS signature always hashes with SHA-1; only pkcs1 cannot be honoured.
        if (o.pkcs1) return {};
        signature = op.key.Sign(KVCLM_SIGN_DSS, {}, op.data, capacity);
    } else if (op.info.type == KVCLM_KEY_RSA) {
        if (o.nist) return {};
        RsaSignOptions options;
        options.hashFirst = parsed.kind == OperationKind::HashAndSign;
        options.md5 = o.md5;
        signature = op.key.Sign(KVCLM_SIGN_RSA_PKCS1, options, op.data, capacity);
    } else if (op.info.type == KVCLM_KEY_ED25519 || op.info.type == KVCLM_KEY_ECDSA) {
        // These keys sign only as SSH does (ECDSA hashes with its curve's hash either way);
        // an option asking for another padding or digest cannot be honoured.
        if (o.pkcs1 || o.md5 || o.sha1) return {};
        signature = op.key.SignSsh(op.data);
    } else {
        return {};
    }
    if (!signature.ok()) return {};
    return Success(SecureBytes(signature.value.begin(), signature.value.end()));
}

// The SSH1 refusals come before any prompt, each with its reason in the log.
bool Ssh1Permitted(const Operation& op) {
    const SettingsTable& settings = op.context.settings;
    EventLog& log = op.context.log;
    if (!settings.GetFlag(IDS_SETTING_ALLOW_SSH1_ACCESS)) {
        log.LogMessage(nullptr, LogContinuation, IDS_SSH1_NOT_ALLOWED);
        return false;
    }
    if (settings.GetFlag(IDS_SETTING_FIPS_MODE)) {
        log.LogMessage(nullptr, LogContinuation, IDS_SSH1_IN_FIPS_MODE);
        return false;
    }
    if (op.blob.Owner() != nullptr && op.blob.Owner()->Compat() == 0) {
        log.LogMessage(nullptr, LogContinuation, IDS_SSH1_KEY_NOT_ALLOWED);
        return false;
    }
    return true;
}

// MD5 over the decrypted challenge (at most 32 bytes of it) and the session id.
OperationResult Ssh1Response(const Operation& op) {
    if (op.data.size() < kMinimumChallengeData) return {};
    if (!Ssh1Permitted(op) || !Allowed(op)) return {};
    const auto session_id = op.data.first(kSessionIdSize);
    ModuleResult<Hash> hash = Hash::Alloc(KVCLM_HASH_MD5);
    if (!hash.ok()) return {};
    {
        const ModuleResult<SecureBytes> challenge = op.key.Decrypt(op.data.subspan(kSessionIdSize));
        if (!challenge.ok()) return {};
        const std::size_t used = std::min(challenge.value.size(), kChallengeDigestInput);
        if (hash.value.Update(std::span(challenge.value).first(used)) != KVCLM_OK) return {};
    }
    if (hash.value.Update(session_id) != KVCLM_OK) return {};
    ModuleResult<Bytes> digest = hash.value.Final();
    if (!digest.ok()) return {};
    return Success(SecureBytes(digest.value.begin(), digest.value.end()));
}

}  // namespace

OperationResult Perform(const PrivateKeyBlob& blob, std::string_view operation,
                        std::string_view requester, Passphrase passphrase,
                        std::span<const std::uint8_t> data, const OperationContext& context) {
    const ModuleResult<PrivateKey> key = blob.Open(passphrase);
    if (!key.ok()) return {};
    const ModuleResult<ModuleKeyInfo> info = key.value.GetInfo();
    if (!info.ok()) return {};
    const Operation op{blob, operation, requester, data, context, key.value, info.value};

    const std::optional<ParsedOperation> parsed = ParseOperationName(operation);
    if (!parsed) return {};
    if (parsed->kind == OperationKind::Ssh1ChallengeResponse) return Ssh1Response(op);
    if (!Allowed(op)) return {};
    if (parsed->kind == OperationKind::Decrypt) return Decrypt(op);
    return Sign(op, *parsed);
}

}  // namespace kv
