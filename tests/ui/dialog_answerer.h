// Answers the next modal dialog the code under test opens, from inside that dialog's own
// event loop, as a person at the screen would.
#pragma once

#include <QApplication>
#include <QDialog>
#include <QPointer>
#include <QTimer>
#include <functional>

namespace kv {

class DialogAnswerer {
  public:
    using Answer = std::function<void(QDialog*)>;

    DialogAnswerer() {
        m_poll.setInterval(5);
        QObject::connect(&m_poll, &QTimer::timeout, &m_poll, [this] { Poll(); });
    }

    // `answer` runs once, on the first modal dialog that is not open yet now.
    void OnNext(Answer answer) {
        m_answer = std::move(answer);
        m_before = QApplication::activeModalWidget();
        m_answered = false;
        m_poll.start();
    }

    bool Answered() const { return m_answered; }

  private:
    void Poll() {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (dialog == nullptr || dialog == m_before || !dialog->isVisible()) return;
        m_poll.stop();
        m_answered = true;
        Answer answer = std::move(m_answer);
        answer(dialog);
    }

    Answer m_answer;
    QPointer<QWidget> m_before;
    QTimer m_poll;
    bool m_answered = false;
};

}  // namespace kv
