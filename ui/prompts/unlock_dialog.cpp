#include "ui/prompts/unlock_dialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "res/string_ids.h"
#include "ui/prompts/passphrase_field.h"
#include "ui/prompts/prompt_widgets.h"

namespace kv {

namespace {

// Enough for the request and a key's name or comment; a longer text ends in an ellipsis.
constexpr int kMostShown = 160;

// A client chooses the comment, so its length is bounded; a long word in it may break (see
// BreakableWords).
QString Breakable(QString text) {
    text = ClientText(text);
    if (text.size() > kMostShown) {
        text.truncate(kMostShown - 1);
        if (text.back().isHighSurrogate()) text.chop(1);
        text += QChar(0x2026);
    }
    return BreakableWords(text);
}

}  // namespace

CUnlockDialog::CUnlockDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(ProductCaption());
    setWindowIcon(AgentIcon(true));
    auto* intro = new QLabel(TableText(IDS_PROMPT_AGENT_LOCKED), this);
    intro->setWordWrap(true);
    m_passphrase = MakePassphraseField(this);
    auto* needs = new QLabel(TableText(IDS_PROMPT_OPERATION_NEEDS_UNLOCK), this);
    m_operation = new QLabel(this);
    // The text names what a client sent (a key's comment): never read as HTML.
    m_operation->setTextFormat(Qt::PlainText);
    m_operation->setWordWrap(true);
    QFont bold = m_operation->font();
    bold.setBold(true);
    m_operation->setFont(bold);
    // Wrapped at a width of its own: a label's preferred width grows with its text, and a
    // window wider than the screen allows would be cut off rather than made taller.
    m_operation->setMaximumWidth(m_operation->fontMetrics().averageCharWidth() * 50);
    QDialogButtonBox* buttons = MakeOkCancel(this, &m_ok);

    auto* form = new QFormLayout;
    form->addRow(TableText(IDS_LABEL_PASSPHRASE), m_passphrase);
    auto* text = new QVBoxLayout;
    text->addWidget(intro);
    text->addLayout(form);
    text->addWidget(needs);
    text->addWidget(m_operation);
    ArrangeWithIcon(this, true, text)->addWidget(buttons);

    connect(m_passphrase, &QLineEdit::textChanged, this, [this] { m_ok->setEnabled(OkEnabled()); });
    m_ok->setEnabled(false);
}

void CUnlockDialog::SetOperationText(const QString& text) {
    m_operation_text = text;
    m_operation->setText(Breakable(text));
}

QString CUnlockDialog::OperationText() const { return m_operation_text; }
bool CUnlockDialog::OkEnabled() const { return !m_passphrase->text().isEmpty(); }

SecureBytes CUnlockDialog::TakePassphrase() { return kv::TakePassphrase(m_passphrase); }

void CUnlockDialog::accept() {
    if (OkEnabled()) QDialog::accept();
}

}  // namespace kv
