#include "agent/openssh/translator.h"

#include <algorithm>
#include <unordered_map>
#include <utility>

#include "agent/deferred_reply.h"
#include "agent/openssh/key_blobs.h"
#include "agent/openssh/messages.h"
#include "res/string_ids.h"
#include "res/string_table.h"

namespace kv {

namespace {

using namespace openssh;

SecureBytes OneByte(uint8_t type) { return SecureBytes{type}; }

std::string BlobKey(std::span<const uint8_t> blob) { return std::string(blob.begin(), blob.end()); }

// Clients of older agents still send these SSH1 requests out of habit (ssh-add -D does);
// they fail without an entry in the log.
bool IsLegacySsh1Request(uint8_t type) {
    return type == 1 || type == 3 || type == 7 || type == 8 || type == 9 || type == 24;
}

std::string Text(unsigned id) { return FormatString(id); }

}  // namespace

SecureBytes FailureReply() { return OneByte(kFailure); }
SecureBytes SuccessReply() { return OneByte(kSuccess); }

OpenSshTranslator::OpenSshTranslator(const RequestDispatcher& dispatcher, OpenSshAgentHost& host,
                                     Options options)
    : m_native(dispatcher),
      m_host(host),
      m_digest(std::move(options.digest)),
      m_throttle(options.unlock_hold_step) {}

SshReply OpenSshTranslator::Handle(std::span<const uint8_t> message, const std::string& origin) {
    Request request{SshReader(message), origin};
    const uint8_t type = request.in.Byte();
    if (!request.in.Ok()) return {FailureReply()};
    if (type == kUnlock) return Unlock(request);
    return {Dispatch(type, request)};
}

SecureBytes OpenSshTranslator::Dispatch(uint8_t type, Request& request) {
    switch (type) {
        case kRequestIdentities:
            return ListIdentities(request);
        case kSignRequest:
            return Sign(request);
        case kAddIdentity:
        case kAddIdConstrained:
            return AddIdentity(request);
        case kRemoveIdentity:
            return RemoveIdentity(request);
        case kRemoveAllIdentities:
            return RemoveAllIdentities(request);
        case kLock:
            return Lock(request);
        case kExtension:
            return Extension(request);
        default:
            return Unknown(type, request);
    }
}

SecureBytes OpenSshTranslator::Refuse(std::string_view what, const std::string& reason,
                                      const Request& request) {
    m_host.LogRefusal(what, reason, request.origin);
    return FailureReply();
}

SecureBytes OpenSshTranslator::ListIdentities(Request& request) {
    const auto list = m_native.List(request.origin);
    if (!list) return FailureReply();
    const auto stored = m_host.StoredKeyNames();
    // Both lists are in key store order, so the names line up; should they not (a key added
    // or deleted in between), the first stored key with the blob names it. The map is made
    // only then: a list of a thousand keys would otherwise pay for them every time.
    std::unordered_map<std::string, const StoredKeyName*> by_blob;
    const auto first_stored_with = [&](const Bytes& blob) -> const StoredKeyName* {
        if (by_blob.empty()) {
            for (const auto& key : stored) by_blob.try_emplace(BlobKey(key.public_blob), &key);
        }
        const auto found = by_blob.find(BlobKey(blob));
        return found != by_blob.end() ? found->second : nullptr;
    };

    SshWriter out;
    std::size_t size = 5;
    for (const auto& key : list->keys) size += 136 + key.blob.size();
    out.Reserve(size);
    out.Byte(kIdentitiesAnswer);
    out.Uint32(0);  // the count, written once known
    uint32_t count = 0;
    std::size_t listed = 0;
    std::size_t answer_size = 5;
    for (std::size_t i = 0; i < list->keys.size(); ++i) {
        const auto& key = list->keys[i];
        if (KeyTypeOfBlob(key.blob) == SshKeyType::kUnsupported) continue;
        std::string comment;
        const Bytes* certificate = nullptr;
        if (i < stored.size() && stored[i].public_blob == key.blob) {
            comment = stored[i].name;
            if (!stored[i].certificate.empty()) certificate = &stored[i].certificate;
        } else if (const StoredKeyName* owner = first_stored_with(key.blob)) {
            comment = owner->name;
            // The first stored key with this blob that carries a certificate.
            if (!owner->certificate.empty()) {
                certificate = &owner->certificate;
            } else {
                for (const auto& other : stored) {
                    if (other.public_blob == key.blob && !other.certificate.empty()) {
                        certificate = &other.certificate;
                        break;
                    }
                }
            }
        }
        const std::string own = key.comment.value_or("");
        if (!own.empty()) comment = comment.empty() ? own : comment + ": " + own;
        // ssh and ssh-add refuse a longer list whole, so the keys past it are left out.
        const uint32_t entries = certificate != nullptr ? 2 : 1;
        const std::size_t entry_size =
            8 + key.blob.size() + comment.size() +
            (certificate != nullptr ? 8 + certificate->size() + comment.size() : 0);
        if (count + entries > kMaxListedIdentities || answer_size + entry_size > kMaxMessage) {
            m_host.LogRefusal("to list keys past the first " + std::to_string(listed),
                              "ssh and ssh-add refuse a list of more than " +
                                  std::to_string(kMaxListedIdentities) + " keys or 256 KiB whole",
                              request.origin);
            break;
        }
        answer_size += entry_size;
        ++listed;
        out.String(key.blob);
        out.String(comment);
        ++count;
        if (certificate != nullptr) {
            out.String(*certificate);
            out.String(comment);
            ++count;
        }
    }
    out.PatchUint32(1, count);
    return out.Release();
}

std::optional<Bytes> OpenSshTranslator::StoredBlobFor(std::span<const uint8_t> blob) {
    if (!IsCertificateBlob(blob)) return Bytes(blob.begin(), blob.end());
    for (auto& key : m_host.StoredKeyNames()) {
        if (std::ranges::equal(key.certificate, blob)) return std::move(key.public_blob);
    }
    return std::nullopt;
}

SecureBytes OpenSshTranslator::Sign(Request& request) {
    const auto requested = request.in.String();
    const auto data = request.in.String();
    const uint32_t flags = request.in.Uint32();
    if (!request.in.Ok())
        return Refuse("SIGN_REQUEST", Text(IDS_OPENSSH_MALFORMED_REQUEST), request);
    const auto stored = StoredBlobFor(requested);
    if (!stored) return Refuse("SIGN_REQUEST", Text(IDS_OPENSSH_NO_SUCH_CERTIFICATE), request);
    const Bytes& blob = *stored;
    const SshKeyType type = KeyTypeOfBlob(blob);
    if (type == SshKeyType::kUnsupported)
        return Refuse("SIGN_REQUEST", Text(IDS_OPENSSH_KEY_TYPE_UNSUPPORTED), request);
    const auto plan = PlanSignature(type, data, flags, m_digest);
    if (!plan) return Refuse("SIGN_REQUEST", Text(IDS_OPENSSH_NOTHING_TO_SIGN), request);

    DeferredReply* const earlier = DeferralScope::Deferred();
    const auto reply = m_native.PrivateKeyOp(request.origin, plan->operation, blob, plan->data);
    if (DeferredReply* later = DeferralScope::Deferred(); later != nullptr && later != earlier) {
        later->Then([this, plan = std::move(*plan), origin = request.origin](SecureBytes payload) {
            if (payload.empty()) return FailureReply();
            return SignResponse(plan, ParsePrivateKeyOpReply(payload), origin);
        });
        return {};
    }
    return SignResponse(*plan, reply, request.origin);
}

SecureBytes OpenSshTranslator::SignResponse(const SignPlan& plan,
                                            const std::optional<PrivateKeyOpReply>& reply,
                                            const std::string& origin) {
    // Unknown key, locked agent, declined prompt, failed operation: the native handler has
    // logged it, and the client only learns that it failed.
    if (!reply || reply->status != kStatusDone || !reply->result) return FailureReply();
    const auto signature = SignatureBlob(plan, *reply->result);
    if (!signature) {
        m_host.LogRefusal("SIGN_REQUEST", Text(IDS_OPENSSH_MALFORMED_SIGNATURE), origin);
        return FailureReply();
    }
    SshWriter out;
    out.Byte(kSignResponse);
    out.String(*signature);
    return out.Release();
}

SecureBytes OpenSshTranslator::RemoveIdentity(Request& request) {
    const auto requested = request.in.String();
    if (!request.in.Ok())
        return Refuse("REMOVE_IDENTITY", Text(IDS_OPENSSH_MALFORMED_REQUEST), request);
    // ssh-add -d removes a key, then its certificate: gone with the key, the certificate's
    // removal by the same client right after succeeds too.
    const RemovedCertificates removed = std::exchange(m_removed, {});
    // A certificate and its key are one stored key: removing either removes both.
    const auto stored = StoredBlobFor(requested);
    if (!stored) {
        if (removed.origin == request.origin &&
            std::ranges::any_of(removed.certificates,
                                [&](const Bytes& c) { return std::ranges::equal(c, requested); }))
            return SuccessReply();
        return Refuse("REMOVE_IDENTITY", Text(IDS_OPENSSH_NO_SUCH_CERTIFICATE), request);
    }
    const Bytes& blob = *stored;
    // The native delete names the key. A blob stored under several names is one identity to
    // the client, so each name is deleted in store order, stopping at the first refusal.
    std::vector<std::string> names;
    RemovedCertificates removing{request.origin, {}};
    for (auto& key : m_host.StoredKeyNames()) {
        if (!std::ranges::equal(key.public_blob, blob)) continue;
        if (!key.certificate.empty()) removing.certificates.push_back(std::move(key.certificate));
        if (!key.name.empty() && std::ranges::find(names, key.name) == names.end())
            names.push_back(std::move(key.name));
    }
    if (names.empty()) return Refuse("REMOVE_IDENTITY", Text(IDS_OPENSSH_NO_SUCH_KEY), request);
    for (const auto& name : names)
        if (m_native.Delete(request.origin, blob, name) != kStatusDone) return FailureReply();
    m_removed = std::move(removing);
    return SuccessReply();
}

SecureBytes OpenSshTranslator::RemoveAllIdentities(Request& request) {
    const auto status = m_native.DeleteAll(request.origin);
    return status == kStatusDone ? SuccessReply() : FailureReply();
}

SecureBytes OpenSshTranslator::Extension(Request& request) {
    const auto raw = request.in.String();
    if (!request.in.Ok()) return Refuse("EXTENSION", Text(IDS_OPENSSH_MALFORMED_REQUEST), request);
    const std::string name(raw.begin(), raw.end());
    if (name == "query") {
        SshWriter out;
        out.Byte(kExtensionResponse);
        out.String(name);
        out.String(name);  // the supported extensions: only this one
        return out.Release();
    }
    // ssh sends this at every connection and carries on without it; logging it would
    // flood the log.
    if (name == "session-bind@openssh.com") return FailureReply();
    return Refuse("EXTENSION",
                  FormatString(IDS_OPENSSH_EXTENSION_UNSUPPORTED, PrintableText(raw).c_str()),
                  request);
}

SecureBytes OpenSshTranslator::Unknown(uint8_t type, Request& request) {
    if (IsLegacySsh1Request(type)) return FailureReply();
    return Refuse("request", FormatString(IDS_OPENSSH_TYPE_UNSUPPORTED, int{type}), request);
}

}  // namespace kv
