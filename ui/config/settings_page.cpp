#include "ui/config/settings_page.h"

#include <QCheckBox>
#include <QLineEdit>

#include "app/agent_app.h"
#include "res/string_table.h"
#include "ui/config/config_widgets.h"

namespace kv {

CSettingsPage::CSettingsPage(const QString& title, unsigned help_context, CAgentApp& app,
                             QtUserInterface& ui, QWidget* parent)
    : CPropertyPage(title, help_context, parent), m_app(app), m_ui(ui) {}

bool CSettingsPage::OnKillActive() {
    const SettingBindings::Invalid invalid = m_bindings.Check();
    if (invalid.field == nullptr) return true;
    ShowMessage(m_ui, this, invalid.message, QMessageBox::Warning);
    invalid.field->setFocus(Qt::OtherFocusReason);
    invalid.field->selectAll();
    return false;
}

void CSettingsPage::OnOK() { m_bindings.Save(m_app.Settings()); }

QCheckBox* CSettingsPage::MakeFlag(const QString& text, std::uint16_t setting) {
    auto* box = Named(new QCheckBox(text, this), text);
    const char* value_name = LoadString(setting);
    box->setObjectName(value_name != nullptr ? value_name : "");
    m_bindings.Flag(box, setting);
    return box;
}

void CSettingsPage::LoadSettings() { m_bindings.Load(m_app.Settings()); }

}  // namespace kv
