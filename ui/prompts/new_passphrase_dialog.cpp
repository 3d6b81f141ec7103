#include "ui/prompts/new_passphrase_dialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/message_box.h"
#include "res/string_ids.h"
#include "ui/prompts/passphrase_field.h"
#include "ui/prompts/prompt_widgets.h"

namespace kv {

namespace {

int AskWithMessageBox(QWidget* owner, const QString& question) {
    const auto answer =
        QMessageBox::question(owner, ProductCaption(), question,
                              QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    if (answer == QMessageBox::Yes) return IDYES;
    return answer == QMessageBox::No ? IDNO : IDCANCEL;
}

}  // namespace

CNewPassphraseDialog::CNewPassphraseDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(ProductCaption());
    setWindowIcon(AgentIcon(false));
    m_message = new QLabel(this);
    m_message->setWordWrap(true);
    m_new = MakePassphraseField(this);
    m_retype = MakePassphraseField(this);
    QDialogButtonBox* buttons = MakeOkCancel(this, &m_ok);

    auto* form = new QFormLayout;
    form->addRow(TableText(IDS_LABEL_NEW_PASSPHRASE), m_new);
    form->addRow(TableText(IDS_LABEL_RETYPE_PASSPHRASE), m_retype);
    auto* text = new QVBoxLayout;
    text->addWidget(m_message);
    text->addLayout(form);
    ArrangeWithIcon(this, false, text)->addWidget(buttons);

    connect(m_new, &QLineEdit::textChanged, this, &CNewPassphraseDialog::UpdateOk);
    connect(m_retype, &QLineEdit::textChanged, this, &CNewPassphraseDialog::UpdateOk);
    m_ask = [this](const QString& question) { return AskWithMessageBox(this, question); };
    UpdateOk();
}

void CNewPassphraseDialog::SetMessage(const QString& text) { m_message->setText(text); }

void CNewPassphraseDialog::SetEmptyAllowed(bool allowed, const QString& question) {
    m_empty_allowed = allowed;
    m_question = question;
    UpdateOk();
}

bool CNewPassphraseDialog::OkEnabled() const {
    const QString typed = m_new->text();
    return typed == m_retype->text() && (m_empty_allowed || !typed.isEmpty());
}

void CNewPassphraseDialog::UpdateOk() { m_ok->setEnabled(OkEnabled()); }

SecureBytes CNewPassphraseDialog::TakePassphrase() {
    SecureBytes passphrase = kv::TakePassphrase(m_new);
    kv::TakePassphrase(m_retype);
    return passphrase;
}

void CNewPassphraseDialog::accept() {
    if (!OkEnabled()) return;  // Enter on a disabled OK does nothing
    if (m_empty_allowed && m_new->text().isEmpty()) {
        const int answer = m_ask(m_question);
        if (answer == IDNO) {
            m_new->setFocus();
            return;
        }
        if (answer != IDYES) {
            reject();
            return;
        }
    }
    QDialog::accept();
}

}  // namespace kv
