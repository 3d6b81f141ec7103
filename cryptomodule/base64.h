// Base64 through the module: key file bodies are written with 60-character lines.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "cryptomodule/crypto_module.h"
#include "platform/secure_memory.h"

namespace kv {

inline constexpr int kBase64LineWidth = 60;

class Base64 {
  public:
    // Lines of `lineWidth` characters joined by LF, no break after the last line and no
    // closing NUL. lineWidth 0 gives one line.
    static ModuleResult<std::string> Encode(std::span<const std::uint8_t> data,
                                            int lineWidth = kBase64LineWidth,
                                            CryptoModule& module = Module());
    // The same for key material: the text is as secret as the data.
    static ModuleResult<SecureBytes> EncodeSecret(std::span<const std::uint8_t> data,
                                                  int lineWidth = kBase64LineWidth,
                                                  CryptoModule& module = Module());

    // CR and LF are skipped; any other byte outside the alphabet, or bad padding, fails.
    static ModuleResult<Bytes> Decode(std::string_view text, CryptoModule& module = Module());
    static ModuleResult<SecureBytes> DecodeSecret(std::string_view text,
                                                  CryptoModule& module = Module());
};

}  // namespace kv
