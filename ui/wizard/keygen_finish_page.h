// Step 3 of the key generation wizard: a proposed name and comment; Finish stores the key.
#pragma once

#include "ui/wizard/keygen_page.h"

class QLineEdit;

namespace kv {

class CAgentApp;

class CWizardPageKvcKeygenFinish : public CKeygenWizardPage {
    Q_OBJECT
  public:
    CWizardPageKvcKeygenFinish(CAgentApp& app, WizardKeyState& state);

    QLineEdit* NameField() const { return m_name; }
    QLineEdit* CommentField() const { return m_comment; }

    void initializePage() override;
    bool validatePage() override;
    bool isComplete() const override;

  private:
    CAgentApp& m_app;
    QLineEdit* m_name;
    QLineEdit* m_comment;
};

}  // namespace kv
