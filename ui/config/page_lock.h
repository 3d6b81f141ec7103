// The settings sheet's "Lock" page: the automatic lock after inactivity, when to ask for the
// passphrase, and the change-passphrase command. Controls added later go below these, each
// bound to its setting with MakeFlag.
#pragma once

#include "ui/config/settings_page.h"

class QLineEdit;
class QPushButton;

namespace kv {

class CPageLock : public CSettingsPage {
    Q_OBJECT
  public:
    static constexpr unsigned kHelpContext = 138;
    static constexpr std::uint32_t kMaxMinutes = 30000;

    CPageLock(CAgentApp& app, QtUserInterface& ui, QWidget* parent = nullptr);

    QLineEdit* MinutesField() const { return m_minutes; }
    QPushButton* ChangePassphraseButton() const { return m_change; }

  private:
    QWidget* MakeAutoLockRow();
    // Below the controls above: locking with the desktop session (page_lock_session.cpp).
    QWidget* MakeSessionGroup();

    QLineEdit* m_minutes = nullptr;
    QPushButton* m_change;
};

}  // namespace kv
