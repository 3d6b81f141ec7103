// One key pair as the agent knows it: the public half (an SSH public key blob), the name and
// comment it is shown under, when it expires and whether SSH1 operations may use it. The
// private half never lives here; it travels in a PrivateKeyBlob.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "cryptomodule/public_key.h"
#include "keys/file_time.h"
#include "platform/secure_memory.h"

namespace kv {

class KeyPair {
  public:
    static constexpr std::int32_t kNotStored = -1;

    KeyPair() = default;

    // Named after a public key file: the base name without ".pub"; the path is kept.
    static KeyPair ForPublicKeyFile(std::string_view path);

    const std::string& Name() const { return m_name; }
    const std::string& Path() const { return m_path; }
    const std::string& Comment() const { return m_comment; }
    const Bytes& Blob() const { return m_blob; }
    std::int32_t Number() const { return m_number; }
    FileTime Expiry() const { return m_expiry; }
    std::uint32_t Compat() const { return m_compat; }
    // Every private-key operation with this key asks the user first (an OpenSSH client added
    // it with the confirm constraint).
    bool RequiresConfirmation() const { return m_confirm; }
    void SetRequiresConfirmation(bool confirm) { m_confirm = confirm; }
    // An OpenSSH certificate of this key ("*-cert-v01@openssh.com" blob), added with it by an
    // OpenSSH client; empty when there is none. The blob above stays the plain public key.
    const Bytes& Certificate() const { return m_certificate; }
    void SetCertificate(std::span<const std::uint8_t> certificate) {
        m_certificate.assign(certificate.begin(), certificate.end());
    }

    void SetNumber(std::int32_t number) { m_number = number; }
    void SetBlob(std::span<const std::uint8_t> blob) { m_blob.assign(blob.begin(), blob.end()); }
    // name = Sanitize(text), path = text.
    void SetFileName(std::string_view text);
    void SetComment(std::string_view text);
    void SetExpiry(FileTime expiry) { m_expiry = expiry; }
    void SetCompat(std::uint32_t compat) { m_compat = compat; }

    // -1: never expires; otherwise expires that many seconds after `now` (negative: already).
    void SetLifetime(std::int32_t seconds, FileTime now);
    bool IsExpired(FileTime now) const;
    // Whole seconds until expiry; 0 when it never expires or has expired, -1 when the count
    // does not fit in 32 bits.
    std::int32_t SecondsLeft(FileTime now) const;

    // Takes over blob, comment, compat, expiry and number; name = Sanitize(other's name);
    // the path is left empty.
    void CopyFrom(const KeyPair& other);

    // Replaces the blob with the SSH public blob of `key`; false (blob unchanged) on failure.
    bool SetBlobFromPublicKey(const PublicKey& key);
    // The module's handle for the blob; not ok() when the blob is not a public key.
    ModuleResult<PublicKey> ToPublicKey() const;

    // The key store's notion of one key: equal blobs, comments and names (case counts).
    bool IsSameKey(const KeyPair& other) const;

  private:
    std::string m_name;
    std::string m_path;
    std::string m_comment;
    Bytes m_blob;
    std::int32_t m_number = kNotStored;
    FileTime m_expiry = kFileTimeNever;
    std::uint32_t m_compat = 1;
    bool m_confirm = false;
    Bytes m_certificate;
};

}  // namespace kv
