// The settings sheet's "Access control" page: SSH1 use, FIPS mode, what remote agents may do,
// whether every private-key operation asks first and how long an approval may be remembered.
#pragma once

#include "ui/config/settings_page.h"

class QLineEdit;

namespace kv {

class CPageCrypt : public CSettingsPage {
    Q_OBJECT
  public:
    static constexpr unsigned kHelpContext = 133;

    static constexpr std::uint32_t kMaxRememberMinutes = 1440;

    CPageCrypt(CAgentApp& app, QtUserInterface& ui, QWidget* parent = nullptr);

    QLineEdit* RememberField() const { return m_remember; }

  private:
    // Below "Always ask...": how long an approval may be remembered (page_crypt_remember.cpp).
    QWidget* MakeRememberRow(QWidget* parent);

    QLineEdit* m_remember = nullptr;
};

}  // namespace kv
