// The user settings, keyed by their string-table id: the seventeen the agent has always had,
// and the few it adds beside them. The value name in the registry is the text of that id.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace kv {

enum class SettingKind { Flag = 0, Number = 1, Text = 2 };

struct SettingEntry {
    std::uint16_t id = 0;
    SettingKind kind = SettingKind::Flag;
    std::int32_t value = 0;  // Flag and Number
    std::string text;        // Text
};

class SettingsTable {
  public:
    void DefineFlag(std::uint16_t id, bool value);
    void DefineNumber(std::uint16_t id, std::int32_t value);
    void DefineText(std::uint16_t id, const std::string& value);

    bool GetFlag(std::uint16_t id) const;
    std::int32_t GetNumber(std::uint16_t id) const;
    const std::string& GetText(std::uint16_t id) const;

    void SetFlag(std::uint16_t id, bool value);
    void SetNumber(std::uint16_t id, std::int32_t value);
    void SetText(std::uint16_t id, const std::string& value);

    // Reads every entry from the registry; missing or malformed values keep what is held.
    // False when the registry failed (was held by another process, say): reading stops there
    // and the entries not read keep what is held.
    bool Load();
    // Writes every entry; stops at the first failed write and returns false.
    bool Save() const;

    // Defines the seventeen settings with their defaults, in the documented order.
    void DefineDefaults();
    // Defines the settings added beside them: locking with the desktop session and
    // remembered approvals.
    void DefineAdditions();

    // Ids in definition order, for callers that show or iterate the table.
    const std::vector<std::uint16_t>& Ids() const { return m_order; }

  private:
    SettingEntry& Entry(std::uint16_t id);
    const SettingEntry& Entry(std::uint16_t id) const;
    void Define(SettingEntry entry);

    std::unordered_map<std::uint16_t, SettingEntry> m_entries;
    std::vector<std::uint16_t> m_order;
};

// The longest "Text" value accepted from the registry, terminator included.
inline constexpr std::uint32_t kSettingTextCapacity = 260;

}  // namespace kv
