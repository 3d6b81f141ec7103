#include "keys/private_key_operation.h"

#include <algorithm>

#include "core/event_log.h"
#include "core/settings_table.h"
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

}  // namespace

OperationResult PreparedOperation::Decrypt() const {
    if (m_info.type != KVCLM_KEY_RSA) return {};
    ModuleResult<SecureBytes> plain = m_key.Decrypt(m_data);
    if (!plain.ok()) return {};
    return Success(std::move(plain.value));
}

OperationResult PreparedOperation::Sign() const {
    const OperationOptions& o = m_parsed.options;
    if (o.md5 && o.sha1) return {};
    const std::uint32_t capacity = PrivateKey::SignatureCapacity(m_info);
    ModuleResult<Bytes> signature;
    if (m_info.type == KVCLM_KEY_DSS) {
        // The DSS signature always hashes with SHA-1; only pkcs1 cannot be honoured.
        if (o.pkcs1) return {};
        signature = m_key.Sign(KVCLM_SIGN_DSS, {}, m_data, capacity);
    } else if (m_info.type == KVCLM_KEY_RSA) {
        if (o.nist) return {};
        RsaSignOptions options;
        options.hashFirst = m_parsed.kind == OperationKind::HashAndSign;
        options.md5 = o.md5;
        signature = m_key.Sign(KVCLM_SIGN_RSA_PKCS1, options, m_data, capacity);
    } else if (m_info.type == KVCLM_KEY_ED25519 || m_info.type == KVCLM_KEY_ECDSA) {
        // These keys sign only as SSH does (ECDSA hashes with its curve's hash either way);
        // an option asking for another padding or digest cannot be honoured.
        if (o.pkcs1 || o.md5 || o.sha1) return {};
        signature = m_key.SignSsh(m_data);
    } else {
        return {};
    }
    if (!signature.ok()) return {};
    return Success(SecureBytes(signature.value.begin(), signature.value.end()));
}

// MD5 over the decrypted challenge (at most 32 bytes of it) and the session id.
OperationResult PreparedOperation::Ssh1Response() const {
    const auto data = std::span<const std::uint8_t>(m_data);
    const auto session_id = data.first(kSessionIdSize);
    ModuleResult<Hash> hash = Hash::Alloc(KVCLM_HASH_MD5);
    if (!hash.ok()) return {};
    {
        const ModuleResult<SecureBytes> challenge = m_key.Decrypt(data.subspan(kSessionIdSize));
        if (!challenge.ok()) return {};
        const std::size_t used = std::min(challenge.value.size(), kChallengeDigestInput);
        if (hash.value.Update(std::span(challenge.value).first(used)) != KVCLM_OK) return {};
    }
    if (hash.value.Update(session_id) != KVCLM_OK) return {};
    ModuleResult<Bytes> digest = hash.value.Final();
    if (!digest.ok()) return {};
    return Success(SecureBytes(digest.value.begin(), digest.value.end()));
}

OperationResult PreparedOperation::Compute() const {
    switch (m_parsed.kind) {
        case OperationKind::Ssh1ChallengeResponse:
            return Ssh1Response();
        case OperationKind::Decrypt:
            return Decrypt();
        case OperationKind::Sign:
        case OperationKind::HashAndSign:
            return Sign();
    }
    return {};
}

std::optional<PreparedOperation> Prepare(const PrivateKeyBlob& blob, std::string_view operation,
                                         std::string_view requester, Passphrase passphrase,
                                         std::span<const std::uint8_t> data,
                                         const OperationContext& context) {
    ModuleResult<PrivateKey> key = blob.Open(passphrase);
    if (!key.ok()) return std::nullopt;
    const ModuleResult<ModuleKeyInfo> info = key.value.GetInfo();
    if (!info.ok()) return std::nullopt;
    const Operation op{blob, operation, requester, data, context};

    const std::optional<ParsedOperation> parsed = ParseOperationName(operation);
    if (!parsed) return std::nullopt;
    if (parsed->kind == OperationKind::Ssh1ChallengeResponse) {
        if (data.size() < kMinimumChallengeData) return std::nullopt;
        if (!Ssh1Permitted(op)) return std::nullopt;
    }
    if (!Allowed(op)) return std::nullopt;
    PreparedOperation prepared;
    prepared.m_key = std::move(key.value);
    prepared.m_info = info.value;
    prepared.m_parsed = *parsed;
    prepared.m_data.assign(data.begin(), data.end());
    return prepared;
}

OperationResult Perform(const PrivateKeyBlob& blob, std::string_view operation,
                        std::string_view requester, Passphrase passphrase,
                        std::span<const std::uint8_t> data, const OperationContext& context) {
    const auto prepared = Prepare(blob, operation, requester, passphrase, data, context);
    if (!prepared) return {};
    return prepared->Compute();
}

}  // namespace kv
