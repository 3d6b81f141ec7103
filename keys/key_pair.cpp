#include "keys/key_pair.h"

#include <limits>

#include "keys/key_registry_layout.h"
#include "keys/key_text.h"

namespace kv {

KeyPair KeyPair::ForPublicKeyFile(std::string_view path) {
    KeyPair key;
    key.m_name = Sanitize(KeyBaseName(path));
    key.m_path = std::string(path);
    return key;
}

// Names and comments are kept no longer than the registry gives back at the next start, so
// a key never comes back different from what was listed.
void KeyPair::SetFileName(std::string_view text) {
    m_name = CutToBytes(Sanitize(text), kMaxTextSize - 1);
    m_path = std::string(text);
}

void KeyPair::SetComment(std::string_view text) {
    m_comment = CutToBytes(Sanitize(text), kMaxTextSize - 1);
}

void KeyPair::SetLifetime(std::int32_t seconds, FileTime now) {
    m_expiry = seconds == -1 ? kFileTimeNever : AddSeconds(now, seconds);
}

bool KeyPair::IsExpired(FileTime now) const {
    return m_expiry != kFileTimeNever && now >= m_expiry;
}

std::int32_t KeyPair::SecondsLeft(FileTime now) const {
    if (m_expiry == kFileTimeNever || now >= m_expiry) return 0;
    const FileTime seconds = (m_expiry - now) / kFileTimeUnitsPerSecond;
    if (seconds > static_cast<FileTime>(std::numeric_limits<std::int32_t>::max())) return -1;
    return static_cast<std::int32_t>(seconds);
}

void KeyPair::CopyFrom(const KeyPair& other) {
    if (this == &other) return;
    m_blob = other.m_blob;
    m_comment = other.m_comment;
    m_compat = other.m_compat;
    m_confirm = other.m_confirm;
    m_certificate = other.m_certificate;
    m_expiry = other.m_expiry;
    m_number = other.m_number;
    m_name = Sanitize(other.m_name);
    m_path.clear();
}

bool KeyPair::SetBlobFromPublicKey(const PublicKey& key) {
    ModuleResult<Bytes> exported = key.Export();
    if (!exported.ok()) return false;
    m_blob = std::move(exported.value);
    return true;
}

ModuleResult<PublicKey> KeyPair::ToPublicKey() const { return PublicKey::Import(m_blob); }

bool KeyPair::IsSameKey(const KeyPair& other) const {
    return m_blob == other.m_blob && m_comment == other.m_comment && m_name == other.m_name;
}

}  // namespace kv
