// Helpers for the module's tests: owning handles, the two-call pattern, an independent reader
// of SSH public blobs for verifying with OpenSSL, and the text armor other SSH2 tools use.
#pragma once

#include <openssl/evp.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "kvclm/kvclm.h"

namespace kvtest {

using Bytes = std::vector<std::uint8_t>;

inline Bytes ToBytes(std::string_view s) { return Bytes(s.begin(), s.end()); }

// SSH wire numbers and strings, for blobs and files built by hand.
inline void PutU32(Bytes* b, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8)
        b->push_back(static_cast<std::uint8_t>(v >> shift));
}
inline void PutString(Bytes* b, const Bytes& s) {
    PutU32(b, static_cast<std::uint32_t>(s.size()));
    b->insert(b->end(), s.begin(), s.end());
}
inline std::uint32_t GetU32(const Bytes& b, std::size_t at) {
    return (std::uint32_t{b[at]} << 24) | (std::uint32_t{b[at + 1]} << 16) |
           (std::uint32_t{b[at + 2]} << 8) | b[at + 3];
}

struct PrivateKeyFree {
    void operator()(kvclm_private_key* k) const { kvclm_PrivateKeyFree(k, 0); }
};
struct PublicKeyFree {
    void operator()(kvclm_public_key* k) const { kvclm_PublicKeyFree(k, 0); }
};
struct PkeyFree {
    void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
using PrivateKey = std::unique_ptr<kvclm_private_key, PrivateKeyFree>;
using PublicKey = std::unique_ptr<kvclm_public_key, PublicKeyFree>;
using Pkey = std::unique_ptr<EVP_PKEY, PkeyFree>;

// Generation without progress reporting; fails the test on error.
PrivateKey Generate(int type, std::uint32_t bits);
// One generated key per type and size for the whole run (generation is the slow part).
KVCLM_PRIVATE_KEY SharedKey(int type, std::uint32_t bits);

int ExportPlain(KVCLM_PRIVATE_KEY key, Bytes* out);
int ExportProtected(KVCLM_PRIVATE_KEY key, std::string_view pass, Bytes* out,
                    std::uint32_t iterations = 10000);
// An empty passphrase imports without one.
int Import(std::string_view pass, const Bytes& blob, PrivateKey* out);
Bytes PublicBlob(KVCLM_PRIVATE_KEY key);
KeyInfo InfoOf(KVCLM_PRIVATE_KEY key);

// An Ed25519 or ECDSA key from the module; fails the test on error.
PrivateKey GenerateCurve(int type, std::uint32_t bits);

// Signs with the module; returns the signature or an empty vector.
Bytes SignDss(KVCLM_PRIVATE_KEY key, const Bytes& data);
// An Ed25519 or ECDSA key's signature as SSH carries it (kvclm_PrivateKeySignSsh).
Bytes SignSsh(KVCLM_PRIVATE_KEY key, const Bytes& data);
Bytes SignRsa(KVCLM_PRIVATE_KEY key, const Bytes& data, bool hashFirst, bool md5);

// OpenSSL's view of a public blob, parsed here without the module.
Pkey OpenSslPublic(const Bytes& blob);
bool VerifyDss(const Bytes& blob, const Bytes& data, const Bytes& rs);
bool VerifyRsa(const Bytes& blob, const Bytes& data, const Bytes& sig, const EVP_MD* md);
Bytes RsaEncrypt(const Bytes& blob, const Bytes& plain);

Bytes Unhex(std::string_view hex);
std::string Base64(const Bytes& data, int width = 60);
Bytes Unbase64(std::string_view text);

// "---- BEGIN SSH2 ENCRYPTED PRIVATE KEY ----" file around a container, Base64 width 60.
std::string ArmorPrivate(const Bytes& blob, std::string_view comment);
// The Base64 body of an RFC 4716 style file (headers and continuations skipped), decoded.
Bytes ReadArmoredFile(const std::string& path);
// "ssh-rsa AAAA... comment" to the blob.
Bytes BlobOfOpenSshLine(const std::string& line);

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, std::string_view text);

// A fresh directory removed at the end of the test.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    const std::string& Path() const { return m_path; }
    std::string File(std::string_view name) const { return m_path + "/" + std::string(name); }

  private:
    std::string m_path;
};

// Runs a shell command; returns its exit status and (if asked) its standard output.
int RunCommand(const std::string& command, std::string* output = nullptr);

}  // namespace kvtest
