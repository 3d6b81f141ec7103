// Pieces every prompt shares: passphrase fields that show "*", the agent's icons, the
// caption, and a way to take the foreground from another program.
#pragma once

#include <QDialog>
#include <QIcon>
#include <QLineEdit>
#include <QString>
#include <string>

#include "ui/tray/agent_icon.h"

class QDialogButtonBox;
class QLabel;
class QLayout;
class QPushButton;
class QVBoxLayout;

namespace kv {

// A PassphraseField (ui/prompts/passphrase_field.h): its passphrase is read with
// TakePassphrase, and what is left in it is wiped when it goes.
QLineEdit* MakePassphraseField(QWidget* parent);
// OK (the default button) and Cancel, wired to the dialog's accept and reject.
QDialogButtonBox* MakeOkCancel(QDialog* dialog, QPushButton** ok);
// The prompts' shape: the agent's icon beside `text`. Returns the outer layout, to which the
// caller adds its buttons.
QVBoxLayout* ArrangeWithIcon(QDialog* dialog, bool locked, QLayout* text);
QLabel* MakeIconLabel(bool locked, QWidget* parent);
QString ProductCaption();
// The string-table text of `id`; empty when the table has none.
QString TableText(unsigned id);
// A client's text (a key's name or comment, a program's name) as a prompt shows it: without
// the direction controls that would reorder it or the prompt's own words around it, so that
// a program named U+202E "hss" cannot read as "ssh".
QString ClientText(const QString& text);
inline QString ClientText(const std::string& text) {
    return ClientText(QString::fromStdString(text));
}
// `text` with a zero-width space wherever more than `longest` characters have passed without
// a space, so that a word longer than a window is wide (a key comment without spaces) wraps
// there rather than stretching the window past the screen or running out of it. Breaks fall
// between whole characters as drawn: not inside a surrogate pair or an emoji sequence.
QString BreakableWords(const QString& text, int longest = 16);
// Raises the dialog above other windows and asks for the keyboard focus.
void TakeForeground(QDialog* dialog);

}  // namespace kv
