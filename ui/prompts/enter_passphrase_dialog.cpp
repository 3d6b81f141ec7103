#include "ui/prompts/enter_passphrase_dialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "res/string_ids.h"
#include "ui/prompts/passphrase_field.h"
#include "ui/prompts/prompt_widgets.h"

namespace kv {

CEnterPassphraseDialog::CEnterPassphraseDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(tr("Enter passphrase"));
    setWindowIcon(AgentIcon(false));
    setWindowFlag(Qt::WindowContextHelpButtonHint, true);
    auto* intro = new QLabel(TableText(IDS_PROMPT_ENTER_KEY_PASSPHRASE), this);
    m_comment = new QPlainTextEdit(this);
    m_comment->setReadOnly(true);
    m_comment->setMaximumHeight(48);
    m_passphrase = MakePassphraseField(this);
    QDialogButtonBox* buttons = MakeOkCancel(this, &m_ok);

    auto* form = new QFormLayout;
    form->addRow(TableText(IDS_LABEL_KEY_COMMENT_FIELD), m_comment);
    form->addRow(TableText(IDS_LABEL_KEY_PASSPHRASE), m_passphrase);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(intro);
    layout->addLayout(form);
    layout->addWidget(buttons);

    connect(m_passphrase, &QLineEdit::textChanged, this, [this] { m_ok->setEnabled(OkEnabled()); });
    m_ok->setEnabled(false);
    m_passphrase->setFocus();
}

void CEnterPassphraseDialog::SetKey(const QString& name, const QString& comment) {
    setWindowTitle(name);
    m_comment->setPlainText(comment);
}

bool CEnterPassphraseDialog::OkEnabled() const { return !m_passphrase->text().isEmpty(); }

SecureBytes CEnterPassphraseDialog::TakePassphrase() { return kv::TakePassphrase(m_passphrase); }

void CEnterPassphraseDialog::accept() {
    if (OkEnabled()) QDialog::accept();
}

}  // namespace kv
