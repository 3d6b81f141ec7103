#include "ui/config/settings_sheet.h"

#include <QDialogButtonBox>
#include <QKeySequence>
#include <QLayout>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QVBoxLayout>
#include <algorithm>

#include "app/agent_app.h"
#include "app/unlock_on_demand.h"
#include "res/string_ids.h"
#include "res/string_table.h"
#include "ui/config/config_widgets.h"
#include "ui/config/page_crypt.h"
#include "ui/config/page_lock.h"
#include "ui/config/page_log.h"
#include "ui/config/property_sheet.h"
#include "ui/prompts/prompt_widgets.h"
#include "ui/qt_user_interface.h"

namespace kv {

namespace {

// The sheet that is open, as the application records it beside the modal prompt stack.
QPointer<CSettingsSheet> g_open_sheet;

// The sheet opens, and its OK changes anything, only on an unlocked agent.
bool UnlockForSettings(CAgentApp& app) {
    const char* prompt = LoadString(IDS_PROMPT_SETTINGS);
    return UnlockOnDemand(app, prompt != nullptr ? prompt : "", false);
}

}  // namespace

CSettingsSheet::CSettingsSheet(CAgentApp& app, QtUserInterface& ui, QWidget* parent)
    : QDialog(parent), m_app(app) {
    setWindowTitle(TableText(IDS_SETTINGS_CAPTION));
    setWindowIcon(AgentIcon(false));
    m_sheet = new CMyPropertySheet(this);
    m_crypt = new CPageCrypt(app, ui);
    m_lock = new CPageLock(app, ui);
    m_log = new CPageLog(app, ui);
    m_sheet->AddPage(m_crypt);
    m_sheet->AddPage(m_lock);
    m_sheet->AddPage(m_log);

    auto* buttons = new QDialogButtonBox(
        QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Help, this);
    m_ok = buttons->button(QDialogButtonBox::Ok);
    m_ok->setDefault(true);
    for (QAbstractButton* button : buttons->buttons()) Named(button, button->text());
    connect(buttons, &QDialogButtonBox::accepted, this, &CSettingsSheet::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CSettingsSheet::reject);
    connect(buttons, &QDialogButtonBox::helpRequested, this, &CSettingsSheet::OnHelp);
    auto* f1 = new QShortcut(QKeySequence(Qt::Key_F1), this);
    connect(f1, &QShortcut::activated, this, &CSettingsSheet::OnHelp);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_sheet);
    layout->addWidget(buttons);
}

void CSettingsSheet::accept() {
    // The agent may have been locked while the sheet was open: its settings change only on an
    // unlocked agent, as when the sheet opened. Cancelled, the sheet stays open.
    if (!UnlockForSettings(m_app)) return;
    if (m_sheet->OnOK()) QDialog::accept();
}

// A tab page does not ask for the height its wrapped notes need at the width they get (a
// larger font wraps them into more lines), so the sheet grows to it once laid out, as far as
// the screen allows.
void CSettingsSheet::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    const QWidget* shown = m_sheet->currentWidget();
    int missing = 0;
    for (int i = 0; i < m_sheet->count(); ++i) {
        QLayout* page = m_sheet->widget(i)->layout();
        if (page != nullptr && page->hasHeightForWidth())
            missing =
                std::max(missing, page->totalHeightForWidth(shown->width()) - shown->height());
    }
    if (missing <= 0) return;
    const int frame = frameGeometry().height() - height();
    const int room = screen()->availableGeometry().height() - frame;
    resize(width(), std::min(height() + missing, std::max(room, height())));
}

void CSettingsSheet::OnHelp() { m_app.ShowHelp(m_sheet->ActiveHelpContext()); }

void OpenSettingsSheet(CAgentApp& app, QtUserInterface& ui, QWidget* owner) {
    if (!g_open_sheet.isNull()) {
        ui.BringToFront();
        return;
    }
    if (!UnlockForSettings(app)) return;
    // The registry was busy when the settings were read: the agent runs on the defaults, and a
    // sheet showing them would write them over the stored values on OK. Read them now.
    if (app.SettingsUnread()) app.InitSettings();
    if (app.SettingsUnread()) {
        app.Log().LogMessage(nullptr, LogError, IDS_SETTINGS_NOT_READ);
        app.MessageBox(IDS_SETTINGS_NOT_READ, MB_OK | MB_ICONEXCLAMATION);
        return;
    }

    CSettingsSheet sheet(app, ui, owner);
    app.RestartAutoLock();
    g_open_sheet = &sheet;
    const int result = ui.RunDialog(sheet);
    g_open_sheet = nullptr;
    if (result == QDialog::Accepted) {
        // A failed write keeps the new values in memory; the agent follows them until exit,
        // and the user is told, since they are gone at the next start.
        if (!app.Settings().Save()) {
            app.Log().LogMessage(nullptr, LogError, IDS_SETTINGS_NOT_SAVED);
            app.MessageBox(IDS_SETTINGS_NOT_SAVED, MB_OK | MB_ICONEXCLAMATION);
        }
        app.ApplySettings();
    }
    app.RestartAutoLock();
}

}  // namespace kv
