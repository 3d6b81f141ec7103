// Asks for a new passphrase, typed twice: the agent passphrase on first use, or the
// passphrase that protects an exported key (where an empty one may be allowed).
#pragma once

#include <QDialog>
#include <functional>

#include "platform/secure_memory.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace kv {

class CNewPassphraseDialog : public QDialog {
    Q_OBJECT
  public:
    explicit CNewPassphraseDialog(QWidget* parent = nullptr);

    void SetMessage(const QString& text);
    void SetEmptyAllowed(bool allowed, const QString& question);
    // How the empty-passphrase question is asked: returns IDYES, IDNO or IDCANCEL.
    void SetQuestionAsker(std::function<int(const QString&)> ask) { m_ask = std::move(ask); }

    // The new passphrase; both fields are emptied and every copy wiped.
    SecureBytes TakePassphrase();
    bool OkEnabled() const;
    QLineEdit* NewField() const { return m_new; }
    QLineEdit* RetypeField() const { return m_retype; }

    void accept() override;

  private:
    void UpdateOk();

    QLabel* m_message;
    QLineEdit* m_new;
    QLineEdit* m_retype;
    QPushButton* m_ok;
    bool m_empty_allowed = false;
    QString m_question;
    std::function<int(const QString&)> m_ask;
};

}  // namespace kv
