// Ties a settings page's controls to the settings they edit, so that a page (and the check
// boxes later added to it) only says which control shows which setting. Loading fills the
// controls; checking finds a number field that is not in its range; saving writes them back.
#pragma once

#include <QString>
#include <cstdint>
#include <vector>

class QCheckBox;
class QLineEdit;
class QWidget;

namespace kv {

class SettingsTable;

class SettingBindings {
  public:
    struct Invalid {
        QLineEdit* field;
        QString message;
    };

    void Flag(QCheckBox* box, std::uint16_t setting);
    // An unsigned number typed as digits, accepted from `min` to `max`.
    void Number(QLineEdit* field, std::uint16_t setting, std::uint32_t min, std::uint32_t max);
    // Text of at most `max_bytes` bytes in UTF-8 (longer values would not load again).
    void Text(QLineEdit* field, std::uint16_t setting, std::uint32_t max_bytes);

    void Load(const SettingsTable& settings) const;
    // The first field whose value cannot be saved: a number out of its range or not a number,
    // a text too long. Its field is null when every value is fine.
    Invalid Check() const;
    // Call only after Check() found nothing.
    void Save(SettingsTable& settings) const;

  private:
    enum class Kind { Flag, Number, Text };
    struct Binding {
        Kind kind;
        QWidget* control;
        std::uint16_t setting;
        std::uint32_t min = 0;
        std::uint32_t max = 0;
    };
    std::vector<Binding> m_bindings;
};

// "Please enter an integer between %1 and %2." with the bounds filled in.
QString IntegerRangeMessage(std::uint32_t min, std::uint32_t max);

// "Please enter no more than %1 characters."
QString MaxCharactersMessage(std::uint32_t max);

// The value of a digits-only field, or nothing when it is empty, not a number or too large
// for 32 bits.
bool ParseUnsigned(const QString& text, std::uint32_t& value);

}  // namespace kv
