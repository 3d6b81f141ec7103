#include "ui/qt_user_interface.h"

#include <QApplication>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QMessageBox>
#include <QStyle>
#include <QUrl>
#include <cstdio>
#include <cstdlib>

#include "app/agent_app.h"
#include "app/prompt_runner.h"
#include "res/string_ids.h"
#include "res/string_table.h"
#include "res/tray_menu.h"
#include "ui/about/about_dialog.h"
#include "ui/about/about_picture.h"
#include "ui/config/config_dialog.h"
#include "ui/prompts/change_passphrase_dialog.h"
#include "ui/prompts/confirm_operation_dialog.h"
#include "ui/prompts/enter_passphrase_dialog.h"
#include "ui/prompts/new_passphrase_dialog.h"
#include "ui/prompts/prompt_widgets.h"
#include "ui/prompts/unlock_dialog.h"
#include "ui/tray/agent_icon.h"
#include "ui/tray/system_tray.h"

namespace kv {

namespace {

QMessageBox::Icon IconFor(std::uint32_t style) {
    switch (style & MB_ICON_MASK) {
        case MB_ICONSTOP:
            return QMessageBox::Critical;
        case MB_ICONQUESTION:
            return QMessageBox::Question;
        case MB_ICONEXCLAMATION:
            return QMessageBox::Warning;
        case MB_ICONINFORMATION:
            return QMessageBox::Information;
        default:
            return QMessageBox::NoIcon;
    }
}

QMessageBox::StandardButtons ButtonsFor(std::uint32_t style) {
    switch (style & MB_BUTTONS_MASK) {
        case MB_OKCANCEL:
            return QMessageBox::Ok | QMessageBox::Cancel;
        case MB_YESNO:
            return QMessageBox::Yes | QMessageBox::No;
        case MB_YESNOCANCEL:
            return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
        default:
            return QMessageBox::Ok;
    }
}

int ResultOf(int button) {
    switch (button) {
        case QMessageBox::Yes:
            return IDYES;
        case QMessageBox::No:
            return IDNO;
        case QMessageBox::Cancel:
            return IDCANCEL;
        default:
            return IDOK;
    }
}

// The splash needs a screen a person looks at; offscreen runs go without it.
bool RealDisplay() {
    const QString platform = QGuiApplication::platformName();
    return platform != QLatin1String("offscreen") && platform != QLatin1String("minimal");
}

// KVSSHAA_SPLASH_MS lengthens the splash, so that tests can see it and click it away.
int SplashMilliseconds() {
    const char* value = std::getenv("KVSSHAA_SPLASH_MS");
    const int ms = value != nullptr ? std::atoi(value) : 0;
    return ms > 0 ? ms : CAboutDialog::kSplashMilliseconds;
}

}  // namespace

QtUserInterface::QtUserInterface() : AskpassUserInterface("") {}

QtUserInterface::~QtUserInterface() = default;

void QtUserInterface::Attach(CAgentApp& app, CommandRunner run_command,
                             CommandState command_enabled) {
    m_app = &app;
    m_run_command = std::move(run_command);
    m_command_enabled = std::move(command_enabled);
    AddTrayIcon();
}

void QtUserInterface::AddTrayIcon() {
    CSystemTray::Target target;
    target.run_command = [this](int id) { return RunCommand(id); };
    target.command_enabled = [this](int id) { return CommandEnabled(id); };
    target.prompt_open = [this] { return m_app->PromptDepth() > 0; };
    target.bring_to_front = [this] { m_app->BringToFront(); };
    // Every window of the agent, message boxes included, carries the padlock.
    QApplication::setWindowIcon(AgentIcon(false));
    m_tray = std::make_unique<CSystemTray>(std::move(target));
    m_tray->AddIcon(TrayTooltip(true), AgentIcon(true), IDR_TRAY_MENU);
    m_tray->SetDefaultItem(ID_OPEN_CONFIGURATION, false);
}

int QtUserInterface::RunDialog(QDialog& dialog) {
    if (m_app == nullptr) return RunModal(dialog);
    return RunPrompt(*m_app, [&] { return RunModal(dialog); });
}

int QtUserInterface::RunModal(QDialog& dialog) {
    QPointer<QWidget> previous = QApplication::activeWindow();
    m_open.emplace_back(&dialog);
    // Modal from its first showing (exec() cannot make a visible window modal), and modal to
    // its own parent only: a prompt of its own blocks nothing, so the tray icon still takes the
    // clicks that bring it forward, and the configuration window brings it forward when it is
    // activated. A dialog opened from one of the agent's windows blocks that window.
    if (dialog.windowModality() == Qt::NonModal) dialog.setWindowModality(Qt::WindowModal);
    dialog.show();
    TakeForeground(&dialog);
    const int result = dialog.exec();
    m_open.pop_back();
    if (!previous.isNull()) {
        previous->activateWindow();
        previous->update();
    }
    return result;
}

// The configuration window comes up; an open prompt goes above it and takes the focus.
void QtUserInterface::BringToFront() {
    if (m_config && m_config->isVisible()) {
        if (m_open.empty()) {
            TakeForeground(m_config.get());
        } else {
            m_config->raise();
        }
    }
    for (auto& dialog : m_open) {
        if (!dialog.isNull()) TakeForeground(dialog);
    }
}

void QtUserInterface::OpenConfigurationWindow() {
    if (m_app == nullptr) return AskpassUserInterface::OpenConfigurationWindow();
    if (!m_config) m_config = std::make_unique<CConfigDialog>(*m_app, *this);
    m_config->show();
    TakeForeground(m_config.get());
}

void QtUserInterface::RefreshWindow() {
    if (m_config) m_config->Refresh();
}

void QtUserInterface::ShowKeysAndImport() {
    if (m_app == nullptr) return;
    m_app->OpenConfigurationWindow();
    if (m_config && m_app->PromptDepth() == 0) m_config->ShowKeysAndImport();
}

void QtUserInterface::DestroyConfigurationWindow() { m_config.reset(); }

PassphraseAnswer QtUserInterface::AskNewPassphrase(const std::string& message, bool empty_allowed,
                                                   const std::string& empty_question) {
    CNewPassphraseDialog dialog;
    dialog.SetMessage(QString::fromStdString(message));
    dialog.SetEmptyAllowed(empty_allowed, QString::fromStdString(empty_question));
    PassphraseAnswer answer;
    if (RunModal(dialog) == QDialog::Accepted) {
        answer.cancelled = false;
        answer.passphrase = dialog.TakePassphrase();
    }
    return answer;
}

PassphraseAnswer QtUserInterface::AskUnlock(const std::string& operation_text) {
    CUnlockDialog dialog;
    dialog.SetOperationText(QString::fromStdString(operation_text));
    PassphraseAnswer answer;
    if (RunModal(dialog) == QDialog::Accepted) {
        answer.cancelled = false;
        answer.passphrase = dialog.TakePassphrase();
    }
    return answer;
}

ChangePassphraseAnswer QtUserInterface::AskChangePassphrase() {
    CChangePassphraseDialog dialog;
    ChangePassphraseAnswer answer;
    if (RunModal(dialog) == QDialog::Accepted) {
        answer.cancelled = false;
        dialog.TakePassphrases(answer.old_passphrase, answer.new_passphrase);
    }
    return answer;
}

PassphraseAnswer QtUserInterface::AskKeyPassphrase(const std::string& key_name,
                                                   const std::string& key_comment) {
    CEnterPassphraseDialog dialog;
    dialog.SetKey(QString::fromStdString(key_name), QString::fromStdString(key_comment));
    PassphraseAnswer answer;
    if (RunModal(dialog) == QDialog::Accepted) {
        answer.cancelled = false;
        answer.passphrase = dialog.TakePassphrase();
    }
    return answer;
}

ConfirmOperationAnswer QtUserInterface::ConfirmOperation(const ConfirmOperationRequest& request) {
    CConfirmOperationDialog dialog;
    dialog.SetRequest(request);
    const bool allowed = RunModal(dialog) == QDialog::Accepted;
    return {allowed, allowed && dialog.RememberTicked()};
}

int QtUserInterface::MessageBox(const std::string& text, const std::string& caption,
                                std::uint32_t style) {
    QMessageBox box(IconFor(style), QString::fromStdString(caption), QString::fromStdString(text),
                    ButtonsFor(style));
    box.setTextFormat(Qt::PlainText);
    box.setWindowFlag(Qt::WindowStaysOnTopHint);
    if (style & MB_DEFBUTTON2) {
        box.setDefaultButton((style & MB_BUTTONS_MASK) == MB_OKCANCEL ? QMessageBox::Cancel
                                                                      : QMessageBox::No);
    }
    // QMessageBox's modal result is the standard button that was pressed.
    return ResultOf(RunModal(box));
}

QString QtUserInterface::TrayTooltip(bool locked) {
    const char* product = LoadString(IDS_PRODUCT_NAME);
    const char* state = LoadString(locked ? IDS_TIP_LOCKED : IDS_TIP_UNLOCKED);
    return QString("%1 : %2").arg(product ? product : "", state ? state : "");
}

void QtUserInterface::ShowTrayLocked(bool locked) {
    if (!m_tray) return;
    m_tray->ChangeTooltip(TrayTooltip(locked));
    m_tray->ChangeIcon(AgentIcon(locked));
}

void QtUserInterface::ShowSplash() {
    if (!RealDisplay()) return;
    CAboutDialog splash(IDB_ABOUT, SplashMilliseconds());
    splash.show();
    TakeForeground(&splash);
    splash.exec();
}

void QtUserInterface::ShowAbout() {
    // Asked again while it is open (from the tray menu), the one open comes forward.
    if (m_about) {
        TakeForeground(m_about);
        return;
    }
    CAboutDialog about(IDB_ABOUT, 0);
    m_about = &about;
    RunModal(about);
}

bool QtUserInterface::OpenHelpPage(const std::string& path) {
    return QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(path)));
}

}  // namespace kv
