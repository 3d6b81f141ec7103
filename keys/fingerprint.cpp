#include "keys/fingerprint.h"

#include <algorithm>
#include <climits>
#include <cstdio>

#include "cryptomodule/base64.h"
#include "cryptomodule/hash.h"
#include "cryptomodule/public_key.h"
#include "res/string_ids.h"
#include "res/string_table.h"

namespace kv {

namespace {

constexpr char kVowels[] = "aeiouy";
constexpr char kConsonants[] = "bcdfghklmnprstvzx";

// The three letters every byte at an even position gives.
void AppendTuple(std::string& out, unsigned a, unsigned seed) {
    out += kVowels[(((a >> 6) & 3) + seed) % 6];
    out += kConsonants[(a >> 2) & 15];
    out += kVowels[((a & 3) + seed / 6) % 6];
}

}  // namespace

std::string DescribePublicBlob(std::span<const std::uint8_t> blob) {
    if (blob.empty()) return kInvalidKeyText;
    const ModuleResult<PublicKey> key = PublicKey::Import(blob);
    if (!key.ok()) return kInvalidKeyText;
    const ModuleResult<ModuleKeyInfo> info = key.value.GetInfo();
    if (!info.ok()) return kInvalidKeyText;
    // A curve's size is its name (nistp521), so only the RSA and DSA sizes are rounded.
    const bool curve = info.value.type == KVCLM_KEY_ED25519 || info.value.type == KVCLM_KEY_ECDSA;
    const std::uint64_t bits =
        curve ? info.value.bits : (std::uint64_t{info.value.bits} + 7) / 8 * 8;
    const int shown = static_cast<int>(std::min<std::uint64_t>(bits, INT_MAX));
    const char* format = LoadString(IDS_KEY_DESCRIPTION);
    if (format == nullptr) return info.value.algorithm + " (" + std::to_string(shown) + " bits)";
    char text[128];
    const int n = std::snprintf(text, sizeof text, format, info.value.algorithm.c_str(), shown);
    if (n < 0) return kInvalidKeyText;
    return text;
}

std::string DescribeKey(const KeyPair& pair) { return DescribePublicBlob(pair.Blob()); }

std::string FingerprintOfBlob(std::span<const std::uint8_t> blob, int form) {
    // Hashing an absent key would fingerprint the empty string as if it were one.
    if (blob.empty()) return kFingerprintNotAvailableText;
    const int algorithm = form == kFingerprintMd5Hex ? KVCLM_HASH_MD5 : KVCLM_HASH_SHA1;
    const ModuleResult<Bytes> digest = Hash::OfBuffer(algorithm, blob);
    if (!digest.ok() || digest.value.size() != Hash::DigestSize(algorithm))
        return kFingerprintNotAvailableText;
    return form == kFingerprintMd5Hex ? ColonHex(digest.value) : BubbleBabble(digest.value);
}

std::string KeyFingerprint(const KeyPair& pair, int form) {
    return FingerprintOfBlob(pair.Blob(), form);
}

std::string Sha256FingerprintOfBlob(std::span<const std::uint8_t> blob) {
    if (blob.empty()) return kFingerprintNotAvailableText;
    const ModuleResult<Bytes> digest = Hash::OfBuffer(KVCLM_HASH_SHA256, blob);
    if (!digest.ok() || digest.value.size() != Hash::DigestSize(KVCLM_HASH_SHA256))
        return kFingerprintNotAvailableText;
    ModuleResult<std::string> text = Base64::Encode(digest.value, 0);
    if (!text.ok()) return kFingerprintNotAvailableText;
    while (!text.value.empty() && text.value.back() == '=') text.value.pop_back();
    return "SHA256:" + text.value;
}

std::string KeyFingerprintSha256(const KeyPair& pair) {
    return Sha256FingerprintOfBlob(pair.Blob());
}

std::string ColonHex(std::span<const std::uint8_t> bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 3);
    for (const std::uint8_t b : bytes) {
        out += kDigits[b >> 4];
        out += kDigits[b & 15];
        out += ':';
    }
    return out;
}

std::string BubbleBabble(std::span<const std::uint8_t> bytes) {
    std::string out = "x";
    unsigned seed = 1;
    std::size_t i = 0;
    for (; i + 1 < bytes.size(); i += 2) {
        const unsigned a = bytes[i], b = bytes[i + 1];
        AppendTuple(out, a, seed);
        out += kConsonants[(b >> 4) & 15];
        out += '-';
        out += kConsonants[b & 15];
        seed = (seed * 5 + a * 7 + b) % 36;
    }
    if (i < bytes.size()) {
        AppendTuple(out, bytes[i], seed);
    } else {
        out += kVowels[seed % 6];
        out += 'x';
        out += kVowels[seed / 6];
    }
    out += 'x';
    return out;
}

}  // namespace kv
