#include "keys/ssh2_key_file.h"

#include <string_view>

#include "cryptomodule/base64.h"
#include "keys/key_file_io.h"
#include "keys/key_text.h"
#include "keys/ssh2_key_text.h"

namespace kv {

namespace {

std::optional<Ssh2FileText> ReadFileText(const std::string& path, bool privateKey) {
    const std::optional<SecureBytes> bytes = ReadKeyFileBytes(path);
    if (!bytes) return std::nullopt;
    return ParseSsh2File(AsText(*bytes), privateKey);
}

}  // namespace

std::optional<SecureBytes> ComposePublicKeyFile(const KeyPair& pair) {
    // A file without a body could never be read back.
    if (pair.Blob().empty()) return std::nullopt;
    const ModuleResult<std::string> base64 = Base64::Encode(pair.Blob(), kBase64LineWidth);
    if (!base64.ok() || base64.value.empty()) return std::nullopt;
    return ComposeSsh2File(Ssh2FileKind::Public, Sanitize(pair.Comment()), base64.value);
}

bool WritePublicKeyFile(const KeyPair& pair, const std::string& path) {
    const std::optional<SecureBytes> text = ComposePublicKeyFile(pair);
    return text && ReplaceFileContents(path, *text, kPublicFileMode);
}

std::optional<SecureBytes> ComposePrivateKeyFile(const PrivateKeyBlob& blob,
                                                 Passphrase storePassphrase,
                                                 Passphrase filePassphrase) {
    const ModuleResult<PrivateKey> key = blob.Open(storePassphrase);
    if (!key.ok()) return std::nullopt;
    const std::optional<SecureBytes> container = ProtectPrivateKey(key.value, filePassphrase);
    if (!container || container->empty()) return std::nullopt;
    const ModuleResult<SecureBytes> base64 = Base64::EncodeSecret(*container, kBase64LineWidth);
    if (!base64.ok() || base64.value.empty()) return std::nullopt;
    const Ssh2FileKind kind =
        filePassphrase.empty() ? Ssh2FileKind::PrivatePlain : Ssh2FileKind::PrivateEncrypted;
    return ComposeSsh2File(kind, Sanitize(blob.Comment()), AsText(base64.value));
}

bool WritePrivateKeyFile(const PrivateKeyBlob& blob, const std::string& path,
                         Passphrase storePassphrase, Passphrase filePassphrase) {
    const std::optional<SecureBytes> text =
        ComposePrivateKeyFile(blob, storePassphrase, filePassphrase);
    return text && ReplaceFileContents(path, *text, kPrivateFileMode);
}

std::optional<PublicKeyFileContents> ReadPublicKeyFileContents(const std::string& path) {
    std::optional<Ssh2FileText> text = ReadFileText(path, false);
    if (!text) return std::nullopt;
    ModuleResult<Bytes> blob = Base64::Decode(AsText(text->base64));
    if (!blob.ok() || blob.value.empty()) return std::nullopt;
    return PublicKeyFileContents{std::move(blob.value), std::move(text->comment)};
}

std::optional<PrivateKeyFileContents> ReadPrivateKeyFileContents(const std::string& path) {
    std::optional<Ssh2FileText> text = ReadFileText(path, true);
    if (!text) return std::nullopt;
    ModuleResult<SecureBytes> blob = Base64::DecodeSecret(AsText(text->base64));
    if (!blob.ok() || blob.value.empty()) return std::nullopt;
    return PrivateKeyFileContents{std::move(blob.value), std::move(text->comment)};
}

bool ReadPublicKeyFile(KeyPair& pair) {
    const std::optional<PublicKeyFileContents> contents = ReadPublicKeyFileContents(pair.Path());
    if (!contents) return false;
    pair.SetBlob(contents->blob);
    pair.SetComment(contents->comment);
    return true;
}

bool ReadPrivateKeyFile(PrivateKeyBlob& blob) {
    const std::optional<PrivateKeyFileContents> contents = ReadPrivateKeyFileContents(blob.File());
    if (!contents) return false;
    blob.SetBlob(contents->blob);
    blob.SetComment(contents->comment);
    return true;
}

}  // namespace kv
