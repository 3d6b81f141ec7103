// Private key files as OpenSSH's tools read and write them. The plain OpenSSH format is read
// and written here; the encrypted one (bcrypt-pbkdf) is left to libssh; PEM forms (PKCS#1,
// PKCS#8, SEC1, encrypted or not) are read by OpenSSL's decoders, encrypted PKCS#8 after its
// derivation cost is checked (encrypted_pkcs8). Every key that comes in is checked as a key
// from a container would be, and its primes besides.
#include <libssh/libssh.h>
#include <openssl/bio.h>
#include <openssl/core_names.h>
#include <openssl/pem.h>

#include <cstring>

#include "kvclm/curve_keys.h"
#include "kvclm/encrypted_pkcs8.h"
#include "kvclm/key_numbers.h"
#include "kvclm/openssh_key_v1.h"
#include "kvclm/private_key.h"
#include "kvclm/public_key.h"

namespace kvclm {
namespace {

constexpr std::string_view kEncryptedPkcs8Label = "ENCRYPTED PRIVATE KEY";

struct Passphrase {
    const std::uint8_t* data = nullptr;
    std::size_t length = 0;
};

struct BioFree {
    void operator()(BIO* p) const noexcept { BIO_free(p); }
};
struct SshKeyFree {
    void operator()(ssh_key_struct* p) const noexcept { ssh_key_free(p); }
};
using SshKeyPtr = std::unique_ptr<ssh_key_struct, SshKeyFree>;

// libssh's texts hold key material: wiped before they are freed.
struct SshText {
    char* text = nullptr;
    ~SshText() {
        if (text != nullptr) {
            OPENSSL_cleanse(text, std::strlen(text));
            ssh_string_free_char(text);
        }
    }
};

// A C string for libssh; a passphrase holding a NUL cannot be given to it.
bool CString(const std::uint8_t* data, std::size_t n, SecureBytes* out) {
    if (std::memchr(data, 0, n) != nullptr) return false;
    out->assign(data, data + n);
    out->push_back(0);
    return true;
}

const char* AsChars(const SecureBytes& bytes) {
    return reinterpret_cast<const char*>(bytes.data());
}

int PemPassword(char* buf, int size, int /*rwflag*/, void* context) {
    const auto* pass = static_cast<const Passphrase*>(context);
    if (pass->length == 0 || pass->length > static_cast<std::size_t>(size)) return -1;
    std::memcpy(buf, pass->data, pass->length);
    return static_cast<int>(pass->length);
}

// Rebuilds a key read by OpenSSL through the module's own checks and forms.
int Normalise(EVP_PKEY* in, PkeyPtr* out) {
    const int type = KeyTypeOf(in);
    if (type == KVCLM_KEY_RSA) {
        RsaNumbers k;
        const int rc = GetRsaNumbers(in, &k, true);
        return rc != KVCLM_OK ? rc : BuildRsaPrivate(k, out);
    }
    if (type == KVCLM_KEY_DSS) {
        DsaNumbers k;
        const int rc = GetDsaNumbers(in, &k, true);
        return rc != KVCLM_OK ? rc : BuildDsaPrivate(k, out);
    }
    const CurveKind* curve = CurveKindOf(in);
    if (curve == nullptr) return KVCLM_E_UNSUPPORTED;
    // A PEM file may hold the public point compressed (OpenSSL writes it so on request, and
    // ssh-keygen reads it); SSH carries it uncompressed, which is what the fields are made of.
    if (curve->type == KVCLM_KEY_ECDSA &&
        EVP_PKEY_set_utf8_string_param(in, OSSL_PKEY_PARAM_EC_POINT_CONVERSION_FORMAT,
                                       OSSL_PKEY_EC_POINT_CONVERSION_FORMAT_UNCOMPRESSED) != 1)
        return KVCLM_E_BAD_KEY;
    SecureBytes fields;
    const int rc = WriteCurvePrivate(*curve, in, &fields);
    if (rc != KVCLM_OK) return rc;
    Reader r(fields.data(), fields.size());
    return ReadCurvePrivate(*curve, r, out);
}

// PKCS#1, SEC1 and DSA PEM encrypted the traditional way (encrypted PKCS#8 is read apart).
bool PemEncrypted(const PemArmor& armor) {
    return armor.body.find("Proc-Type: 4,ENCRYPTED") != std::string_view::npos;
}

int ReadPem(const PemArmor& armor, const Passphrase& pass, PkeyPtr* key) {
    if (armor.label.find("PRIVATE KEY") == std::string_view::npos) return KVCLM_E_BAD_FORMAT;
    if (armor.label == kEncryptedPkcs8Label) {
        PkeyPtr read;
        const int rc = ReadEncryptedPkcs8(armor.armored, pass.data, pass.length, &read);
        return rc != KVCLM_OK ? rc : Normalise(read.get(), key);
    }
    const bool encrypted = PemEncrypted(armor);
    if (encrypted && pass.length == 0) return KVCLM_E_NEED_PASSPHRASE;
    std::unique_ptr<BIO, BioFree> bio(
        BIO_new_mem_buf(armor.armored.data(), static_cast<int>(armor.armored.size())));
    if (!bio) throw std::bad_alloc();
    Passphrase given = pass;
    PkeyPtr read(PEM_read_bio_PrivateKey(bio.get(), nullptr, PemPassword, &given));
    if (!read) return encrypted ? KVCLM_E_BAD_PASSPHRASE : KVCLM_E_BAD_FORMAT;
    return Normalise(read.get(), key);
}

int ReadOpenSsh(const PemArmor& armor, const Passphrase& pass, PkeyPtr* key, std::string* comment);

// libssh opens the encrypted file; its plain export is read back by the readers here.
int DecryptOpenSsh(const OpenSshKeyFile& file, const Passphrase& pass, PkeyPtr* key) {
    if (file.kdf != "bcrypt") return KVCLM_E_UNSUPPORTED;
    const std::uint32_t rounds = BcryptRounds(file);
    if (rounds == 0) return KVCLM_E_BAD_FORMAT;
    if (rounds > kMaxBcryptRounds) return KVCLM_E_UNSUPPORTED;
    int type = -1;
    std::uint32_t bits = 0;
    const int rc = ParsePublicBlob(file.publicBlob, file.publicBlobLength, &type, &bits);
    if (rc != KVCLM_OK) return rc;  // an unsupported key needs no passphrase to be refused
    if (pass.length == 0) return KVCLM_E_NEED_PASSPHRASE;
    SecureBytes input, password;
    if (RewrapOpenSshKeyFile(file, &input) != KVCLM_OK) return KVCLM_E_CRYPTO;
    input.push_back(0);
    if (!CString(pass.data, pass.length, &password)) return KVCLM_E_BAD_PASSPHRASE;
    ssh_key raw = nullptr;
    if (ssh_pki_import_privkey_base64(AsChars(input), AsChars(password), nullptr, nullptr, &raw) !=
        SSH_OK)
        return KVCLM_E_BAD_PASSPHRASE;
    SshKeyPtr opened(raw);
    SshText plain;
#if defined(LIBSSH_VERSION_INT) && LIBSSH_VERSION_INT >= SSH_VERSION_INT(0, 11, 0)
    const int exported = ssh_pki_export_privkey_base64_format(
        opened.get(), nullptr, nullptr, nullptr, &plain.text, SSH_FILE_FORMAT_OPENSSH);
#else
    const int exported =
        ssh_pki_export_privkey_base64(opened.get(), nullptr, nullptr, nullptr, &plain.text);
#endif
    // libssh 0.10 builds RSA keys from this format without their CRT exponents, and OpenSSL
    // then refuses to write them out: the key opened, but cannot be handed over.
    if (exported != SSH_OK || plain.text == nullptr)
        return type == KVCLM_KEY_RSA ? KVCLM_E_FORM_UNAVAILABLE : KVCLM_E_CRYPTO;
    const std::string_view plainText(plain.text);
    PemArmor plainArmor;
    if (!FindPemArmor(plainText, &plainArmor)) return KVCLM_E_CRYPTO;
    std::string ignored;
    const int opened_rc = IsOpenSshLabel(plainArmor.label)
                              ? ReadOpenSsh(plainArmor, {}, key, &ignored)
                              : ReadPem(plainArmor, {}, key);
    if (opened_rc != KVCLM_OK) return opened_rc;
    Bytes derived;
    if (PublicBlobOf(key->get(), &derived) != KVCLM_OK || derived.size() != file.publicBlobLength ||
        std::memcmp(derived.data(), file.publicBlob, derived.size()) != 0)
        return KVCLM_E_BAD_FORMAT;
    return KVCLM_OK;
}

int ReadOpenSsh(const PemArmor& armor, const Passphrase& pass, PkeyPtr* key, std::string* comment) {
    OpenSshKeyFile file;
    const int rc = ParseOpenSshKeyFile(armor.body, &file);
    if (rc != KVCLM_OK) return rc;
    if (!file.Encrypted()) return ReadPlainSection(file, key, comment);
    comment->clear();  // inside the encrypted part, which libssh does not hand out
    return DecryptOpenSsh(file, pass, key);
}

int ReadKeyFile(const std::uint8_t* data, std::size_t n, const Passphrase& pass, PkeyPtr* key,
                std::string* comment) {
    if (n > kMaxKeyFileText) return KVCLM_E_BAD_FORMAT;
    const std::string_view text(reinterpret_cast<const char*>(data), n);
    PemArmor armor;
    if (!FindPemArmor(text, &armor)) return KVCLM_E_BAD_FORMAT;
    if (IsOpenSshLabel(armor.label)) return ReadOpenSsh(armor, pass, key, comment);
    comment->clear();
    return ReadPem(armor, pass, key);
}

// PKCS#8 PEM without encryption, as OpenSSL writes it (CRT exponents included).
int PlainPem(const EVP_PKEY* key, SecureBytes* text) {
    std::unique_ptr<BIO, BioFree> bio(BIO_new(BIO_s_secmem()));
    if (!bio) throw std::bad_alloc();
    if (PEM_write_bio_PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr) != 1)
        return KVCLM_E_CRYPTO;
    char* data = nullptr;
    const long n = BIO_get_mem_data(bio.get(), &data);
    if (n <= 0 || data == nullptr) return KVCLM_E_CRYPTO;
    text->assign(data, data + n);
    return KVCLM_OK;
}

// The OpenSSH format encrypted by libssh (see EncryptKeyFile for the key types). libssh reads
// Ed25519 keys best from that format and the others from PEM (from the OpenSSH format 0.10
// loses the RSA CRT exponents).
int EncryptWithLibssh(const EVP_PKEY* key, const SecureBytes& plainText, const Passphrase& pass,
                      SecureBytes* out) {
    SecureBytes input, password;
    if (EVP_PKEY_is_a(key, "ED25519")) {
        input = plainText;
    } else if (const int rc = PlainPem(key, &input); rc != KVCLM_OK) {
        return rc;
    }
    input.push_back(0);
    if (!CString(pass.data, pass.length, &password)) return KVCLM_E_BAD_PARAM;
    ssh_key raw = nullptr;
    if (ssh_pki_import_privkey_base64(AsChars(input), nullptr, nullptr, nullptr, &raw) != SSH_OK)
        return KVCLM_E_CRYPTO;
    SshKeyPtr opened(raw);
    SshText text;
#if defined(LIBSSH_VERSION_INT) && LIBSSH_VERSION_INT >= SSH_VERSION_INT(0, 11, 0)
    const int rc = ssh_pki_export_privkey_base64_format(
        opened.get(), AsChars(password), nullptr, nullptr, &text.text, SSH_FILE_FORMAT_OPENSSH);
#else
    const int rc = ssh_pki_export_privkey_base64(opened.get(), AsChars(password), nullptr, nullptr,
                                                 &text.text);
#endif
    if (rc != SSH_OK || text.text == nullptr) return KVCLM_E_CRYPTO;
    const std::string_view written(text.text);
    PemArmor armor;
    if (!FindPemArmor(written, &armor)) return KVCLM_E_CRYPTO;
    if (!IsOpenSshLabel(armor.label)) {
        out->assign(armor.armored.begin(), armor.armored.end());
        out->push_back('\n');
        return KVCLM_OK;
    }
    SecureBytes line;
    for (const char c : armor.body)
        if (c != '\n' && c != '\r') line.push_back(static_cast<std::uint8_t>(c));
    return WrapOpenSshKeyFile({reinterpret_cast<const char*>(line.data()), line.size()}, out);
}

// The encrypted form: the OpenSSH format for every key type where libssh writes it (0.11 on),
// else for Ed25519 only. The others are then encrypted PKCS#8, written here: libssh 0.10 would
// use 2048 PBKDF2 iterations and AES-128, far below the module's own containers.
int EncryptKeyFile(const EVP_PKEY* key, const SecureBytes& plainText, const Passphrase& pass,
                   SecureBytes* out) {
#if !defined(LIBSSH_VERSION_INT) || LIBSSH_VERSION_INT < SSH_VERSION_INT(0, 11, 0)
    if (!EVP_PKEY_is_a(key, "ED25519")) {
        // As with libssh: a passphrase holding a NUL could not be typed to open the file.
        if (std::memchr(pass.data, 0, pass.length) != nullptr) return KVCLM_E_BAD_PARAM;
        return WriteEncryptedPkcs8(key, pass.data, pass.length, out);
    }
#endif
    return EncryptWithLibssh(key, plainText, pass, out);
}

int CheckPassphrase(const unsigned char* passphrase, uint32_t length, int kind, Passphrase* out) {
    if (kind == KVCLM_PASSPHRASE_NONE) return KVCLM_OK;
    if (kind != KVCLM_PASSPHRASE_TEXT || !ValidInput(passphrase, length)) return KVCLM_E_BAD_PARAM;
    *out = {passphrase, length};
    return KVCLM_OK;
}

}  // namespace
}  // namespace kvclm

