#include "ui/wizard/keygen_page.h"

#include <QAbstractButton>
#include <QFrame>
#include <QLabel>
#include <QLayout>
#include <QWizard>

namespace kv {

CKeygenWizardPage::CKeygenWizardPage(WizardKeyState& state, QString title, unsigned help_context)
    : m_state(state), m_title(std::move(title)), m_help_context(help_context) {
    setAutoFillBackground(true);
    QPalette white = palette();
    white.setColor(QPalette::Window, Qt::white);
    setPalette(white);
}

void CKeygenWizardPage::AddTopText(QLayout* layout, QWidget* text) {
    auto* rule = new QFrame(this);
    rule->setFrameShape(QFrame::HLine);
    rule->setFrameShadow(QFrame::Sunken);
    layout->addWidget(text);
    layout->addWidget(rule);
}

void CKeygenWizardPage::SetButtons(bool back, bool next) {
    QWizard* sheet = wizard();
    if (sheet == nullptr) return;
    sheet->button(QWizard::BackButton)->setEnabled(back);
    sheet->button(QWizard::NextButton)->setEnabled(next);
}

QLabel* CKeygenWizardPage::WrappedText(const QString& text) {
    auto* label = new QLabel(text, this);
    label->setWordWrap(true);
    return label;
}

}  // namespace kv
