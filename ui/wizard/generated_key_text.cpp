#include "ui/wizard/generated_key_text.h"

#include <cstdlib>
#include <cstring>

#include "keys/key_store.h"
#include "res/format_text.h"
#include "res/string_ids.h"
#include "ui/wizard/wizard_key_state.h"

namespace kv {

namespace {

constexpr int kPatternGroups = 208;
constexpr int kGroupsPerLine = 16;
constexpr int kBitsPerGroup = 8;

}  // namespace

std::string ProgressPattern(const std::function<int()>& next) {
    std::string pattern;
    pattern.reserve(kPatternGroups * kBitsPerGroup + kPatternGroups / kGroupsPerLine);
    for (int group = 1; group <= kPatternGroups; ++group) {
        const int bits = next();
        for (int j = 0; j < kBitsPerGroup; ++j) pattern.push_back((bits >> j) & 1 ? ':' : '.');
        if (group % kGroupsPerLine == 0) pattern.push_back('\n');
    }
    return pattern;
}

std::string RandomProgressPattern() {
    return ProgressPattern([] { return std::rand(); });
}

std::string AllDotsProgressPattern() {
    return ProgressPattern([] { return 0; });
}

std::string DefaultKeyName(const KeyStore& keys) {
    for (int n = 1;; ++n) {
        std::string name = FormatText(IDS_DEFAULT_KEY_NAME, n);
        if (!keys.NameInUse(name)) return name;
    }
}

std::string GeneratedKeyComment(std::int32_t bits, std::int32_t key_type,
                                const std::tm& local_time) {
    char when[64] = "";
    if (::asctime_r(&local_time, when) == nullptr) when[0] = '\0';
    std::string time_text = when;
    // asctime ends in a line break, which has no place in a one-line comment.
    if (time_text.size() == 25) time_text.pop_back();
    char comment[160];
    std::snprintf(comment, sizeof comment, "[%d-bit %s, %s Korvenix SSH Agent]", bits,
                  KeyTypeNameLower(key_type), time_text.c_str());
    return comment;
}

const char* KeyTypeName(std::int32_t key_type) { return key_type == WizardKeyRsa ? "RSA" : "DSA"; }

const char* KeyTypeNameLower(std::int32_t key_type) {
    return key_type == WizardKeyRsa ? "rsa" : "dsa";
}

}  // namespace kv
