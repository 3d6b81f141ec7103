#include "ui/prompts/change_passphrase_dialog.h"

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

CChangePassphraseDialog::CChangePassphraseDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(ProductCaption());
    setWindowIcon(AgentIcon(false));
    auto* intro = new QLabel(TableText(IDS_PROMPT_SELECT_NEW_PASSPHRASE), this);
    intro->setWordWrap(true);
    m_old = MakePassphraseField(this);
    m_new = MakePassphraseField(this);
    m_retype = MakePassphraseField(this);
    QDialogButtonBox* buttons = MakeOkCancel(this, &m_ok);

    auto* form = new QFormLayout;
    form->addRow(TableText(IDS_LABEL_OLD_PASSPHRASE), m_old);
    form->addRow(TableText(IDS_LABEL_NEW_PASSPHRASE), m_new);
    form->addRow(TableText(IDS_LABEL_RETYPE_PASSPHRASE), m_retype);
    auto* text = new QVBoxLayout;
    text->addWidget(intro);
    text->addLayout(form);
    ArrangeWithIcon(this, false, text)->addWidget(buttons);

    for (QLineEdit* field : {m_old, m_new, m_retype}) {
        connect(field, &QLineEdit::textChanged, this, [this] { m_ok->setEnabled(OkEnabled()); });
    }
    m_ok->setEnabled(false);
}

bool CChangePassphraseDialog::OkEnabled() const {
    return !m_old->text().isEmpty() && !m_new->text().isEmpty() &&
           m_new->text() == m_retype->text();
}

void CChangePassphraseDialog::TakePassphrases(SecureBytes& old_passphrase,
                                              SecureBytes& new_passphrase) {
    old_passphrase = TakePassphrase(m_old);
    new_passphrase = TakePassphrase(m_new);
    TakePassphrase(m_retype);
}

void CChangePassphraseDialog::accept() {
    if (OkEnabled()) QDialog::accept();
}

}  // namespace kv
