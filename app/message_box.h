// Message box styles and results, with the values callers and stored expectations use.
#pragma once

#include <cstdint>

namespace kv {

enum MessageBoxStyle : std::uint32_t {
    MB_OK = 0x00,
    MB_OKCANCEL = 0x01,
    MB_YESNOCANCEL = 0x03,
    MB_YESNO = 0x04,
    MB_ICONSTOP = 0x10,
    MB_ICONQUESTION = 0x20,
    MB_ICONEXCLAMATION = 0x30,
    MB_ICONINFORMATION = 0x40,
    MB_DEFBUTTON2 = 0x100,  // the second button (No, Cancel) is the default
    MB_BUTTONS_MASK = 0x0F,
    MB_ICON_MASK = 0xF0,
};

enum MessageBoxResult : int { IDOK = 1, IDCANCEL = 2, IDYES = 6, IDNO = 7 };

}  // namespace kv
