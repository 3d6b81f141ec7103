// The agent in this process for the window tests: a real application object with its Qt
// user interface, request handlers and key store in a throw-away registry, the main frame's
// commands routed as the agent routes them, and a hand that answers modal windows.
#pragma once

#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <QUrl>
#include <QWidget>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "agent/request_dispatcher.h"
#include "app/agent_app.h"
#include "platform/secure_memory.h"
#include "tests/support/temp_dir.h"
#include "ui/qt_user_interface.h"

namespace kv::test {

// Answers modal windows as they open, from inside their own event loops: each answer is
// given the next modal window. A window that opens with no answer queued is noted and
// rejected, so a test never hangs on it.
class ModalHand {
  public:
    using Answer = std::function<void(QWidget*)>;

    ModalHand();
    ~ModalHand();
    void Next(Answer answer) { m_answers.push_back(std::move(answer)); }
    bool Idle() const { return m_answers.empty(); }
    // Window titles and texts of the windows that opened with no answer queued.
    const std::vector<QString>& Unexpected() const { return m_unexpected; }

  private:
    void Poll();

    QTimer m_timer;
    std::deque<Answer> m_answers;
    // Every window answered so far: when an answered one closes, the one beneath it becomes
    // the active modal again, and it must not count as a new one.
    std::vector<QPointer<QWidget>> m_answered;
    std::vector<QString> m_unexpected;
};

// The text of a message box, or the title of another window.
QString WindowText(QWidget* window);
// Accepts an unlock or new-passphrase prompt after typing `passphrase` into its fields.
ModalHand::Answer TypePassphrase(const QString& passphrase, QString* seen_text = nullptr);
// Records the text of a message box and presses its default button.
ModalHand::Answer ReadMessage(QString* text);

// Help pages for the given contexts beside the test executable, opened here instead of in a
// browser; removed again on destruction.
class HelpPages : public QObject {
    Q_OBJECT
  public:
    explicit HelpPages(const std::vector<unsigned>& contexts);
    ~HelpPages() override;
    // The file names opened so far, in order.
    QStringList opened;

  public slots:
    void Open(const QUrl& url);

  private:
    QStringList m_files;
};

// The names of the controls under `window` that Tab reaches but a screen reader could not
// name.
QStringList UnnamedControls(QWidget* window);

class AgentUnderTest {
  public:
    AgentUnderTest();
    ~AgentUnderTest();

    CAgentApp& App() { return *m_app; }
    // The test's own folder, HOME included; removed with everything in it afterwards.
    QString Folder() const { return QString::fromStdString(m_home.Path()); }
    QtUserInterface& Ui() { return *m_ui; }
    ModalHand& Hand() { return m_hand; }
    const std::vector<int>& Commands() const { return m_commands; }

    // First use: the agent passphrase becomes `passphrase` and the agent is unlocked.
    void UnlockFirstUse(const std::string& passphrase = "pw");
    // A client's add request for the test key named `name` (with "comment"); its status.
    int ClientAdds(const std::string& name, const std::string& comment = "comment");
    int ClientDeletes(const std::string& name);
    // Messages recorded with this id's text, counted.
    int LoggedCount(const std::string& text) const;

  private:
    IsolatedHome m_home;
    ModalHand m_hand;
    std::unique_ptr<QtUserInterface> m_ui;
    std::unique_ptr<CAgentApp> m_app;
    RequestDispatcher m_dispatcher;
    std::vector<int> m_commands;
};

}  // namespace kv::test
