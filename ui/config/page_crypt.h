// The settings sheet's "Access control" page: SSH1 use, FIPS mode, what remote agents may do
// and whether every private-key operation asks first.
#pragma once

#include "ui/config/settings_page.h"

namespace kv {

class CPageCrypt : public CSettingsPage {
    Q_OBJECT
  public:
    static constexpr unsigned kHelpContext = 133;

    CPageCrypt(CAgentApp& app, QtUserInterface& ui, QWidget* parent = nullptr);
};

}  // namespace kv
