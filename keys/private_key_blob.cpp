#include "keys/private_key_blob.h"

#include "keys/key_pair.h"
#include "keys/key_text.h"

namespace kv {

std::optional<SecureBytes> ProtectPrivateKey(const PrivateKey& key, Passphrase passphrase) {
    if (passphrase.empty()) {
        ModuleResult<SecureBytes> plain = key.ExportPlain();
        if (!plain.ok()) return std::nullopt;
        return std::move(plain.value);
    }
    ModuleResult<Bytes> sealed = key.ExportProtected(passphrase);
    if (!sealed.ok()) return std::nullopt;
    return SecureBytes(sealed.value.begin(), sealed.value.end());
}

PrivateKeyBlob PrivateKeyBlob::ForFile(std::string_view path, const KeyPair* owner) {
    PrivateKeyBlob blob(owner);
    blob.m_file = std::string(path);
    return blob;
}

void PrivateKeyBlob::SetComment(std::string_view text) { m_comment = Sanitize(text); }

ModuleResult<PrivateKey> PrivateKeyBlob::Open(Passphrase passphrase) const {
    return PrivateKey::Import(m_blob, passphrase);
}

ModuleResult<PrivateKey> PrivateKeyBlob::OpenFromKeyFile(Passphrase passphrase) const {
    return PrivateKey::ImportFromKeyFile(m_blob, passphrase);
}

bool PrivateKeyBlob::OpensWithPassphrase(Passphrase passphrase) const {
    return Open(passphrase).ok();
}

bool PrivateKeyBlob::Reprotect(Passphrase old_passphrase, Passphrase new_passphrase) {
    const ModuleResult<PrivateKey> key = Open(old_passphrase);
    if (!key.ok()) return false;
    std::optional<SecureBytes> sealed = ProtectPrivateKey(key.value, new_passphrase);
    if (!sealed) return false;
    m_blob = std::move(*sealed);
    return true;
}

bool PrivateKeyBlob::ProtectGenerated(const PrivateKey& key, Passphrase agent_passphrase) {
    // An empty agent passphrase means a locked agent; it must not store a plain key.
    if (agent_passphrase.empty()) return false;
    std::optional<SecureBytes> sealed = ProtectPrivateKey(key, agent_passphrase);
    if (!sealed) return false;
    m_blob = std::move(*sealed);
    return true;
}

bool PrivateKeyBlob::Matches(const KeyPair& pair, Passphrase passphrase) const {
    const ModuleResult<PrivateKey> key = Open(passphrase);
    if (!key.ok()) return false;
    const ModuleResult<PublicKey> pub = pair.ToPublicKey();
    if (!pub.ok()) return false;
    const ModuleResult<bool> match = key.value.VerifyPair(pub.value);
    return match.ok() && match.value;
}

}  // namespace kv
