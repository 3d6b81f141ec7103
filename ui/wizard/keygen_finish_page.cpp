#include "ui/wizard/keygen_finish_page.h"

#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QVBoxLayout>
#include <QWizard>
#include <ctime>

#include "app/agent_app.h"
#include "keys/key_text.h"
#include "ui/wizard/generated_key_text.h"
#include "ui/wizard/store_generated_key.h"

namespace kv {

namespace {

std::tm LocalTime(FileTime now) {
    const auto seconds =
        static_cast<std::time_t>((now - kUnixEpochAsFileTime) / kFileTimeUnitsPerSecond);
    std::tm local{};
    ::localtime_r(&seconds, &local);
    return local;
}

}  // namespace

CWizardPageKvcKeygenFinish::CWizardPageKvcKeygenFinish(CAgentApp& app, WizardKeyState& state)
    : CKeygenWizardPage(state, tr("(Step 3/3) Key generated successfully"), 151), m_app(app) {
    m_name = new QLineEdit(this);
    m_comment = new QLineEdit(this);
    auto* form = new QFormLayout;
    form->addRow(tr("&File Name:"), m_name);
    form->addRow(tr("&Comment:"), m_comment);

    auto* layout = new QVBoxLayout(this);
    AddTopText(layout,
               WrappedText(tr("The wizard has generated a keypair. The default name and comment "
                              "have been assigned to it, but you can edit them to help you "
                              "identify this keypair later. Press \"Finish\" when you're done, "
                              "and the keypair will be saved in Agent's key storage.")));
    layout->addLayout(form);
    layout->addWidget(
        WrappedText(tr("To use this key for public key authentication, you will "
                       "need to upload the public key to the remote host. ")));
    layout->addWidget(WrappedText(
        tr("Save this key by pressing \"Finish\". Then, start Korvenix SSH Client, connect to a "
           "remote host, open \"Settings\" dialog and select \"Agent Keys\" tab. Choose this key "
           "and press \"Upload\" button.")));
    layout->addStretch(1);
    connect(m_name, &QLineEdit::textChanged, this, &QWizardPage::completeChanged);
}

void CWizardPageKvcKeygenFinish::initializePage() {
    m_name->setText(QString::fromStdString(DefaultKeyName(m_app.Keys())));
    m_comment->setText(QString::fromStdString(
        GeneratedKeyComment(m_state.bits, m_state.key_type, LocalTime(m_app.TimeSource().Now()))));
}

// A key needs a name to be listed and found again.
bool CWizardPageKvcKeygenFinish::isComplete() const {
    return !Sanitize(m_name->text().toStdString()).empty();
}

bool CWizardPageKvcKeygenFinish::validatePage() {
    // Storing may ask for the agent passphrase (a client locked the agent) or show a message,
    // windows of their own that leave the wizard usable: a Back there could start a new
    // generation into the record the key is being stored from.
    QWizard* sheet = wizard();
    const QPointer<QWidget> focused = sheet != nullptr ? sheet->focusWidget() : nullptr;
    if (sheet != nullptr) sheet->setEnabled(false);
    const bool stored = StoreGeneratedKey(m_app, m_state, m_name->text().toStdString(),
                                          m_comment->text().toStdString());
    if (sheet != nullptr) sheet->setEnabled(true);
    if (!focused.isNull()) focused->setFocus();
    return stored;
}

}  // namespace kv
