// Small pieces the configuration window and the settings sheet share: texts from the string
// table, accessible names, wrapped notes, link labels and message boxes owned by a page.
#pragma once

#include <QMessageBox>
#include <QPushButton>
#include <QString>

#include "ui/prompts/prompt_widgets.h"

class QLabel;
class QWidget;

namespace kv {

class QtUserInterface;

// Names `widget` for screen readers and tests: `text` without its accelerator marks.
template <class Widget>
Widget* Named(Widget* widget, const QString& text) {
    QString name = text;
    name.remove(QChar('&'));
    widget->setAccessibleName(name);
    return widget;
}

// A word-wrapped explanatory text.
QLabel* MakeNote(const QString& text, QWidget* parent);

// A button that reads as a link: reached with Tab, run with a click, Enter or Space.
class LinkButton : public QPushButton {
    Q_OBJECT
  public:
    LinkButton(const QString& text, QWidget* parent);

  protected:
    void keyPressEvent(QKeyEvent* event) override;
};

// Gives the keyboard focus to the first control inside `container` that Tab can reach.
void FocusFirstControl(QWidget* container);

// A message box owned by `owner` with the product name as caption, run on the modal prompt
// stack.
void ShowMessage(QtUserInterface& ui, QWidget* owner, const QString& text, QMessageBox::Icon icon);

}  // namespace kv
