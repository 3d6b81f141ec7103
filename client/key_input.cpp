#include "client/key_input.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <iterator>
#include <sstream>
#include <string_view>

#include "cryptomodule/base64.h"
#include "cryptomodule/private_key.h"
#include "keys/key_file_io.h"
#include "keys/openssh_key_file.h"
#include "keys/ssh2_key_file.h"

namespace kv {

namespace {

// An armored file is read as one or not at all: a damaged one must not go out as raw bytes.
bool LooksArmored(std::span<const std::uint8_t> bytes) {
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    return text.find("---- BEGIN SSH2 ") != std::string_view::npos;
}

std::string ModuleError(int code) {
    switch (code) {
        case KVCLM_E_BAD_PASSPHRASE:
            return "wrong passphrase";
        case KVCLM_E_NOT_READY:
            return "the cryptographic module is not available";
        default:
            return "not a private key the module can open (error " + std::to_string(code) + ")";
    }
}

}  // namespace

std::optional<Bytes> ReadFileBytes(const std::string& path, std::size_t max_size) {
    // Plain reads up to a bound: a directory is an error instead of an exception out of the
    // stream, and /dev/zero ends at the bound; a pipe (/dev/stdin) still works.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return std::nullopt;
    Bytes bytes;
    std::uint8_t chunk[64 * 1024];
    bool ok = true;
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0 || bytes.size() + static_cast<std::size_t>(n) > max_size) {
            ok = n == 0;
            break;
        }
        bytes.insert(bytes.end(), chunk, chunk + n);
    }
    ::close(fd);
    if (!ok) return std::nullopt;
    return bytes;
}

std::optional<PublicKeyFromFile> ReadPublicKeyFile(const std::string& path) {
    // Bounded and regular files only, as every key file: /dev/zero would fill the memory and a
    // named pipe hang the client.
    const auto read = ReadKeyFileBytes(path);
    if (!read) return std::nullopt;
    Bytes bytes(read->begin(), read->end());
    if (LooksArmored(bytes)) {
        auto contents = ReadPublicKeyFileContents(path);
        if (!contents) return std::nullopt;
        return PublicKeyFromFile{std::move(contents->blob), std::move(contents->comment)};
    }
    if (auto line = ParseOpenSshPublicKeyLine(bytes))
        return PublicKeyFromFile{std::move(line->blob), std::move(line->comment)};
    const std::string text(bytes.begin(), bytes.end());
    std::istringstream fields(text);
    std::string type, body;
    if (text.rfind("ssh-", 0) == 0 && (fields >> type >> body)) {
        ModuleResult<Bytes> blob = Base64::Decode(body);
        if (!blob.ok()) return std::nullopt;
        return PublicKeyFromFile{std::move(blob.value), {}};
    }
    return PublicKeyFromFile{std::move(bytes), {}};
}

std::optional<Bytes> ReadPublicKeyBlob(const std::string& path) {
    auto file = ReadPublicKeyFile(path);
    if (!file) return std::nullopt;
    return std::move(file->blob);
}

std::optional<SecureBytes> ReadPassphraseFile(const std::string& path) {
    auto bytes = ReadKeyFileBytes(path);
    if (!bytes) return std::nullopt;
    const auto lf = std::find(bytes->begin(), bytes->end(), '\n');
    bytes->erase(lf, bytes->end());
    if (!bytes->empty() && bytes->back() == '\r') bytes->pop_back();
    return bytes;
}

std::optional<SecureBytes> ReadPrivateKeyForAdd(const std::string& path,
                                                const std::optional<SecureBytes>& passphrase,
                                                std::string& error) {
    auto blob = ReadKeyFileBytes(path);
    if (!blob) {
        error = "cannot read private key file " + path;
        return std::nullopt;
    }
    if (!LooksArmored(*blob) && LooksLikeOpenSshPrivateKeyFile(*blob)) {
        auto key = ReadKeyFromPrivateFile(path, passphrase, error);
        if (!key) return std::nullopt;
        return std::move(key->container);
    }
    if (LooksArmored(*blob)) {
        auto contents = ReadPrivateKeyFileContents(path);
        if (!contents) {
            error = "not a valid SSH2 private key file: " + path;
            return std::nullopt;
        }
        blob = std::move(contents->blob);
    }
    if (!passphrase) {
        // A container goes out as read; but one the module cannot read is answered here, with
        // the file's name, and a key from a file must have prime factors, which the agent
        // does not test on its way in.
        const int code = PrivateKey::ImportFromKeyFile(*blob, {}).code;
        if (code == KVCLM_E_BAD_KEY || code == KVCLM_E_BAD_FORMAT || code == KVCLM_E_UNSUPPORTED) {
            error = PrivateKeyFileError(path, code);
            return std::nullopt;
        }
        if (code != KVCLM_E_NEED_PASSPHRASE) return blob;
        error = "private key file " + path + " is protected: give --passphrase-file";
        return std::nullopt;
    }
    const auto key = PrivateKey::ImportFromKeyFile(*blob, *passphrase);
    auto plain = key.ok() ? key.value.ExportPlain() : ModuleResult<SecureBytes>{key.code, {}};
    if (!plain.ok()) {
        error = plain.code == KVCLM_E_BAD_KEY
                    ? PrivateKeyFileError(path, plain.code)
                    : "cannot open private key file " + path + ": " + ModuleError(plain.code);
        return std::nullopt;
    }
    return std::move(plain.value);
}

std::optional<KeyFromPrivateFile> ReadKeyFromPrivateFile(
    const std::string& path, const std::optional<SecureBytes>& passphrase, std::string& error) {
    auto contents =
        ReadOpenSshPrivateKeyFile(path, passphrase ? Passphrase(*passphrase) : Passphrase(), error);
    if (!contents) {
        if (!passphrase && error.find("protected by a passphrase") != std::string::npos)
            error += ": give --passphrase-file";
        return std::nullopt;
    }
    return KeyFromPrivateFile{std::move(contents->container), std::move(contents->public_blob),
                              std::move(contents->comment)};
}

std::optional<Bytes> DecodeHex(const std::string& hex) {
    if (hex.size() % 2 != 0) return std::nullopt;
    Bytes out;
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        unsigned value = 0;
        if (std::sscanf(hex.c_str() + i, "%2x", &value) != 1) return std::nullopt;
        if (!std::isxdigit(static_cast<unsigned char>(hex[i])) ||
            !std::isxdigit(static_cast<unsigned char>(hex[i + 1])))
            return std::nullopt;
        out.push_back(static_cast<std::uint8_t>(value));
    }
    return out;
}

std::string EncodeHex(const std::uint8_t* data, std::size_t n) {
    static const char kDigits[] = "0123456789abcdef";
    std::string out;
    for (std::size_t i = 0; i < n; ++i) {
        out.push_back(kDigits[data[i] >> 4]);
        out.push_back(kDigits[data[i] & 15]);
    }
    return out;
}

}  // namespace kv
