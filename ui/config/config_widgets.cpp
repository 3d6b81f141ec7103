#include "ui/config/config_widgets.h"

#include <QLabel>

#include "res/string_table.h"
#include "ui/prompts/prompt_widgets.h"
#include "ui/qt_user_interface.h"

namespace kv {

QString TableText(unsigned id) {
    const char* text = LoadString(id);
    return text != nullptr ? QString::fromUtf8(text) : QString();
}

QLabel* MakeNote(const QString& text, QWidget* parent) {
    auto* note = Named(new QLabel(text, parent), text);
    note->setWordWrap(true);
    return note;
}

QLabel* MakeLink(const QString& text, QWidget* parent) {
    auto* link = Named(new QLabel(parent), text);
    link->setText(QString("<a href=\"#\">%1</a>").arg(text.toHtmlEscaped()));
    link->setTextFormat(Qt::RichText);
    link->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    link->setFocusPolicy(Qt::StrongFocus);
    return link;
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
    QMessageBox box(icon, ProductCaption(), text, QMessageBox::Ok, owner);
    ui.RunDialog(box);
}

}  // namespace kv
