// Message numbers, flags and limits of the OpenSSH agent protocol.
#pragma once

#include <cstdint>

namespace kv::openssh {

// Requests.
inline constexpr uint8_t kRequestIdentities = 11;
inline constexpr uint8_t kSignRequest = 13;
inline constexpr uint8_t kAddIdentity = 17;
inline constexpr uint8_t kRemoveIdentity = 18;
inline constexpr uint8_t kRemoveAllIdentities = 19;
inline constexpr uint8_t kLock = 22;
inline constexpr uint8_t kUnlock = 23;
inline constexpr uint8_t kAddIdConstrained = 25;
inline constexpr uint8_t kExtension = 27;

// Replies.
inline constexpr uint8_t kFailure = 5;
inline constexpr uint8_t kSuccess = 6;
inline constexpr uint8_t kIdentitiesAnswer = 12;
inline constexpr uint8_t kSignResponse = 14;
inline constexpr uint8_t kExtensionResponse = 29;

// Key constraints of ADD_ID_CONSTRAINED.
inline constexpr uint8_t kConstrainLifetime = 1;
inline constexpr uint8_t kConstrainConfirm = 2;
inline constexpr uint8_t kConstrainMaxSign = 3;
inline constexpr uint8_t kConstrainExtension = 255;

// Flags of SIGN_REQUEST.
inline constexpr uint32_t kFlagRsaSha256 = 0x02;
inline constexpr uint32_t kFlagRsaSha512 = 0x04;

// The largest message accepted, as OpenSSH and PuTTY limit it; longer ones close the
// connection.
inline constexpr uint32_t kMaxMessage = 256 * 1024;
// The most identities ssh and ssh-add take in one answer.
inline constexpr uint32_t kMaxListedIdentities = 2048;

}  // namespace kv::openssh
