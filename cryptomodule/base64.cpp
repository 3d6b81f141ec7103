#include "cryptomodule/base64.h"

#include <new>

#include "cryptomodule/two_call.h"

namespace kv {

namespace {

// Text is built in a buffer of the caller's kind (std::string or SecureBytes) so that
// secret text never passes through an unwiped copy.
template <class Text>
ModuleResult<Text> EncodeInto(std::span<const std::uint8_t> data, int lineWidth,
                              CryptoModule& module) {
    ModuleResult<Text> result;
    const KvclmFunctions* f = module.Functions();
    if (f == nullptr) return result;
    if (!FitsModuleLength(data.size())) return {KVCLM_E_DATA_SIZE, {}};
    const auto dataLength = static_cast<std::uint32_t>(data.size());
    std::uint32_t textLength = 0;
    result.code = f->GetBase64Length(dataLength, &textLength, lineWidth, 0);
    if (!result.ok()) return result;
    // The length counts the closing NUL, so 0 means the module answered nonsense.
    if (textLength == 0) return {KVCLM_E_CRYPTO, {}};
    try {
        result.value.resize(textLength);
    } catch (const std::bad_alloc&) {
        return {KVCLM_E_NO_MEMORY, {}};
    }
    std::uint32_t written = textLength;
    result.code =
        f->EncodeBase64(data.data(), dataLength, reinterpret_cast<char*>(result.value.data()),
                        &written, lineWidth, 0);
    if (!result.ok() || written == 0 || written > textLength) {
        if (result.ok()) result.code = KVCLM_E_CRYPTO;
        result.value.clear();
        return result;
    }
    result.value.resize(written - 1);  // drop the closing NUL
    return result;
}

template <class Buffer>
ModuleResult<Buffer> DecodeInto(std::string_view text, CryptoModule& module) {
    const KvclmFunctions* f = module.Functions();
    if (f == nullptr) return {};
    if (!FitsModuleLength(text.size())) return {KVCLM_E_DATA_SIZE, {}};
    return CallTwice<Buffer>([&](std::uint8_t* out, std::uint32_t* length) {
        return f->DecodeBase64(text.data(), static_cast<std::uint32_t>(text.size()), out, length);
    });
}

}  // namespace

ModuleResult<std::string> Base64::Encode(std::span<const std::uint8_t> data, int lineWidth,
                                         CryptoModule& module) {
    return EncodeInto<std::string>(data, lineWidth, module);
}

ModuleResult<SecureBytes> Base64::EncodeSecret(std::span<const std::uint8_t> data, int lineWidth,
                                               CryptoModule& module) {
    return EncodeInto<SecureBytes>(data, lineWidth, module);
}

ModuleResult<Bytes> Base64::Decode(std::string_view text, CryptoModule& module) {
    return DecodeInto<Bytes>(text, module);
}

ModuleResult<SecureBytes> Base64::DecodeSecret(std::string_view text, CryptoModule& module) {
    return DecodeInto<SecureBytes>(text, module);
}

}  // namespace kv
