// The user's commands that the main frame routes (the tray menu's ids), in a header without
// Qt so that the windows can name them too.
#pragma once

namespace kv {

enum Command : int {
    ID_OPEN_CONFIGURATION = 32771,
    ID_UNLOCK = 32800,
    ID_LOCK = 32801,
    ID_CHANGE_PASSPHRASE = 32803,
    ID_HELP = 32804,
    ID_EXIT = 32805,
    ID_APP_ABOUT = 57664,
};

}  // namespace kv
