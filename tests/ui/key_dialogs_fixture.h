// Shared by the tests of the key commands and the wizard: a QApplication offscreen, a real key
// store in a temporary registry, the real module, an unlocked agent, prompts and message boxes
// answered from a script, and file dialogs answered by the test.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QTimer>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/agent_app.h"
#include "keys/file_time.h"
#include "tests/support/scripted_user_interface.h"
#include "tests/support/temp_dir.h"
#include "ui/keys/key_commands.h"
#include "ui/keys/key_file_chooser.h"
#include "ui/qt_user_interface.h"

namespace kv::test {

inline constexpr const char* kAgentPassphrase = "agent pass";

// Answers the import and export dialogs in order; an empty answer cancels.
class ScriptedFileChooser : public KeyFileChooser {
  public:
    std::deque<std::optional<std::string>> answers;
    std::vector<std::string> start_folders;
    // Runs inside the next dialog, as a request handled in its nested loop would; then cleared.
    std::function<void()> while_open;

    std::optional<std::string> ChooseImportFile(const std::string& start) override {
        return Next(start);
    }
    std::optional<std::string> ChooseExportFile(const std::string& start) override {
        return Next(start);
    }

  private:
    std::optional<std::string> Next(const std::string& start) {
        start_folders.push_back(start);
        if (while_open) std::exchange(while_open, nullptr)();
        if (answers.empty()) return std::nullopt;
        auto answer = answers.front();
        answers.pop_front();
        return answer;
    }
};

class KeyDialogsTest : public ::testing::Test {
  protected:
    KeyDialogsTest();
    ~KeyDialogsTest() override;

    KeyCommandContext Context() { return {*app, qt, nullptr, &files}; }
    std::string File(const std::string& name) const { return home.Path() + "/" + name; }
    // The event log's messages since the test began, each as "<category>:<text>".
    std::vector<std::string> Logged() const;
    bool LoggedText(const std::string& text) const;
    // Everything the scripted interface showed, from `from` on, joined by " | ".
    std::string Shown(std::size_t from = 0) const;
    // Stores a key the module makes (1024 bits) under `name`; its key number.
    std::int32_t StoreKey(const std::string& name, bool rsa = true,
                          const std::string& comment = "a comment");

    // Runs `action` on the next modal dialog of type T once it is open and showing.
    template <class T>
    void WhenModal(std::function<void(T&)> action) {
        auto* poll = new QTimer(QApplication::instance());
        poll->setInterval(5);
        QObject::connect(poll, &QTimer::timeout, [poll, action] {
            auto* dialog = qobject_cast<T*>(QApplication::activeModalWidget());
            if (dialog == nullptr || !dialog->isVisible()) return;
            poll->stop();
            poll->deleteLater();
            action(*dialog);
        });
        poll->start();
    }

    IsolatedHome home;
    ScriptedUserInterface ui;
    FakeClock* clock = nullptr;
    std::unique_ptr<CAgentApp> app;
    QtUserInterface qt;
    ScriptedFileChooser files;
    std::size_t log_start = 0;
};

// Saves a PNG of `widget` as <build>/screenshots/<name>.png for a person to look at.
void SaveScreenshot(QWidget& widget, const std::string& name);

}  // namespace kv::test
