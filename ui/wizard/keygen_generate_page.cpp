#include "ui/wizard/keygen_generate_page.h"

#include <QFontDatabase>
#include <QGroupBox>
#include <QLabel>
#include <QVBoxLayout>
#include <QWizard>

#include "app/agent_app.h"
#include "res/format_text.h"
#include "res/string_ids.h"
#include "res/string_table.h"
#include "ui/wizard/generated_key_text.h"

namespace kv {

CWizardPageKvcKeygenGenerate::CWizardPageKvcKeygenGenerate(WizardKeyState& state,
                                                           KeyGenerator generate)
    : CKeygenWizardPage(state, tr("(Step 2/3) Generating key..."), 150),
      m_generate(std::move(generate)) {
    m_description = new QLabel(this);
    m_description->setWordWrap(true);
    m_description->setMinimumHeight(m_description->fontMetrics().height() * 3);
    m_pattern = new QLabel(this);
    m_pattern->setTextFormat(Qt::PlainText);
    m_pattern->setWordWrap(false);
    QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    fixed.setPointSizeF(6.5);
    m_pattern->setFont(fixed);

    auto* group = new QGroupBox(tr("Process"), this);
    auto* inside = new QVBoxLayout(group);
    inside->addWidget(m_pattern);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_description);
    layout->addWidget(group);
    layout->addStretch(1);

    m_timer.setTimerType(Qt::CoarseTimer);
    connect(&m_timer, &QTimer::timeout, this, &CWizardPageKvcKeygenGenerate::Tick);
}

QString CWizardPageKvcKeygenGenerate::Description() const { return m_description->text(); }

QString CWizardPageKvcKeygenGenerate::Pattern() const { return m_pattern->text(); }

void CWizardPageKvcKeygenGenerate::initializePage() {
    // The worker of an earlier visit has ended (the state said so); collect it.
    m_state.JoinWorker();
    if (m_state.generated_key.IsValid()) {
        // Back and Next again without a change: the key made before stays.
        m_state.progress.store(true);
        m_state.state.store(KeyGenDone, std::memory_order_release);
        m_timer.start(kDoneTickMs);
        return;
    }
    m_state.state.store(KeyGenRunning, std::memory_order_release);
    m_description->setText(QString::fromStdString(
        FormatText(IDS_KEYGEN_RUNNING, KeyTypeName(m_state.key_type), m_state.bits)));
    m_state.progress.store(true);
    m_timer.start(kRunningTickMs);
    Tick();
    m_state.StartWorker(m_generate);
}

void CWizardPageKvcKeygenGenerate::Activated() {
    if (m_state.State() == KeyGenRunning) SetButtons(false, false);
}

void CWizardPageKvcKeygenGenerate::Tick() {
    switch (m_state.State()) {
        case KeyGenRunning:
            if (m_state.progress.exchange(false)) {
                m_pattern->setText(QString::fromStdString(RandomProgressPattern()));
            }
            break;
        case KeyGenDone:
            ShowDone();
            break;
        case KeyGenFailed:
            ShowEnded(QString::fromStdString(FormatText(IDS_KEYGEN_FAILED, m_state.error_code)));
            break;
        case KeyGenCancelled:
            ShowEnded(QString::fromUtf8(LoadString(IDS_KEYGEN_CANCELLED)));
            break;
        case KeyGenCancelRequested:
            break;
    }
}

void CWizardPageKvcKeygenGenerate::ShowDone() {
    m_pattern->setText(QString::fromStdString(AllDotsProgressPattern()));
    m_description->setText(QString::fromUtf8(LoadString(IDS_KEYGEN_COMPLETE)));
    emit completeChanged();
    SetButtons(true, true);
    if (QWizard* sheet = wizard()) sheet->setWindowTitle(LoadString(IDS_KEYGEN_DONE_TITLE));
    m_timer.stop();
}

void CWizardPageKvcKeygenGenerate::ShowEnded(const QString& description) {
    m_pattern->setText(QString::fromStdString(RandomProgressPattern()));
    m_description->setText(description);
    emit completeChanged();
    SetButtons(true, false);
    m_timer.stop();
}

bool CWizardPageKvcKeygenGenerate::isComplete() const { return m_state.HasKey(); }

bool CWizardPageKvcKeygenGenerate::validatePage() {
    // The last page shows a made key only.
    if (!m_state.HasKey()) return false;
    m_timer.stop();
    return true;
}

void CWizardPageKvcKeygenGenerate::cleanupPage() {
    m_timer.stop();
    QWizardPage::cleanupPage();
}

bool CWizardPageKvcKeygenGenerate::MayClose(CAgentApp& app) {
    switch (m_state.State()) {
        case KeyGenRunning:
            // The worker may finish while the question is open: then nothing is cancelled,
            // as a cancel request nobody answers would keep the wizard open for good.
            if (app.MessageBox(IDS_CONFIRM_STOP_KEYGEN, MB_YESNO | MB_ICONQUESTION) != IDNO) {
                m_state.RequestCancel();
            }
            return false;
        case KeyGenCancelRequested:
            return false;
        default:
            return true;
    }
}

}  // namespace kv
