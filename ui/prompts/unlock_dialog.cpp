#include "ui/prompts/unlock_dialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/prompts/passphrase_field.h"
#include "ui/prompts/prompt_widgets.h"

namespace kv {

CUnlockDialog::CUnlockDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(ProductCaption());
    setWindowIcon(AgentIcon(true));
    auto* intro = new QLabel(tr("Korvenix SSH Authentication Agent is currently locked. You can "
                                "unlock it by entering your secret passphrase."),
                             this);
    intro->setWordWrap(true);
    m_passphrase = MakePassphraseField(this);
    auto* needs = new QLabel(tr("The following operation requires Agent to be unlocked:"), this);
    m_operation = new QLabel(this);
    m_operation->setWordWrap(true);
    QFont bold = m_operation->font();
    bold.setBold(true);
    m_operation->setFont(bold);
    QDialogButtonBox* buttons = MakeOkCancel(this, &m_ok);

    auto* form = new QFormLayout;
    form->addRow(tr("&Passphrase"), m_passphrase);
    auto* text = new QVBoxLayout;
    text->addWidget(intro);
    text->addLayout(form);
    text->addWidget(needs);
    text->addWidget(m_operation);
    ArrangeWithIcon(this, true, text)->addWidget(buttons);

    connect(m_passphrase, &QLineEdit::textChanged, this, [this] { m_ok->setEnabled(OkEnabled()); });
    m_ok->setEnabled(false);
}

void CUnlockDialog::SetOperationText(const QString& text) { m_operation->setText(text); }
QString CUnlockDialog::OperationText() const { return m_operation->text(); }
bool CUnlockDialog::OkEnabled() const { return !m_passphrase->text().isEmpty(); }

SecureBytes CUnlockDialog::TakePassphrase() { return kv::TakePassphrase(m_passphrase); }

void CUnlockDialog::accept() {
    if (OkEnabled()) QDialog::accept();
}

}  // namespace kv
