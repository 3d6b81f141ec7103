#include "ui/config/config_widgets.h"

#include <QKeyEvent>
#include <QLabel>

#include "res/string_table.h"
#include "ui/prompts/prompt_widgets.h"
#include "ui/qt_user_interface.h"

namespace kv {

QLabel* MakeNote(const QString& text, QWidget* parent) {
    auto* note = Named(new QLabel(text, parent), text);
    note->setWordWrap(true);
    return note;
}

LinkButton::LinkButton(const QString& text, QWidget* parent) : QPushButton(text, parent) {
    Named(this, text);
    setFlat(true);
    // Never the dialog's default button: Enter elsewhere must not run a link.
    setAutoDefault(false);
    setCursor(Qt::PointingHandCursor);
    QFont underlined = font();
    underlined.setUnderline(true);
    setFont(underlined);
    QPalette colours = palette();
    colours.setColor(QPalette::ButtonText, colours.color(QPalette::Link));
    setPalette(colours);
}

void LinkButton::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        click();
        return;
    }
    QPushButton::keyPressEvent(event);
}

void FocusFirstControl(QWidget* container) {
    for (QWidget* w = container->nextInFocusChain(); w != container && container->isAncestorOf(w);
         w = w->nextInFocusChain()) {
        if ((w->focusPolicy() & Qt::TabFocus) != 0 && w->isEnabled() && w->isVisibleTo(container)) {
            w->setFocus(Qt::TabFocusReason);
            return;
        }
    }
}

void ShowMessage(QtUserInterface& ui, QWidget* owner, const QString& text, QMessageBox::Icon icon) {
    // A long word (a key name without spaces) wraps rather than running out of the box.
    QMessageBox box(icon, ProductCaption(), BreakableWords(text), QMessageBox::Ok, owner);
    box.setTextFormat(Qt::PlainText);  // event log entries hold text that clients sent
    ui.RunDialog(box);
}

}  // namespace kv
