#include "core/settings_table.h"

#include <cstdio>
#include <cstdlib>

#include "platform/byte_order.h"
#include "platform/registry/registry.h"
#include "res/string_ids.h"
#include "res/string_table.h"

namespace kv {

namespace {

// False only when the registry failed; a missing or malformed value is no failure.
bool ReadEntry(RegistryKey& key, const char* name, SettingEntry& entry) {
    if (entry.kind == SettingKind::Text) {
        char buffer[kSettingTextCapacity];
        if (key.ReadString(name, buffer, sizeof buffer)) entry.text = buffer;
        return key.LastError() != kRegIoFailed;
    }
    std::uint8_t bytes[4];
    std::uint32_t size = sizeof bytes;
    if (!key.ReadRaw(name, bytes, &size) || size != 4) return key.LastError() != kRegIoFailed;
    entry.value = static_cast<std::int32_t>(LoadLe32(bytes));
    return true;
}

bool WriteEntry(RegistryKey& key, const char* name, const SettingEntry& entry) {
    if (entry.kind == SettingKind::Text) return key.WriteString(name, entry.text.c_str());
    std::uint8_t bytes[4];
    StoreLe32(static_cast<std::uint32_t>(entry.value), bytes);
    return key.WriteBinary(name, bytes, sizeof bytes);
}

}  // namespace

void SettingsTable::Define(SettingEntry entry) {
    if (m_entries.find(entry.id) == m_entries.end()) m_order.push_back(entry.id);
    m_entries[entry.id] = std::move(entry);
}

void SettingsTable::DefineFlag(std::uint16_t id, bool value) {
    Define({id, SettingKind::Flag, value ? 1 : 0, {}});
}

void SettingsTable::DefineNumber(std::uint16_t id, std::int32_t value) {
    Define({id, SettingKind::Number, value, {}});
}

void SettingsTable::DefineText(std::uint16_t id, const std::string& value) {
    Define({id, SettingKind::Text, 0, value});
}

// Every id the agent reads is defined at start-up; a miss is a programming error.
SettingEntry& SettingsTable::Entry(std::uint16_t id) {
    auto it = m_entries.find(id);
    if (it == m_entries.end()) {
        std::fprintf(stderr, "kvsshaa: setting %u read before it was defined\n", id);
        std::abort();
    }
    return it->second;
}

const SettingEntry& SettingsTable::Entry(std::uint16_t id) const {
    return const_cast<SettingsTable*>(this)->Entry(id);
}

bool SettingsTable::GetFlag(std::uint16_t id) const { return Entry(id).value != 0; }
std::int32_t SettingsTable::GetNumber(std::uint16_t id) const { return Entry(id).value; }
const std::string& SettingsTable::GetText(std::uint16_t id) const { return Entry(id).text; }
void SettingsTable::SetFlag(std::uint16_t id, bool value) { Entry(id).value = value ? 1 : 0; }
void SettingsTable::SetNumber(std::uint16_t id, std::int32_t value) { Entry(id).value = value; }
void SettingsTable::SetText(std::uint16_t id, const std::string& value) { Entry(id).text = value; }

bool SettingsTable::Load() {
    for (std::uint16_t id : m_order) {
        const char* name = LoadString(id);
        if (name == nullptr) continue;
        RegistryKey key;
        if (!key.Open(kAgentRegistryPath, true) || !ReadEntry(key, name, m_entries[id]))
            return false;
    }
    return true;
}

bool SettingsTable::Save() const {
    // All or none: a save cut short must not leave a mix of old and new values.
    RegistryTransaction transaction;
    for (std::uint16_t id : m_order) {
        const char* name = LoadString(id);
        if (name == nullptr) continue;
        RegistryKey key;
        if (!key.Open(kAgentRegistryPath, true) || !WriteEntry(key, name, m_entries.at(id)))
            return false;
    }
    return transaction.Commit();
}

void SettingsTable::DefineDefaults() {
    DefineFlag(IDS_SETTING_FIPS_MODE, false);
    DefineFlag(IDS_SETTING_ALLOW_SSH1_ACCESS, true);
    DefineFlag(IDS_SETTING_ALLOW_AGENT_ADD, true);
    DefineFlag(IDS_SETTING_ALLOW_AGENT_REMOVE, false);
    DefineFlag(IDS_SETTING_ASK_BEFORE_AGENT_OP, false);
    DefineFlag(IDS_SETTING_LOG_OPS, true);
    DefineFlag(IDS_SETTING_LOG_ADD, true);
    DefineFlag(IDS_SETTING_LOG_DELETE, true);
    DefineFlag(IDS_SETTING_LOG_LIST, false);
    DefineFlag(IDS_SETTING_LOG_LOCK, true);
    DefineFlag(IDS_SETTING_LOG_INFO, true);
    DefineFlag(IDS_SETTING_LOG_ERROR, true);
    DefineText(IDS_SETTING_LOG_TO_FILE, "");
    DefineFlag(IDS_SETTING_UNLOCK_ON_STARTUP, false);
    DefineFlag(IDS_SETTING_UNLOCK_ON_ACCESS, true);
    DefineFlag(IDS_SETTING_AUTO_LOCK_CHECK, true);
    DefineNumber(IDS_SETTING_AUTO_LOCK_MINUTES, 5);
}

void SettingsTable::DefineAdditions() {
    DefineFlag(IDS_SETTING_LOCK_ON_SCREEN_LOCK, true);
    DefineFlag(IDS_SETTING_LOCK_ON_SUSPEND, true);
    DefineFlag(IDS_SETTING_LOCK_ON_SESSION_END, false);
    // 0: the confirmation prompt offers no remembering.
    DefineNumber(IDS_SETTING_REMEMBER_APPROVAL_MINUTES, 0);
}

}  // namespace kv
