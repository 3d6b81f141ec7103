// Step 1 of the key generation wizard: the key type and size.
#pragma once

#include "ui/wizard/keygen_page.h"

class QComboBox;

namespace kv {

class CWizardPageKvcKeygenStart : public CKeygenWizardPage {
    Q_OBJECT
  public:
    explicit CWizardPageKvcKeygenStart(WizardKeyState& state);

    QComboBox* TypeBox() const { return m_type; }
    QComboBox* LengthBox() const { return m_length; }

    void initializePage() override;
    bool validatePage() override;

  private:
    QComboBox* m_type;
    QComboBox* m_length;
};

}  // namespace kv
