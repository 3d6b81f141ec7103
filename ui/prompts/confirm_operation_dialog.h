// Asks whether a client may use a private key. "&Deny" is the default, so Enter denies.
#pragma once

#include <QDialog>

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

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    QLineEdit* m_name;
    QPlainTextEdit* m_comment;
    QLineEdit* m_operation;
    QLineEdit* m_source;
    QPushButton* m_allow;
    QPushButton* m_deny;
};

}  // namespace kv
