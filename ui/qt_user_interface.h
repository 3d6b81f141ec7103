// The desktop front end: message boxes and the tray icon in Qt Widgets. Prompts go through
// the askpass path until the dialogs replace them.
#pragma once

#include <QSystemTrayIcon>
#include <memory>

#include "ui/askpass_user_interface.h"

namespace kv {

class QtUserInterface : public AskpassUserInterface {
public:
    explicit QtUserInterface(std::string askpass_program);
    ~QtUserInterface() override;

    int MessageBox(const std::string& text, const std::string& caption,
                   std::uint32_t style) override;
    void ShowTrayLocked(bool locked) override;
    bool OpenHelpPage(const std::string& path) override;

private:
    std::unique_ptr<QSystemTrayIcon> m_tray;
};

}  // namespace kv
