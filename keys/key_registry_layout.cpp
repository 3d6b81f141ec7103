#include "keys/key_registry_layout.h"

#include <array>
#include <cstring>
#include <limits>

#include "keys/key_pair.h"

namespace kv {

namespace {

// The text of a REG_SZ value: up to its first NUL, or all of it when the terminator is missing.
std::optional<std::string> TextOf(const RegistryValue* value) {
    if (value == nullptr || value->type != kRegSz || value->data.size() > kMaxTextSize) {
        return std::nullopt;
    }
    const auto* begin = reinterpret_cast<const char*>(value->data.data());
    return std::string(begin, ::strnlen(begin, value->data.size()));
}

std::uint64_t LittleEndian(const Bytes& data) {
    std::uint64_t v = 0;
    for (std::size_t i = data.size(); i-- > 0;) v = (v << 8) | data[i];
    return v;
}

}  // namespace

std::string KeySubkeyName(std::int32_t number) { return "Key" + std::to_string(number); }

std::string KeySubkeyPath(std::int32_t number) {
    return std::string(kKeyPairsRegistryPath) + "\\" + KeySubkeyName(number);
}

std::optional<std::int32_t> KeyNumberFromSubkeyName(std::string_view name) {
    constexpr std::size_t kPrefixLength = 3;  // "Key", though the letters are not checked
    if (name.size() <= kPrefixLength) return 0;
    std::int64_t number = 0;
    for (const char c : name.substr(kPrefixLength)) {
        if (c < '0' || c > '9') break;
        number = number * 10 + (c - '0');
        if (number > std::numeric_limits<std::int32_t>::max()) return std::nullopt;
    }
    return static_cast<std::int32_t>(number);
}

bool ReadPublicValues(const std::vector<RegistryValue>& values, KeyPair& key) {
    const RegistryValue* pub = FindValue(values, kPubValue);
    if (pub == nullptr || pub->data.empty() || pub->data.size() > kMaxPubSize) return false;
    key.SetBlob(pub->data);
    if (const auto comment = TextOf(FindValue(values, kCommentValue))) key.SetComment(*comment);
    if (const auto name = TextOf(FindValue(values, kFilenameValue))) key.SetFileName(*name);
    if (const RegistryValue* compat = FindValue(values, kCompatValue);
        compat != nullptr && compat->data.size() == 4) {
        key.SetCompat(static_cast<std::uint32_t>(LittleEndian(compat->data)));
    }
    if (const RegistryValue* confirm = FindValue(values, kConfirmValue);
        confirm != nullptr && confirm->data.size() == 4) {
        key.SetRequiresConfirmation(LittleEndian(confirm->data) != 0);
    }
    if (const RegistryValue* certificate = FindValue(values, kCertificateValue);
        certificate != nullptr && certificate->type == kRegBinary &&
        certificate->data.size() <= kMaxCertificateSize) {
        key.SetCertificate(certificate->data);
    }
    const RegistryValue* expiry = FindValue(values, kExpiryValue);
    key.SetExpiry(expiry != nullptr && expiry->data.size() == kExpirySize
                      ? LittleEndian(expiry->data)
                      : kFileTimeNever);
    return true;
}

bool WritePublicValues(RegistryKey& subkey, const KeyPair& key) {
    if (key.Blob().size() > std::numeric_limits<std::uint32_t>::max()) return false;
    std::array<std::uint8_t, kExpirySize> expiry{};
    for (std::size_t i = 0; i < expiry.size(); ++i) {
        expiry[i] = static_cast<std::uint8_t>(key.Expiry() >> (8 * i));
    }
    return subkey.WriteBinary(kPubValue, key.Blob().data(),
                              static_cast<std::uint32_t>(key.Blob().size())) &&
           subkey.WriteString(kCommentValue, key.Comment().c_str()) &&
           subkey.WriteDword(kCompatValue, key.Compat()) &&
           subkey.WriteBinary(kExpiryValue, expiry.data(), kExpirySize) &&
           subkey.WriteString(kFilenameValue, key.Name().c_str()) &&
           (!key.RequiresConfirmation() || subkey.WriteDword(kConfirmValue, 1)) &&
           (key.Certificate().empty() ||
            (key.Certificate().size() <= kMaxCertificateSize &&
             subkey.WriteBinary(kCertificateValue, key.Certificate().data(),
                                static_cast<std::uint32_t>(key.Certificate().size()))));
}

}  // namespace kv
