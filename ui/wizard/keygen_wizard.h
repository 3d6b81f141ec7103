// The key generation wizard: three pages in a modal sheet whose caption is the current page's
// title. It closes only when no generation is running.
#pragma once

#include <QWizard>

#include "ui/wizard/keygen_finish_page.h"
#include "ui/wizard/keygen_generate_page.h"
#include "ui/wizard/keygen_start_page.h"
#include "ui/wizard/wizard_key_state.h"

namespace kv {

class CAgentApp;

class CKeygenWizard : public QWizard {
    Q_OBJECT
  public:
    enum PageId { kStartPage = 0, kGeneratePage = 1, kFinishPage = 2 };

    // `state` must outlive the wizard; `generate` runs on the worker thread.
    CKeygenWizard(CAgentApp& app, WizardKeyState& state, KeyGenerator generate,
                  QWidget* parent = nullptr);

    CWizardPageKvcKeygenStart* StartPage() const { return m_start; }
    CWizardPageKvcKeygenGenerate* GeneratePage() const { return m_generate; }
    CWizardPageKvcKeygenFinish* FinishPage() const { return m_finish; }

    // Cancel, Escape and the window's close button: refused while a generation runs.
    void reject() override;

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void OnPageChanged(int id);
    void FitPage();
    void ShowHelpForCurrentPage();

    CAgentApp& m_app;
    CWizardPageKvcKeygenStart* m_start;
    CWizardPageKvcKeygenGenerate* m_generate;
    CWizardPageKvcKeygenFinish* m_finish;
};

}  // namespace kv
