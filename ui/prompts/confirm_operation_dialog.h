// Asks whether a client may use a private key. "&Deny" is the default, so Enter denies. When
// the request offers it, a check box below the fields lets the user have an approval
// remembered; it starts unticked, and without the offer it is not there at all.
#pragma once

#include <QDialog>

class QCheckBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace kv {

struct ConfirmOperationRequest;

class CConfirmOperationDialog : public QDialog {
    Q_OBJECT
  public:
    explicit CConfirmOperationDialog(QWidget* parent = nullptr);

    void SetRequest(const ConfirmOperationRequest& request);
    QPushButton* AllowButton() const { return m_allow; }
    QPushButton* DenyButton() const { return m_deny; }
    QCheckBox* RememberBox() const { return m_remember; }
    // True when the box was offered and ticked.
    bool RememberTicked() const;

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    QLineEdit* m_name;
    QPlainTextEdit* m_comment;
    QLineEdit* m_operation;
    QLineEdit* m_source;
    QCheckBox* m_remember;
    QPushButton* m_allow;
    QPushButton* m_deny;
};

}  // namespace kv
