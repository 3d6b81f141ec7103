// Step 2 of the key generation wizard: the key is made on a worker thread while a timer moves
// the progress pattern.
#pragma once

#include <QTimer>

#include "ui/wizard/keygen_page.h"

class QLabel;

namespace kv {

class CAgentApp;

class CWizardPageKvcKeygenGenerate : public CKeygenWizardPage {
    Q_OBJECT
  public:
    static constexpr int kRunningTickMs = 500;
    static constexpr int kDoneTickMs = 100;

    CWizardPageKvcKeygenGenerate(WizardKeyState& state, KeyGenerator generate);

    QString Description() const;
    QString Pattern() const;
    bool TimerRunning() const { return m_timer.isActive(); }
    // May the wizard close now? Asks whether to stop a running generation.
    bool MayClose(CAgentApp& app);
    // One timer tick, as the timer runs it.
    void Tick();

    void initializePage() override;
    void cleanupPage() override;
    bool validatePage() override;
    bool isComplete() const override;
    void Activated() override;

  private:
    void ShowDone();
    void ShowEnded(const QString& description);

    KeyGenerator m_generate;
    QLabel* m_description;
    QLabel* m_pattern;
    QTimer m_timer;
};

}  // namespace kv
