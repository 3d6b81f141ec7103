#include "ui/tray/system_tray.h"

#include <QCursor>
#include <QMenu>
#include <QTimer>
#include <cstdio>
#include <iterator>

#include "res/tray_menu.h"

namespace kv {

CSystemTray::CSystemTray(Target target) : m_target(std::move(target)) {}

CSystemTray::~CSystemTray() {
    if (m_menu) delete m_menu.data();
    DeleteIcon();
}

bool CSystemTray::AddIcon(const QString& tooltip, const QIcon& icon, int id) {
    m_id = id;
    m_icon = std::make_unique<QSystemTrayIcon>(icon);
    m_icon->setToolTip(tooltip);
    connect(m_icon.get(), &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) { HandleNotification(m_id, reason); });
    // Shown even without a tray: Qt adds the icon when a tray appears later.
    m_icon->show();
    if (QSystemTrayIcon::isSystemTrayAvailable()) return true;
    std::fprintf(stderr,
                 "kvsshaa: the desktop has no tray; the agent runs without its icon until one "
                 "appears (start kvsshaa again or run `kvsshaa-client show-window` for its "
                 "window)\n");
    return false;
}

void CSystemTray::ChangeIcon(const QIcon& icon) {
    if (m_icon) m_icon->setIcon(icon);
}

void CSystemTray::ChangeTooltip(const QString& tooltip) {
    if (m_icon) m_icon->setToolTip(tooltip);
}

void CSystemTray::DeleteIcon() {
    if (!m_icon) return;
    m_icon->hide();
    m_icon.reset();
}

QString CSystemTray::Tooltip() const { return m_icon ? m_icon->toolTip() : QString(); }

void CSystemTray::SetDefaultItem(int item, bool by_position) {
    m_default_item = item;
    m_default_by_position = by_position;
}

int CSystemTray::DefaultCommand() const {
    if (!m_default_by_position) return m_default_item;
    const int count = static_cast<int>(std::size(kTrayMenu));
    return m_default_item >= 0 && m_default_item < count ? kTrayMenu[m_default_item].command : 0;
}

void CSystemTray::HandleNotification(int id, QSystemTrayIcon::ActivationReason reason) {
    if (id != m_id) return;
    if (reason != QSystemTrayIcon::Context && reason != QSystemTrayIcon::DoubleClick) return;
    // With a prompt open nothing is shown or run: the user is led back to the prompt.
    if (m_target.prompt_open && m_target.prompt_open()) {
        if (m_target.bring_to_front) m_target.bring_to_front();
        return;
    }
    if (reason == QSystemTrayIcon::Context) {
        ShowMenu();
    } else if (const int command = DefaultCommand(); command != 0) {
        RunCommandLater(command);
    }
}

QMenu* CSystemTray::LoadMenu() {
    auto* menu = new QMenu;
    menu->setAttribute(Qt::WA_DeleteOnClose);
    const int default_command = DefaultCommand();
    for (const MenuItem& item : kTrayMenu) {
        QAction* action = menu->addAction(QString::fromUtf8(item.text));
        action->setData(item.command);
        action->setEnabled(!m_target.command_enabled || m_target.command_enabled(item.command));
        if (item.command == default_command) {
            QFont bold = action->font();
            bold.setBold(true);
            action->setFont(bold);
            menu->setDefaultAction(action);
        }
    }
    connect(menu, &QMenu::triggered, this,
            [this](QAction* action) { RunCommandLater(action->data().toInt()); });
    return menu;
}

void CSystemTray::ShowMenu() {
    if (m_menu) m_menu->close();
    m_menu = LoadMenu();
    m_menu->popup(QCursor::pos());
    // The menu takes the keyboard, so that its accelerators work whoever had the focus.
    m_menu->activateWindow();
}

// After the menu has closed and the click's event has been handled, so that a command
// that opens a prompt runs its own loop from a clean state. A menu may have stayed open while
// the agent changed (the automatic lock, a client's lock): an item that no longer applies does
// nothing, as it would have been greyed out in a menu opened now.
void CSystemTray::RunCommandLater(int command) {
    QTimer::singleShot(0, this, [this, command] {
        if (m_target.command_enabled && !m_target.command_enabled(command)) return;
        if (m_target.run_command) m_target.run_command(command);
    });
}

}  // namespace kv
