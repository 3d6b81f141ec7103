#include "ui/prompts/prompt_widgets.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QTextBoundaryFinder>

#include "res/string_ids.h"
#include "res/string_table.h"
#include "ui/prompts/passphrase_field.h"

namespace kv {

QLineEdit* MakePassphraseField(QWidget* parent) {
    auto* field = new PassphraseField(parent);
    field->setMinimumWidth(220);
    return field;
}

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

QLabel* MakeIconLabel(bool locked, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setPixmap(AgentIcon(locked).pixmap(32, 32));
    label->setAlignment(Qt::AlignTop);
    return label;
}

QString ProductCaption() { return TableText(IDS_CAPTION); }

QString TableText(unsigned id) {
    const char* text = LoadString(id);
    return text != nullptr ? QString::fromUtf8(text) : QString();
}

QString ClientText(const QString& text) {
    QString shown;
    shown.reserve(text.size());
    for (const QChar c : text) {
        switch (c.direction()) {
            case QChar::DirLRE:
            case QChar::DirRLE:
            case QChar::DirLRO:
            case QChar::DirRLO:
            case QChar::DirPDF:
            case QChar::DirLRI:
            case QChar::DirRLI:
            case QChar::DirFSI:
            case QChar::DirPDI:
                continue;
            default:
                shown += c;
        }
    }
    return shown;
}

QString BreakableWords(const QString& text, int longest) {
    QString out;
    int run = 0;
    QTextBoundaryFinder characters(QTextBoundaryFinder::Grapheme, text);
    for (qsizetype start = 0, end; (end = characters.toNextBoundary()) != -1; start = end) {
        const QStringView character = QStringView(text).sliced(start, end - start);
        run = character.front().isSpace() ? 0 : run + 1;
        if (run > longest) {
            out += QChar(0x200B);
            run = 1;
        }
        out += character;
    }
    return out;
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
