// Asks for the passphrase of a private key being imported, showing the key's comment.
#pragma once

#include <QDialog>

#include "platform/secure_memory.h"

class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace kv {

class CEnterPassphraseDialog : public QDialog {
    Q_OBJECT
  public:
    explicit CEnterPassphraseDialog(QWidget* parent = nullptr);

    // The caption is the key pair's name.
    void SetKey(const QString& name, const QString& comment);
    // The passphrase typed; the field is emptied and every copy wiped.
    SecureBytes TakePassphrase();
    bool OkEnabled() const;
    QLineEdit* PassphraseField() const { return m_passphrase; }

    void accept() override;

  private:
    QPlainTextEdit* m_comment;
    QLineEdit* m_passphrase;
    QPushButton* m_ok;
};

}  // namespace kv
