// The one narrow interface through which the agent's logic reaches the user. The Qt dialogs,
// an askpass program and the tests' scripted answers each implement it.
#pragma once

#include <string>

#include "app/message_box.h"
#include "platform/secure_memory.h"

namespace kv {

// What a passphrase prompt returns: cancelled, or the text typed (possibly empty).
struct PassphraseAnswer {
    bool cancelled = true;
    SecureBytes passphrase;
};

struct ChangePassphraseAnswer {
    bool cancelled = true;
    SecureBytes old_passphrase;
    SecureBytes new_passphrase;
};

struct ConfirmOperationRequest {
    std::string key_comment;
    std::string key_name;
    std::string operation;
    std::string requester;
    // The text of a check box that lets the user have the approval remembered ("Remember for
    // this program for N minutes"); empty: the prompt offers none and is as it always was.
    std::string remember_offer;
};

struct ConfirmOperationAnswer {
    bool allowed = false;
    bool remember = false;  // only with allowed, and only when the request offered it
};

class UserInterface {
  public:
    virtual ~UserInterface() = default;

    // Prompts. Each is modal: requests and timer ticks go on while it is open. Callers run
    // them through RunPrompt (app/prompt_runner.h), which keeps the modal prompt stack.

    // A new passphrase, typed twice. With `empty_allowed`, an empty one is accepted after
    // the user answers Yes to `empty_question`.
    virtual PassphraseAnswer AskNewPassphrase(const std::string& message, bool empty_allowed,
                                              const std::string& empty_question) = 0;
    // The agent passphrase; `operation_text` says what needs the agent unlocked.
    virtual PassphraseAnswer AskUnlock(const std::string& operation_text) = 0;
    virtual ChangePassphraseAnswer AskChangePassphrase() = 0;
    // The passphrase of a private key file being imported.
    virtual PassphraseAnswer AskKeyPassphrase(const std::string& key_name,
                                              const std::string& key_comment) = 0;
    // Whether the user allows the operation, and wants that remembered.
    virtual ConfirmOperationAnswer ConfirmOperation(const ConfirmOperationRequest& request) = 0;

    virtual int MessageBox(const std::string& text, const std::string& caption,
                           std::uint32_t style) = 0;

    // The configuration window, when open, reloads what it shows.
    virtual void RefreshWindow() = 0;
    virtual bool WindowIsOpen() const = 0;
    virtual void OpenConfigurationWindow() = 0;
    virtual void BringToFront() = 0;

    virtual void ShowTrayLocked(bool locked) = 0;
    virtual void ShowSplash() = 0;
    // The About box, until the user dismisses it. Front ends without windows show nothing.
    virtual void ShowAbout() {}
    // Opens a help page with the desktop's browser; false when it cannot.
    virtual bool OpenHelpPage(const std::string& path) = 0;
};

}  // namespace kv
