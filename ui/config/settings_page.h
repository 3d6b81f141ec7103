// A page of the settings sheet: its controls are bound to settings, loaded when the page is
// made, checked when it is left or OK is pressed, and written back on OK.
#pragma once

#include <cstdint>

#include "ui/config/property_page.h"
#include "ui/config/settings_binding.h"

class QCheckBox;
class QLineEdit;

namespace kv {

class CAgentApp;
class QtUserInterface;

class CSettingsPage : public CPropertyPage {
    Q_OBJECT
  public:
    CSettingsPage(const QString& title, unsigned help_context, CAgentApp& app, QtUserInterface& ui,
                  QWidget* parent = nullptr);

    // A bad value: the standard message, then the focus on the field with its text selected.
    bool OnKillActive() override;
    void OnOK() override;

  protected:
    // A check box bound to `setting`, its object name the setting's registry value name.
    QCheckBox* MakeFlag(const QString& text, std::uint16_t setting);
    // Fills the controls; derived pages call it once every control is bound.
    void LoadSettings();

    SettingBindings& Bindings() { return m_bindings; }
    CAgentApp& App() { return m_app; }
    QtUserInterface& Ui() { return m_ui; }

  private:
    CAgentApp& m_app;
    QtUserInterface& m_ui;
    SettingBindings m_bindings;
};

}  // namespace kv
