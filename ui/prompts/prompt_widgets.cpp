#include "ui/prompts/prompt_widgets.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QStyle>

#include "res/string_ids.h"
#include "res/string_table.h"
#include "ui/prompts/passphrase_field.h"

namespace kv {

QLineEdit* MakePassphraseField(QWidget* parent) {
    auto* field = new PassphraseField(parent);
    field->setMinimumWidth(220);
    return field;
}

// A padlock drawn in code: closed for the locked agent, open for the unlocked one.
QDialogButtonBox* MakeOkCancel(QDialog* dialog, QPushButton** ok) {
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);
    *ok = buttons->button(QDialogButtonBox::Ok);
    (*ok)->setDefault(true);
    QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    return buttons;
}

QVBoxLayout* ArrangeWithIcon(QDialog* dialog, bool locked, QLayout* text) {
    auto* row = new QHBoxLayout;
    row->addWidget(MakeIconLabel(locked, dialog));
    row->addLayout(text, 1);
    auto* layout = new QVBoxLayout(dialog);
    layout->addLayout(row);
    return layout;
}

QIcon AgentIcon(bool locked) {
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(60, 60, 60), 3));
    const int shackle_x = locked ? 8 : 14;
    p.drawArc(shackle_x, 3, 16, 18, 0, 180 * 16);
    p.drawLine(shackle_x, 12, shackle_x, 16);
    p.drawLine(shackle_x + 16, 12, shackle_x + 16, locked ? 16 : 12);
    p.setPen(Qt::NoPen);
    p.setBrush(locked ? QColor(190, 40, 40) : QColor(40, 150, 60));
    p.drawRoundedRect(5, 14, 22, 16, 3, 3);
    p.setBrush(Qt::white);
    p.drawEllipse(14, 19, 4, 4);
    return QIcon(pixmap);
}

QLabel* MakeIconLabel(bool locked, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setPixmap(AgentIcon(locked).pixmap(32, 32));
    label->setAlignment(Qt::AlignTop);
    return label;
}

QString ProductCaption() {
    const char* caption = LoadString(IDS_CAPTION);
    return caption != nullptr ? QString::fromUtf8(caption) : QString();
}

void TakeForeground(QDialog* dialog) {
    // Twice, as one raise is not always enough when another program holds the foreground.
    for (int i = 0; i < 2; ++i) {
        dialog->setWindowState((dialog->windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
        dialog->raise();
        dialog->activateWindow();
    }
}

}  // namespace kv
