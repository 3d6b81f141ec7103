// The agent's icon in the desktop's tray and its menu. A right click opens the menu (menu
// resource 130, built afresh each time with the enabled states of that moment), a double
// click runs the default item; while a prompt is open, clicks only bring the prompt forward.
#pragma once

#include <QIcon>
#include <QMenu>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QSystemTrayIcon>
#include <functional>
#include <memory>

namespace kv {

class CSystemTray : public QObject {
    Q_OBJECT
  public:
    // Where the tray's clicks go: the main frame's commands and the application's prompts.
    struct Target {
        std::function<bool(int command)> run_command;
        std::function<bool(int command)> command_enabled;
        std::function<bool()> prompt_open;
        std::function<void()> bring_to_front;
    };

    explicit CSystemTray(Target target);
    ~CSystemTray() override;

    // Shows the icon. False when the desktop has no tray now, which is said once on stderr;
    // the icon then appears as soon as a tray does.
    bool AddIcon(const QString& tooltip, const QIcon& icon, int id);
    void ChangeIcon(const QIcon& icon);
    void ChangeTooltip(const QString& tooltip);
    void DeleteIcon();
    // The menu's default item (shown bold, run by a double click): a position in the menu,
    // or a command id.
    void SetDefaultItem(int item, bool by_position);
    void HandleNotification(int id, QSystemTrayIcon::ActivationReason reason);

    // The command the default item runs.
    int DefaultCommand() const;
    // The menu while it is open, else null.
    QMenu* OpenMenu() const { return m_menu; }
    QString Tooltip() const;

  private:
    QMenu* LoadMenu();
    void ShowMenu();
    void RunCommandLater(int command);

    Target m_target;
    std::unique_ptr<QSystemTrayIcon> m_icon;
    int m_id = 0;
    int m_default_item = 0;
    bool m_default_by_position = true;
    QPointer<QMenu> m_menu;
};

}  // namespace kv
