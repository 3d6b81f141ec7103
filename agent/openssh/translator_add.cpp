// ADD_IDENTITY and ADD_ID_CONSTRAINED: the key becomes the module's plain container and goes
// through the native add handler; the constraints are applied around it.
#include <algorithm>
#include <limits>

#include "agent/openssh/added_key.h"
#include "agent/openssh/certificate.h"
#include "agent/openssh/messages.h"
#include "agent/openssh/translator.h"
#include "res/string_ids.h"
#include "res/string_table.h"

namespace kv {

namespace {

using namespace openssh;

// The name the native add gives a key that comes without one. Always sending it in front
// keeps a client's comment whole even when it holds ": " itself.
constexpr std::string_view kAddedKeyName = "KeyFromAgent";

struct Constraints {
    int32_t lifetime = -1;  // seconds; -1 for none
    bool confirm = false;
};

// Reads the constraints after the comment. On failure `refusal` says why.
bool ReadConstraints(SshReader& in, Constraints& out, std::string& refusal) {
    bool has_lifetime = false;
    while (in.Ok() && !in.AtEnd()) {
        const uint8_t kind = in.Byte();
        if (kind == kConstrainLifetime && !has_lifetime) {
            const uint32_t seconds = in.Uint32();
            out.lifetime = static_cast<int32_t>(
                std::min<uint32_t>(seconds, std::numeric_limits<int32_t>::max()));
            has_lifetime = true;
        } else if (kind == kConstrainConfirm && !out.confirm) {
            out.confirm = true;
        } else if (kind == kConstrainExtension) {
            const auto name = in.String();
            refusal = FormatString(IDS_OPENSSH_CONSTRAINT_UNSUPPORTED, PrintableText(name).c_str());
            return false;
        } else {
            refusal = kind == kConstrainMaxSign
                          ? FormatString(IDS_OPENSSH_CONSTRAINT_UNSUPPORTED, "maxsign")
                      : kind == kConstrainLifetime || kind == kConstrainConfirm
                          ? FormatString(IDS_OPENSSH_CONSTRAINT_TWICE, int{kind})
                          : FormatString(IDS_OPENSSH_CONSTRAINT_UNKNOWN, int{kind});
            return false;
        }
    }
    if (!in.Ok()) refusal = FormatString(IDS_OPENSSH_MALFORMED_CONSTRAINTS);
    return in.Ok();
}

}  // namespace

SecureBytes OpenSshTranslator::AddIdentity(Request& request) {
    AddedKey key;
    std::string refusal;
    Constraints constraints;
    if (!ReadAddedKey(request.in, key, refusal) ||
        !ReadConstraints(request.in, constraints, refusal)) {
        return Refuse("ADD_IDENTITY", refusal, request);
    }
    // Well formed but not a supported blob: an RSA modulus OpenSSH refuses, as ssh-agent does.
    if (KeyTypeOfBlob(key.public_blob) == SshKeyType::kUnsupported) {
        return Refuse("ADD_IDENTITY",
                      FormatString(IDS_OPENSSH_RSA_TOO_SHORT, static_cast<int>(kMinRsaModulusBits)),
                      request);
    }
    // Checked before the key is stored: a refused add must leave nothing behind.
    if (!key.certificate.empty() && !CertificateIsSound(key.certificate))
        return Refuse("ADD_IDENTITY", FormatString(IDS_OPENSSH_CERTIFICATE_INVALID), request);
    AgentKeyEntry entry;
    entry.type = kKeyEntryType;
    entry.blob = key.public_blob;
    entry.comment = std::string(kAddedKeyName) + ": " + key.comment;
    entry.lifetime = constraints.lifetime;
    entry.flags = 0;  // not an SSH1 key
    const bool announced = constraints.confirm || !key.certificate.empty();
    if (announced) m_host.ExpectAdd(key.public_blob, constraints.confirm, key.certificate);
    const auto status = m_native.Add(request.origin, entry, key.container);
    if (announced) m_host.ExpectAdd({}, false, {});
    if (status != kStatusDone) return FailureReply();  // refused or failed: the handler logged it
    // The key just stored has its mark and certificate already; these give them to every
    // other stored key with the same public key.
    if (constraints.lifetime >= 0 && !m_host.SetLifetime(key.public_blob, constraints.lifetime))
        return Refuse("ADD_IDENTITY", FormatString(IDS_OPENSSH_LIFETIME_NOT_STORED), request);
    if (constraints.confirm && !m_host.RequireConfirmation(key.public_blob))
        return Refuse("ADD_IDENTITY", FormatString(IDS_OPENSSH_CONFIRM_NOT_STORED), request);
    if (!key.certificate.empty() && !m_host.AttachCertificate(key.public_blob, key.certificate))
        return Refuse("ADD_IDENTITY", FormatString(IDS_OPENSSH_CERTIFICATE_NOT_STORED), request);
    return SuccessReply();
}

}  // namespace kv
