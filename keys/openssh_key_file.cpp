#include "keys/openssh_key_file.h"

#include <algorithm>
#include <string_view>

#include "cryptomodule/base64.h"
#include "keys/key_file_io.h"
#include "keys/key_text.h"
#include "platform/byte_order.h"

namespace kv {

namespace {

// The type name a public blob starts with; empty when it does not start with a string.
std::string_view BlobTypeName(std::span<const std::uint8_t> blob) {
    if (blob.size() < 4) return {};
    const std::size_t n = LoadBe32(blob.data());
    if (n > blob.size() - 4) return {};
    return AsText(blob.subspan(4, n));
}

// The comment of the public key file beside the private one, when that file holds this key.
std::string CommentBeside(const std::string& path, std::span<const std::uint8_t> blob) {
    const auto bytes = ReadKeyFileBytes(path + ".pub");
    if (!bytes) return {};
    const auto line = ParseOpenSshPublicKeyLine(*bytes);
    if (!line || !std::ranges::equal(line->blob, blob)) return {};
    return line->comment;
}

}  // namespace

bool NeedsOpenSshKeyFile(std::span<const std::uint8_t> public_blob) {
    const ModuleResult<PublicKey> key = PublicKey::Import(public_blob);
    if (!key.ok()) return false;
    const ModuleResult<ModuleKeyInfo> info = key.value.GetInfo();
    return info.ok() &&
           (info.value.type == KVCLM_KEY_ED25519 || info.value.type == KVCLM_KEY_ECDSA);
}

std::optional<SecureBytes> ComposeOpenSshPrivateKeyFile(const PrivateKeyBlob& blob,
                                                        Passphrase storePassphrase,
                                                        Passphrase filePassphrase) {
    const ModuleResult<PrivateKey> key = blob.Open(storePassphrase);
    if (!key.ok()) return std::nullopt;
    ModuleResult<SecureBytes> text = key.value.ExportFile(filePassphrase, blob.Comment());
    if (!text.ok()) return std::nullopt;
    return std::move(text.value);
}

bool WriteOpenSshPrivateKeyFile(const PrivateKeyBlob& blob, const std::string& path,
                                Passphrase storePassphrase, Passphrase filePassphrase) {
    const std::optional<SecureBytes> text =
        ComposeOpenSshPrivateKeyFile(blob, storePassphrase, filePassphrase);
    return text && ReplaceFileContents(path, *text, kPrivateFileMode);
}

std::optional<SecureBytes> ComposeOpenSshPublicKeyFile(const KeyPair& pair) {
    const std::string_view type = BlobTypeName(pair.Blob());
    if (type.empty()) return std::nullopt;
    const ModuleResult<std::string> body = Base64::Encode(pair.Blob(), 0);
    if (!body.ok()) return std::nullopt;
    std::string line = std::string(type) + " " + body.value;
    if (!pair.Comment().empty()) line += " " + pair.Comment();
    line += "\n";
    return SecureBytes(line.begin(), line.end());
}

bool WriteOpenSshPublicKeyFile(const KeyPair& pair, const std::string& path) {
    const std::optional<SecureBytes> text = ComposeOpenSshPublicKeyFile(pair);
    return text && ReplaceFileContents(path, *text, kPublicFileMode);
}

bool LooksLikeOpenSshPrivateKeyFile(std::span<const std::uint8_t> bytes) {
    return AsText(bytes).find("-----BEGIN ") != std::string_view::npos;
}

std::optional<OpenSshPrivateKeyContents> ReadOpenSshPrivateKeyFile(const std::string& path,
                                                                   Passphrase passphrase,
                                                                   std::string& error,
                                                                   bool* passphrase_refused) {
    if (passphrase_refused != nullptr) *passphrase_refused = false;
    const auto text = ReadKeyFileBytes(path);
    if (!text) {
        error = "cannot read private key file " + path;
        return std::nullopt;
    }
    ModuleResult<PrivateKey> key = PrivateKey::ImportFile(*text, passphrase);
    ModuleResult<SecureBytes> container =
        key.ok() ? key.value.ExportPlain() : ModuleResult<SecureBytes>{key.code, {}};
    ModuleResult<PublicKey> pub =
        key.ok() ? key.value.DerivePublic() : ModuleResult<PublicKey>{key.code, {}};
    ModuleResult<Bytes> blob = pub.ok() ? pub.value.Export() : ModuleResult<Bytes>{pub.code, {}};
    ModuleResult<std::string> comment = PrivateKey::FileComment(*text);
    for (const int code : {container.code, blob.code, comment.code}) {
        if (code != KVCLM_OK) {
            error = PrivateKeyFileError(path, code);
            if (passphrase_refused != nullptr) {
                *passphrase_refused =
                    code == KVCLM_E_NEED_PASSPHRASE || code == KVCLM_E_BAD_PASSPHRASE;
            }
            return std::nullopt;
        }
    }
    OpenSshPrivateKeyContents contents{std::move(container.value), std::move(blob.value),
                                       std::move(comment.value)};
    if (contents.comment.empty()) contents.comment = CommentBeside(path, contents.public_blob);
    return contents;
}

bool ReadOpenSshPublicKeyFile(KeyPair& pair) {
    const auto bytes = ReadKeyFileBytes(pair.Path());
    if (!bytes) return false;
    std::optional<OpenSshPublicKeyLine> line = ParseOpenSshPublicKeyLine(*bytes);
    if (!line) return false;
    pair.SetBlob(line->blob);
    pair.SetComment(line->comment);
    return true;
}

std::optional<OpenSshPublicKeyLine> ParseOpenSshPublicKeyLine(std::span<const std::uint8_t> text) {
    std::string_view rest = AsText(text);
    while (!rest.empty()) {
        const std::size_t end = rest.find('\n');
        std::string_view line = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.remove_suffix(1);
        while (!line.empty() && line.front() == ' ') line.remove_prefix(1);
        if (line.empty() || line.front() == '#') continue;
        const std::size_t space = line.find(' ');
        if (space == std::string_view::npos) return std::nullopt;
        const std::string_view type = line.substr(0, space);
        std::string_view body = line.substr(space + 1);
        const std::size_t after = body.find(' ');
        const std::string_view comment =
            after == std::string_view::npos ? std::string_view() : body.substr(after + 1);
        body = body.substr(0, after);
        ModuleResult<Bytes> blob = Base64::Decode(body);
        if (!blob.ok() || BlobTypeName(blob.value) != type) return std::nullopt;
        return OpenSshPublicKeyLine{std::move(blob.value), std::string(comment)};
    }
    return std::nullopt;
}

}  // namespace kv
