// Reading what the client sends: public key blobs from files, data from files or hex.
#pragma once

#include <optional>
#include <string>

#include "platform/secure_memory.h"

namespace kv {

std::optional<Bytes> ReadFileBytes(const std::string& path);
// A public key file: the one-line "type base64 [comment]" form, or the raw blob.
std::optional<Bytes> ReadPublicKeyBlob(const std::string& path);
std::optional<Bytes> DecodeHex(const std::string& hex);
std::string EncodeHex(const std::uint8_t* data, std::size_t n);
std::optional<Bytes> DecodeBase64Text(const std::string& text);

}  // namespace kv