using namespace kvclm;

extern "C" int kvclm_PrivateKeyImportFile(KVCLM_PRIVATE_KEY* key, const unsigned char* passphrase,
                                          uint32_t passphraseLength, int passphraseKind,
                                          const unsigned char* text, uint32_t textLength,
                                          int reserved) {
    return Guarded(reserved, true, [&] {
        if (key == nullptr || !ValidInput(text, textLength)) return KVCLM_E_BAD_PARAM;
        Passphrase pass;
        int rc = CheckPassphrase(passphrase, passphraseLength, passphraseKind, &pass);
        if (rc != KVCLM_OK) return rc;
        PkeyPtr pkey;
        std::string comment;
        rc = ReadKeyFile(text, textLength, pass, &pkey, &comment);
        if (rc != KVCLM_OK) return rc;
        rc = CheckPrimes(pkey.get());
        if (rc != KVCLM_OK) return rc;
        return NewPrivateHandle(std::move(pkey), key);
    });
}

extern "C" int kvclm_PrivateKeyFileComment(const unsigned char* text, uint32_t textLength,
                                           unsigned char* out, uint32_t* outLength, int reserved) {
    return Guarded(reserved, true, [&] {
        if (outLength == nullptr || !ValidInput(text, textLength)) return KVCLM_E_BAD_PARAM;
        PkeyPtr pkey;
        std::string comment;
        const int rc = ReadKeyFile(text, textLength, {}, &pkey, &comment);
        if (rc != KVCLM_OK && rc != KVCLM_E_NEED_PASSPHRASE) return rc;
        return CopyOut(reinterpret_cast<const std::uint8_t*>(comment.data()), comment.size(), out,
                       outLength);
    });
}

