// Step 1: the key type and size.
#include "ui/wizard/keygen_start_page.h"

#include <QComboBox>
#include <QLabel>
#include <QVBoxLayout>
#include <QWizard>
#include <array>

namespace kv {

namespace {

constexpr std::array<std::int32_t, 4> kLengths = {768, 1024, 2048, 3072};

}  // namespace

CWizardPageKvcKeygenStart::CWizardPageKvcKeygenStart(WizardKeyState& state)
    : CKeygenWizardPage(state, tr("(Step 1/3) Select key type and size"), 148) {
    m_type = new QComboBox(this);
    m_type->addItems({"DSA", "RSA"});
    m_length = new QComboBox(this);
    for (const std::int32_t bits : kLengths) m_length->addItem(QString::number(bits));
    m_type->setCurrentIndex(-1);
    m_length->setCurrentIndex(-1);

    auto* type_label = new QLabel(tr("Key &Type:"), this);
    type_label->setBuddy(m_type);
    auto* length_label = new QLabel(tr("Key &Length:"), this);
    length_label->setBuddy(m_length);

    auto* layout = new QVBoxLayout(this);
    AddTopText(layout, WrappedText(tr("This wizard will generate a new pair of SSH2 keys to be "
                                      "used for public key authentication. The keypair "
                                      "generated will be stored in Korvenix SSH "
                                      "Authentication Agent.")));
    layout->addWidget(
        WrappedText(tr("Please select the public key algorithm that will be used "
                       "for your keypair. The supported public key algorithms "
                       "are RSA and DSA.")));
    layout->addWidget(type_label);
    layout->addWidget(m_type);
    layout->addSpacing(12);
    layout->addWidget(
        WrappedText(tr("Please select the length for your keypair. Longer keys "
                       "provide better security while shorter keys provide "
                       "better speed.The optimal key length for most "
                       "applications is 1024 bits.")));
    layout->addWidget(length_label);
    layout->addWidget(m_length);
    layout->addStretch(1);
}

void CWizardPageKvcKeygenStart::initializePage() {
    m_type->setCurrentIndex(m_state.key_type == WizardKeyDsa ? 0 : 1);
    int length_index = -1;
    for (std::size_t i = 0; i < kLengths.size(); ++i) {
        if (kLengths[i] == m_state.bits) length_index = static_cast<int>(i);
    }
    m_length->setCurrentIndex(length_index);
}

bool CWizardPageKvcKeygenStart::validatePage() {
    const int length_index = m_length->currentIndex();
    if (length_index < 0 || length_index >= static_cast<int>(kLengths.size())) return false;
    const std::int32_t bits = kLengths[static_cast<std::size_t>(length_index)];
    const std::int32_t type = m_type->currentIndex() == 0 ? WizardKeyDsa : WizardKeyRsa;
    // No worker runs while this page is shown, so the record is the page's to change.
    if (!m_state.generated_key.IsValid() || type != m_state.key_type || bits != m_state.bits) {
        m_state.key_type = type;
        m_state.bits = bits;
        m_state.ReleaseKey();
    }
    return true;
}

}  // namespace kv
