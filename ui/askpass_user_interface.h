// Prompts without a display: each one runs the program named by SSH_ASKPASS with the
// prompt text as its argument, inside a nested event loop so that requests and timers go
// on while it waits. Without such a program every prompt counts as cancelled.
#pragma once

#include <optional>
#include <string>

#include "app/user_interface.h"

namespace kv {

class AskpassUserInterface : public UserInterface {
  public:
    // `program` empty: no askpass program, every prompt is cancelled.
    explicit AskpassUserInterface(std::string program);

    PassphraseAnswer AskNewPassphrase(const std::string& message, bool empty_allowed,
                                      const std::string& empty_question) override;
    PassphraseAnswer AskUnlock(const std::string& operation_text) override;
    ChangePassphraseAnswer AskChangePassphrase() override;
    PassphraseAnswer AskKeyPassphrase(const std::string& key_name,
                                      const std::string& key_comment) override;
    ConfirmOperationAnswer ConfirmOperation(const ConfirmOperationRequest& request) override;
    int MessageBox(const std::string& text, const std::string& caption,
                   std::uint32_t style) override;

    void RefreshWindow() override {}
    bool WindowIsOpen() const override { return false; }
    void OpenConfigurationWindow() override;
    void BringToFront() override {}
    void ShowTrayLocked(bool locked) override;
    void ShowSplash() override {}
    bool OpenHelpPage(const std::string& path) override;

  protected:
    // How often an unusable answer (empty, or two entries that differ) is asked again.
    static constexpr int kMaxEmptyAnswers = 3;

    // Asks one question: the program's output, or nothing when it failed or exited non-zero
    // (for `confirm`, any value means yes). Other ways of asking replace this one.
    virtual std::optional<SecureBytes> Run(const std::string& prompt, bool confirm);

    std::string m_program;
};

}  // namespace kv
