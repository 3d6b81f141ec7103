#include "ui/wizard/keygen_wizard.h"

#include <QLayout>
#include <QScreen>
#include <QShortcut>
#include <algorithm>

#include "app/agent_app.h"
#include "ui/prompts/prompt_widgets.h"

namespace kv {

CKeygenWizard::CKeygenWizard(CAgentApp& app, WizardKeyState& state, KeyGenerator generate,
                             QWidget* parent)
    : QWizard(parent), m_app(app) {
    setWizardStyle(QWizard::ClassicStyle);
    setOption(QWizard::HaveHelpButton, true);
    setWindowIcon(AgentIcon(false));
    setWindowTitle("*");
    // Without a mnemonic, so that Alt+F reaches "&File Name:" on the last page.
    setButtonText(QWizard::FinishButton, tr("Finish"));
    m_start = new CWizardPageKvcKeygenStart(state);
    m_generate = new CWizardPageKvcKeygenGenerate(state, std::move(generate));
    m_finish = new CWizardPageKvcKeygenFinish(app, state);
    setPage(kStartPage, m_start);
    setPage(kGeneratePage, m_generate);
    setPage(kFinishPage, m_finish);
    setStartId(kStartPage);
    setMinimumSize(720, 480);

    connect(this, &QWizard::currentIdChanged, this, &CKeygenWizard::OnPageChanged);
    connect(this, &QWizard::helpRequested, this, &CKeygenWizard::ShowHelpForCurrentPage);
    auto* f1 = new QShortcut(QKeySequence(Qt::Key_F1), this);
    connect(f1, &QShortcut::activated, this, &CKeygenWizard::ShowHelpForCurrentPage);
}

// Runs after the wizard has set its buttons for the new page, so a page may change them.
void CKeygenWizard::OnPageChanged(int id) {
    auto* current = qobject_cast<CKeygenWizardPage*>(page(id));
    if (current == nullptr) return;
    setWindowTitle(current->PageTitle());
    current->Activated();
    FitPage();
}

void CKeygenWizard::showEvent(QShowEvent* event) {
    QWizard::showEvent(event);
    FitPage();
}

// A wizard does not grow by itself for texts that wrap to more lines at a larger font, and
// cuts them off: it grows here to show the page whole, as far as the screen allows.
void CKeygenWizard::FitPage() {
    QWizardPage* shown = currentPage();
    if (!isVisible() || shown == nullptr || shown->layout() == nullptr) return;
    const int missing = shown->layout()->totalHeightForWidth(shown->width()) - shown->height();
    if (missing <= 0) return;
    int wanted = height() + missing;
    if (const QScreen* on = screen()) {
        const int frame = frameGeometry().height() - height();
        wanted = std::min(wanted, on->availableGeometry().height() - frame);
    }
    if (wanted > height()) resize(width(), wanted);
}

void CKeygenWizard::ShowHelpForCurrentPage() {
    if (auto* current = qobject_cast<CKeygenWizardPage*>(currentPage())) {
        m_app.ShowHelp(current->HelpContext());
    }
}

void CKeygenWizard::reject() {
    if (currentId() == kGeneratePage && !m_generate->MayClose(m_app)) return;
    QWizard::reject();
}

}  // namespace kv
