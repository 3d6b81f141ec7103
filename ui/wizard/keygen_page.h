// What every page of the key generation wizard has.
#pragma once

#include <QString>
#include <QWizardPage>

#include "ui/wizard/wizard_key_state.h"

class QLabel;

namespace kv {

// A white page with a title the wizard shows as its caption, a help context, and a hook the
// wizard calls once the page is current and the wizard has set its buttons.
class CKeygenWizardPage : public QWizardPage {
    Q_OBJECT
  public:
    CKeygenWizardPage(WizardKeyState& state, QString title, unsigned help_context);
    const QString& PageTitle() const { return m_title; }
    unsigned HelpContext() const { return m_help_context; }
    virtual void Activated() {}

  protected:
    // The text at the top of a page, above a horizontal rule.
    void AddTopText(QLayout* layout, QWidget* text);
    void SetButtons(bool back, bool next);
    QLabel* WrappedText(const QString& text);

    WizardKeyState& m_state;

  private:
    QString m_title;
    unsigned m_help_context;
};

}  // namespace kv
