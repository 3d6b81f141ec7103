// SSH public key blobs of the two key types the agent stores:
//   string "ssh-rsa", mpint e, mpint n          string "ssh-dss", mpint p, q, g, y
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "agent/openssh/ssh_wire.h"
#include "platform/secure_memory.h"

namespace kv {

enum class SshKeyType { kUnsupported, kRsa, kDss };

inline constexpr std::string_view kSshRsa = "ssh-rsa";
inline constexpr std::string_view kSshDss = "ssh-dss";

// The largest number accepted, as OpenSSH limits it (16384 bits).
inline constexpr std::size_t kMaxMpintBytes = 2048;

// The type a name stands for.
SshKeyType KeyTypeOfName(std::span<const uint8_t> name);

// The key type of a blob whose fields are all well formed and that has nothing after them;
// kUnsupported for anything else.
SshKeyType KeyTypeOfBlob(std::span<const uint8_t> blob);

// Reads an mpint that must be positive and fit the limit; returns its magnitude without
// leading zeros. Zero, negative or oversized values fail the reader.
std::span<const uint8_t> ReadPositiveMpint(SshReader& in);

Bytes RsaPublicBlob(std::span<const uint8_t> e, std::span<const uint8_t> n);
Bytes DssPublicBlob(std::span<const uint8_t> p, std::span<const uint8_t> q,
                    std::span<const uint8_t> g, std::span<const uint8_t> y);

}  // namespace kv
