// Loading the stored keys at start-up, with one registry query for all of them.
#include <unordered_map>
#include <unordered_set>

#include "keys/key_registry_layout.h"
#include "keys/key_store.h"
#include "platform/ascii_case.h"
#include "platform/registry/registry.h"

namespace kv {

namespace {}  // namespace

// Subkeys are taken in the registry's enumeration order. Each is read through the name its
// number formats to, so "Key007" reads "Key7". The first key without a usable "Pub" ends
// loading; the keys after it stay in the registry for a later start.
void KeyStore::Load() {
    m_read_private.clear();
    m_keys_left_unlisted = false;
    RegistryKey parent;
    if (!parent.Open(kKeyPairsRegistryPath, false)) {
        if (parent.LastError() != kRegNotFound) m_unread = true;
        return;
    }
    std::vector<RegistrySubkeyValues> subkeys;
    const std::vector<std::string> wanted = {kPubValue,        kCommentValue,  kCompatValue,
                                             kExpiryValue,     kFilenameValue, kConfirmValue,
                                             kCertificateValue};
    if (!parent.ReadSubkeyValues(subkeys, wanted)) {
        m_unread = true;
        return;
    }

    std::unordered_map<std::string, const RegistrySubkeyValues*> by_name;
    for (const RegistrySubkeyValues& subkey : subkeys)
        by_name.emplace(FoldAsciiCase(subkey.name), &subkey);

    std::unordered_set<std::int32_t> loaded;
    for (const RegistrySubkeyValues& subkey : subkeys) {
        const std::optional<std::int32_t> number = KeyNumberFromSubkeyName(subkey.name);
        // A second name for a number already loaded ("Key007" beside "Key7") would list the
        // same subkey twice.
        if (number && loaded.contains(*number)) continue;
        const auto found =
            number ? by_name.find(FoldAsciiCase(KeySubkeyName(*number))) : by_name.end();
        auto key = std::make_unique<KeyPair>();
        if (number) key->SetNumber(*number);
        if (found == by_name.end() || !ReadPublicValues(found->second->values, *key)) {
            m_keys_left_unlisted = true;
            return;
        }
        loaded.insert(*number);
        Append(std::move(key));
    }
}

}  // namespace kv
