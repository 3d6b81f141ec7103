#include "tests/ui/agent_under_test.h"

#include <QAccessible>
#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <algorithm>
#include <cstdlib>

#include "agent/handlers/request_handlers.h"
#include "agent/handlers/user_commands.h"
#include "agent/payloads.h"
#include "cryptomodule/key_generation.h"
#include "platform/message_codes.h"
#include "platform/paths.h"
#include "platform/registry/registry_database.h"
#include "res/tray_menu.h"

namespace kv::test {

namespace {

struct TestKey {
    Bytes blob;
    SecureBytes plain;
};

// One RSA key for every test in the process: names tell the stored key pairs apart.
const TestKey& SharedKey() {
    static const TestKey key = [] {
        TestKey made;
        auto generated = GenerateRsaKey(1024);
        if (!generated.ok()) return made;
        auto plain = generated.value.ExportPlain();
        auto pub = generated.value.DerivePublic();
        if (!plain.ok() || !pub.ok()) return made;
        auto blob = pub.value.Export();
        if (blob.ok()) made.blob = blob.value;
        made.plain = plain.value;
        return made;
    }();
    return key;
}

}  // namespace

ModalHand::ModalHand() {
    QObject::connect(&m_timer, &QTimer::timeout, [this] { Poll(); });
    m_timer.start(5);
}

ModalHand::~ModalHand() { m_timer.stop(); }

void ModalHand::Poll() {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr || !modal->isVisible()) return;
    std::erase_if(m_answered, [](const QPointer<QWidget>& w) { return w.isNull(); });
    if (std::find(m_answered.begin(), m_answered.end(), modal) != m_answered.end()) return;
    m_answered.emplace_back(modal);
    if (m_answers.empty()) {
        m_unexpected.push_back(WindowText(modal));
        modal->close();
        return;
    }
    // Answered from its own event, not from the timer's: a timer does not fire again while
    // its handler runs, and an answer may open a further modal window.
    QTimer::singleShot(0, modal, [answer = std::move(m_answers.front()), modal] { answer(modal); });
    m_answers.pop_front();
}

QString WindowText(QWidget* window) {
    if (auto* box = qobject_cast<QMessageBox*>(window)) return box->text();
    return window->windowTitle();
}

ModalHand::Answer TypePassphrase(const QString& passphrase, QString* seen_text) {
    return [passphrase, seen_text](QWidget* prompt) {
        if (seen_text != nullptr) {
            for (QLabel* label : prompt->findChildren<QLabel*>())
                *seen_text += label->text() + "\n";
        }
        for (QLineEdit* field : prompt->findChildren<QLineEdit*>()) field->setText(passphrase);
        QMetaObject::invokeMethod(prompt, "accept");
    };
}

ModalHand::Answer ReadMessage(QString* text) {
    return [text](QWidget* window) {
        *text = WindowText(window);
        QMetaObject::invokeMethod(window, "accept");
    };
}

HelpPages::HelpPages(const std::vector<unsigned>& contexts) {
    const QString dir = QString::fromStdString(paths::ExecutableDir()) + "/Documentation";
    QDir().mkpath(dir);
    for (unsigned context : contexts) {
        QFile page(QString("%1/%2.html").arg(dir).arg(context));
        // A real page copied there for other tests stays, and is not removed afterwards.
        if (page.exists()) continue;
        if (page.open(QIODevice::WriteOnly)) m_files << page.fileName();
    }
    QDesktopServices::setUrlHandler("file", this, "Open");
}

HelpPages::~HelpPages() {
    QDesktopServices::unsetUrlHandler("file");
    for (const QString& file : m_files) QFile::remove(file);
}

void HelpPages::Open(const QUrl& url) { opened << QFileInfo(url.toLocalFile()).fileName(); }

QStringList UnnamedControls(QWidget* window) {
    QStringList unnamed;
    for (QWidget* widget : window->findChildren<QWidget*>()) {
        if (!widget->isVisible() || (widget->focusPolicy() & Qt::TabFocus) == 0) continue;
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(widget);
        if (accessible == nullptr || accessible->text(QAccessible::Name).isEmpty()) {
            unnamed << QString("%1 %2").arg(widget->metaObject()->className(),
                                            widget->objectName());
        }
    }
    return unnamed;
}

AgentUnderTest::AgentUnderTest() {
    const char* bin = std::getenv("KV_BIN_DIR");
    if (bin != nullptr) ::setenv("KVSSHAA_MODULE_DIR", (std::string(bin) + "/crypto").c_str(), 1);
    RegistryDatabase::UseFile(m_home.Path() + "/registry.sqlite");
    m_ui = std::make_unique<QtUserInterface>();
    m_app = std::make_unique<CAgentApp>(*m_ui);
    m_app->InitSettings();
    RegisterRequestHandlers(*m_app, m_dispatcher);
    // As the main frame routes them.
    m_ui->Attach(*m_app, [this](int id) {
        m_commands.push_back(id);
        switch (id) {
            case ID_LOCK:
                m_app->LockCommand();
                return true;
            case ID_UNLOCK:
                UnlockCommand(*m_app);
                return true;
            case ID_CHANGE_PASSPHRASE:
                ChangePassphraseCommand(*m_app);
                return true;
            default:
                return false;
        }
    });
}

AgentUnderTest::~AgentUnderTest() {
    m_ui->DestroyConfigurationWindow();
    m_app.reset();
    m_ui.reset();
    RegistryDatabase::Close();
}

void AgentUnderTest::UnlockFirstUse(const std::string& passphrase) {
    const SecureBytes bytes = ToSecureBytes(passphrase);
    m_app->Keys().Unlock(bytes);
    m_app->KeySetChanged();
}

int AgentUnderTest::ClientAdds(const std::string& name, const std::string& comment) {
    AgentKeyEntry entry;
    entry.type = 1;
    entry.blob = SharedKey().blob;
    entry.comment = name + ": " + comment;
    entry.flags = 1;
    Envelope request;
    request.code = AGENT_ADD_KEY;
    request.flags = kEnvelopeHasWindow;
    const SecureBytes payload = BuildAddRequest(7, {"test client"}, entry, SharedKey().plain);
    request.payload.assign(payload.begin(), payload.end());
    const auto reply = m_dispatcher.Process(request, true);
    if (!reply || reply->code != AGENT_ADD_KEY) return -100;
    return ParseStatusReply(reply->payload)->status;
}

int AgentUnderTest::ClientDeletes(const std::string& name) {
    Envelope request;
    request.code = AGENT_DELETE_KEY;
    request.flags = kEnvelopeHasWindow;
    const Bytes payload = BuildDeleteRequest(8, {"test client"}, SharedKey().blob, name);
    request.payload.assign(payload.begin(), payload.end());
    const auto reply = m_dispatcher.Process(request, true);
    if (!reply) return -100;
    return ParseStatusReply(reply->payload)->status;
}

int AgentUnderTest::LoggedCount(const std::string& text) const {
    int count = 0;
    for (const LogEntry& entry : m_app->Log().Entries()) count += entry.message == text;
    return count;
}

}  // namespace kv::test
