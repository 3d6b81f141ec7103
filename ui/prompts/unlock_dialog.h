// Asks for the agent passphrase, saying which operation needs the agent unlocked.
#pragma once

#include <QDialog>

#include "platform/secure_memory.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace kv {

class CUnlockDialog : public QDialog {
    Q_OBJECT
  public:
    explicit CUnlockDialog(QWidget* parent = nullptr);

    void SetOperationText(const QString& text);
    // The passphrase typed; the field is emptied and every copy of it wiped.
    SecureBytes TakePassphrase();
    bool OkEnabled() const;
    QLineEdit* PassphraseField() const { return m_passphrase; }
    QString OperationText() const;

    void accept() override;

  private:
    QLineEdit* m_passphrase;
    QLabel* m_operation;
    QString m_operation_text;
    QPushButton* m_ok;
};

}  // namespace kv
