// The desktop front end: the prompts as Qt dialogs, message boxes and the tray icon.
#pragma once

#include <QPointer>
#include <QSystemTrayIcon>
#include <memory>

#include "ui/askpass_user_interface.h"

class QDialog;

namespace kv {

class QtUserInterface : public AskpassUserInterface {
  public:
    QtUserInterface();
    ~QtUserInterface() override;

    PassphraseAnswer AskNewPassphrase(const std::string& message, bool empty_allowed,
                                      const std::string& empty_question) override;
    PassphraseAnswer AskUnlock(const std::string& operation_text) override;
    ChangePassphraseAnswer AskChangePassphrase() override;
    PassphraseAnswer AskKeyPassphrase(const std::string& key_name,
                                      const std::string& key_comment) override;
    bool ConfirmOperation(const ConfirmOperationRequest& request) override;
    int MessageBox(const std::string& text, const std::string& caption,
                   std::uint32_t style) override;
    void BringToFront() override;
    void ShowTrayLocked(bool locked) override;
    bool OpenHelpPage(const std::string& path) override;

  private:
    // Runs a dialog modally, then gives the foreground back to the window that had it.
    int RunModal(QDialog& dialog);

    std::unique_ptr<QSystemTrayIcon> m_tray;
    std::vector<QPointer<QDialog>> m_open;  // open prompts, topmost last
};

}  // namespace kv
