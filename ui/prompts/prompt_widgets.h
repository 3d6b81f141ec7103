// Pieces every prompt shares: passphrase fields that show "*", the agent's icons, the
// caption, and a way to take the foreground from another program.
#pragma once

#include <QDialog>
#include <QIcon>
#include <QLineEdit>
#include <QString>

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
// Raises the dialog above other windows and asks for the keyboard focus.
void TakeForeground(QDialog* dialog);

}  // namespace kv
