// Menu resource 130, the tray menu: the command ids the main frame handles and the items in
// the order the menu shows them. "&" marks the accelerator of an item.
#pragma once

namespace kv {

// Tray menu command ids.
enum Command : int {
    ID_OPEN_CONFIGURATION = 32771,
    ID_UNLOCK = 32800,
    ID_LOCK = 32801,
    ID_CHANGE_PASSPHRASE = 32803,
    ID_HELP = 32804,
    ID_EXIT = 32805,
    ID_APP_ABOUT = 57664,
};

// The tray icon's identifier, which is also the id of its menu resource.
inline constexpr int IDR_TRAY_MENU = 130;

struct MenuItem {
    int command;
    const char* text;
};

inline constexpr MenuItem kTrayMenu[] = {
    {ID_OPEN_CONFIGURATION, "&Open Korvenix SSH Authentication Agent..."},
    {ID_APP_ABOUT, "About..."},
    {ID_UNLOCK, "&Unlock"},
    {ID_CHANGE_PASSPHRASE, "&Change Passphrase"},
    {ID_LOCK, "&Lock"},
    {ID_HELP, "&Help"},
    {ID_EXIT, "Exit"},
};

}  // namespace kv
