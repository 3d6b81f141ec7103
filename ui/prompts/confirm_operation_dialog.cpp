#include "ui/prompts/confirm_operation_dialog.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextDocument>
#include <QTimer>
#include <QVBoxLayout>
#include <QtMath>

#include "app/user_interface.h"
#include "res/string_ids.h"
#include "ui/prompts/prompt_widgets.h"

namespace kv {

namespace {

// A confirmation comes to the front by itself, when a client asks, maybe just under a click
// meant for another window: Allow takes nothing until the dialog has been there this long.
constexpr int kAllowDelayMs = 700;

QLineEdit* ShownValue(QWidget* parent) {
    auto* field = new QLineEdit(parent);
    field->setReadOnly(true);
    field->setMinimumWidth(260);
    return field;
}

}  // namespace

CConfirmOperationDialog::CConfirmOperationDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(ProductCaption());
    setWindowIcon(AgentIcon(false));
    setWindowFlag(Qt::WindowStaysOnTopHint, true);
    auto* intro = new QLabel(TableText(IDS_PROMPT_REMOTE_REQUEST), this);
    QFont bold = intro->font();
    bold.setBold(true);
    intro->setFont(bold);
    m_name = ShownValue(this);
    m_comment = new QPlainTextEdit(this);
    m_comment->setReadOnly(true);
    // Three lines of the font in use: the comment is what tells the user which key it is.
    m_comment->setMaximumHeight(
        m_comment->fontMetrics().lineSpacing() * 3 +
        2 * (m_comment->frameWidth() + qCeil(m_comment->document()->documentMargin())));
    m_operation = ShownValue(this);
    m_source = ShownValue(this);
    m_remember = new QCheckBox(this);
    m_remember->setVisible(false);
    m_allow = new QPushButton(TableText(IDS_BUTTON_ALLOW), this);
    m_deny = new QPushButton(TableText(IDS_BUTTON_DENY), this);
    m_allow->setAutoDefault(false);
    m_deny->setDefault(true);

    auto* form = new QFormLayout;
    form->addRow(TableText(IDS_LABEL_KEY_NAME), m_name);
    form->addRow(TableText(IDS_LABEL_KEY_COMMENT), m_comment);
    form->addRow(TableText(IDS_LABEL_OPERATION), m_operation);
    form->addRow(TableText(IDS_LABEL_SOURCE), m_source);
    auto* text = new QVBoxLayout;
    text->addWidget(intro);
    text->addLayout(form);
    text->addWidget(m_remember);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_allow);
    buttons->addWidget(m_deny);
    ArrangeWithIcon(this, false, text)->addLayout(buttons);

    connect(m_allow, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_deny, &QPushButton::clicked, this, &QDialog::reject);
}

void CConfirmOperationDialog::SetRequest(const ConfirmOperationRequest& request) {
    m_name->setText(ClientText(request.key_name));
    m_comment->setPlainText(ClientText(request.key_comment));
    m_operation->setText(ClientText(request.operation));
    m_source->setText(ClientText(request.requester));
    m_remember->setText(ClientText(request.remember_offer));
    m_remember->setChecked(false);
    m_remember->setVisible(!request.remember_offer.empty());
}

bool CConfirmOperationDialog::RememberTicked() const {
    return !m_remember->isHidden() && m_remember->isChecked();
}

void CConfirmOperationDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    m_deny->setFocus();
    m_allow->setEnabled(false);
    QTimer::singleShot(kAllowDelayMs, m_allow, [allow = m_allow] { allow->setEnabled(true); });
    // Once the window exists, come to the front even when another program has it.
    QTimer::singleShot(0, this, [this] { TakeForeground(this); });
}

}  // namespace kv
