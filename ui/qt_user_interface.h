// The desktop front end: the prompts as Qt dialogs, message boxes and the tray icon.
#pragma once

#include <QPointer>
#include <QString>
#include <functional>
#include <memory>

#include "ui/askpass_user_interface.h"

class QDialog;

namespace kv {

class CAgentApp;
class CConfigDialog;
class CSystemTray;

class QtUserInterface : public AskpassUserInterface {
  public:
    // Runs a command of the main frame (tray menu ids); false when the id is not routed.
    using CommandRunner = std::function<bool(int command_id)>;
    // Whether a command of the main frame is enabled now (its command-update handler).
    using CommandState = std::function<bool(int command_id)>;

    QtUserInterface();
    ~QtUserInterface() override;

    // Called while the main frame is created, before its first prompt: the windows read the
    // application's state and send the user's commands to the main frame. The tray icon
    // appears now, locked.
    void Attach(CAgentApp& app, CommandRunner run_command, CommandState command_enabled = {});
    CAgentApp* App() const { return m_app; }
    bool RunCommand(int command_id) const { return m_run_command && m_run_command(command_id); }
    bool CommandEnabled(int command_id) const {
        return !m_command_enabled || m_command_enabled(command_id);
    }
    // The tray icon, once attached.
    CSystemTray* Tray() const { return m_tray.get(); }

    // A modal window the user opened from the agent's own windows (settings sheet, key
    // dialogs, file choosers, the wizard): it is on the application's modal prompt stack
    // while it runs, and the window that had the foreground gets it back. QDialog::Rejected
    // without running when the stack is full.
    int RunDialog(QDialog& dialog);

    PassphraseAnswer AskNewPassphrase(const std::string& message, bool empty_allowed,
                                      const std::string& empty_question) override;
    PassphraseAnswer AskUnlock(const std::string& operation_text) override;
    ChangePassphraseAnswer AskChangePassphrase() override;
    PassphraseAnswer AskKeyPassphrase(const std::string& key_name,
                                      const std::string& key_comment) override;
    ConfirmOperationAnswer ConfirmOperation(const ConfirmOperationRequest& request) override;

    // The configuration window: made at the first open, then only shown and hidden.
    void OpenConfigurationWindow() override;
    void RefreshWindow() override;
    bool WindowIsOpen() const override { return m_config != nullptr; }
    // "Add key...": the window opens on its Keys page and the import starts.
    void ShowKeysAndImport();
    CConfigDialog* ConfigWindow() const { return m_config.get(); }
    // At exit, while the application object still exists: the window's pages let go of it.
    void DestroyConfigurationWindow();

    int MessageBox(const std::string& text, const std::string& caption,
                   std::uint32_t style) override;
    void BringToFront() override;
    void ShowTrayLocked(bool locked) override;
    void ShowSplash() override;
    void ShowAbout() override;
    bool OpenHelpPage(const std::string& path) override;

    // The tray's tooltip: the product name, " : " and "Locked" or "Unlocked".
    static QString TrayTooltip(bool locked);

  private:
    // Runs a dialog modally, then gives the foreground back to the window that had it.
    int RunModal(QDialog& dialog);
    void AddTrayIcon();

    CAgentApp* m_app = nullptr;
    CommandRunner m_run_command;
    CommandState m_command_enabled;
    std::unique_ptr<CSystemTray> m_tray;
    std::vector<QPointer<QDialog>> m_open;  // open prompts, topmost last
    std::unique_ptr<CConfigDialog> m_config;
    QPointer<QDialog> m_about;
};

}  // namespace kv
