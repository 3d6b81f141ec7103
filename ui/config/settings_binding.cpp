#include "ui/config/settings_binding.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QLineEdit>
#include <QRegularExpressionValidator>

#include "core/settings_table.h"
#include "ui/config/config_widgets.h"

namespace kv {

void SettingBindings::Flag(QCheckBox* box, std::uint16_t setting) {
    m_bindings.push_back({Kind::Flag, box, setting});
}

void SettingBindings::Number(QLineEdit* field, std::uint16_t setting, std::uint32_t min,
                             std::uint32_t max) {
    // Digits only, as the field's style asks; the range is checked on leaving the page.
    field->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]{0,10}"), field));
    m_bindings.push_back({Kind::Number, field, setting, min, max});
}

void SettingBindings::Text(QLineEdit* field, std::uint16_t setting, std::uint32_t max_bytes) {
    m_bindings.push_back({Kind::Text, field, setting, 0, max_bytes});
}

void SettingBindings::Load(const SettingsTable& settings) const {
    for (const Binding& b : m_bindings) {
        switch (b.kind) {
            case Kind::Flag:
                static_cast<QCheckBox*>(b.control)->setChecked(settings.GetFlag(b.setting));
                break;
            case Kind::Number:
                // Shown as the unsigned number the field edits, as stored.
                static_cast<QLineEdit*>(b.control)->setText(
                    QString::number(static_cast<std::uint32_t>(settings.GetNumber(b.setting))));
                break;
            case Kind::Text:
                static_cast<QLineEdit*>(b.control)->setText(
                    QString::fromUtf8(settings.GetText(b.setting)));
                break;
        }
    }
}

SettingBindings::Invalid SettingBindings::Check() const {
    for (const Binding& b : m_bindings) {
        auto* field = qobject_cast<QLineEdit*>(b.control);
        if (b.kind == Kind::Number) {
            std::uint32_t value = 0;
            if (!ParseUnsigned(field->text(), value) || value < b.min || value > b.max) {
                return {field, IntegerRangeMessage(b.min, b.max)};
            }
        } else if (b.kind == Kind::Text && field->text().toUtf8().size() > qsizetype(b.max)) {
            return {field, MaxCharactersMessage(b.max)};
        }
    }
    return {nullptr, QString()};
}

void SettingBindings::Save(SettingsTable& settings) const {
    for (const Binding& b : m_bindings) {
        switch (b.kind) {
            case Kind::Flag:
                settings.SetFlag(b.setting, static_cast<QCheckBox*>(b.control)->isChecked());
                break;
            case Kind::Number: {
                std::uint32_t value = 0;
                ParseUnsigned(static_cast<QLineEdit*>(b.control)->text(), value);
                settings.SetNumber(b.setting, static_cast<std::int32_t>(value));
                break;
            }
            case Kind::Text:
                settings.SetText(b.setting,
                                 static_cast<QLineEdit*>(b.control)->text().toStdString());
                break;
        }
    }
}

QString IntegerRangeMessage(std::uint32_t min, std::uint32_t max) {
    return QCoreApplication::translate("kv::SettingBindings",
                                       "Please enter an integer between %1 and %2.")
        .arg(min)
        .arg(max);
}

QString MaxCharactersMessage(std::uint32_t max) {
    return QCoreApplication::translate("kv::SettingBindings",
                                       "Please enter no more than %1 characters.")
        .arg(max);
}

bool ParseUnsigned(const QString& text, std::uint32_t& value) {
    bool ok = false;
    const uint parsed = text.toUInt(&ok);
    if (!ok) return false;
    value = parsed;
    return true;
}

}  // namespace kv
