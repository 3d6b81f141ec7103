// Asks for the old agent passphrase and a new one, typed twice.
#pragma once

#include <QDialog>

#include "platform/secure_memory.h"

class QLineEdit;
class QPushButton;

namespace kv {

class CChangePassphraseDialog : public QDialog {
    Q_OBJECT
  public:
    explicit CChangePassphraseDialog(QWidget* parent = nullptr);

    // Both passphrases at once; the three fields are emptied and every copy wiped.
    void TakePassphrases(SecureBytes& old_passphrase, SecureBytes& new_passphrase);
    bool OkEnabled() const;
    QLineEdit* OldField() const { return m_old; }
    QLineEdit* NewField() const { return m_new; }
    QLineEdit* RetypeField() const { return m_retype; }

    void accept() override;

  private:
    QLineEdit* m_old;
    QLineEdit* m_new;
    QLineEdit* m_retype;
    QPushButton* m_ok;
};

}  // namespace kv