extern "C" int kvclm_PrivateKeyExportFile(KVCLM_PRIVATE_KEY key, const unsigned char* passphrase,
                                          uint32_t passphraseLength, int passphraseKind,
                                          const unsigned char* comment, uint32_t commentLength,
                                          unsigned char* out, uint32_t* outLength, int reserved) {
    return Guarded(reserved, true, [&] {
        const kvclm_private_key* k = CheckedPrivate(key);
        if (k == nullptr || outLength == nullptr || !ValidInput(comment, commentLength))
            return KVCLM_E_BAD_PARAM;
        Passphrase pass;
        int rc = CheckPassphrase(passphrase, passphraseLength, passphraseKind, &pass);
        if (rc != KVCLM_OK) return rc;
        const std::string_view text(reinterpret_cast<const char*>(comment), commentLength);
        SecureBytes plain;
        rc = WritePlainOpenSshKeyFile(k->pkey.get(), text, &plain);
        if (rc != KVCLM_OK) return rc;
        if (pass.length == 0) return CopyOut(plain.data(), plain.size(), out, outLength);
        SecureBytes encrypted;
        rc = EncryptKeyFile(k->pkey.get(), plain, pass, &encrypted);
        if (rc != KVCLM_OK) return rc;
        return CopyOut(encrypted.data(), encrypted.size(), out, outLength);
    });
}
