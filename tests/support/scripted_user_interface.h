// A user interface that answers from a script and records what it was shown.
#pragma once

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "app/user_interface.h"

namespace kv {

class ScriptedUserInterface : public UserInterface {
  public:
    // Each prompt takes the next answer; an empty script cancels.
    std::deque<PassphraseAnswer> passphrases;
    std::deque<bool> confirmations;
    std::deque<int> message_box_results;

    std::vector<std::string> shown;  // prompts and message texts, in order
    int refreshes = 0;
    int window_opened = 0;
    int brought_to_front = 0;
    bool window_open = false;
    bool tray_locked = true;
    // Runs inside the next prompt or message box, as a request handled in its nested loop
    // would; then cleared.
    std::function<void()> while_open;
    // Whether an allowed confirmation ticks the offered "remember" box, and the last offer.
    bool tick_remember = false;
    std::string remember_offer;

    PassphraseAnswer AskNewPassphrase(const std::string& message, bool empty_allowed,
                                      const std::string&) override {
        return Next(std::string(empty_allowed ? "new-or-empty:" : "new:") + message);
    }
    PassphraseAnswer AskUnlock(const std::string& text) override { return Next("unlock:" + text); }
    PassphraseAnswer AskKeyPassphrase(const std::string& name, const std::string&) override {
        return Next("key:" + name);
    }
    ChangePassphraseAnswer AskChangePassphrase() override {
        ChangePassphraseAnswer answer;
        const PassphraseAnswer old_one = Next("change:old");
        const PassphraseAnswer new_one = Next("change:new");
        answer.cancelled = old_one.cancelled || new_one.cancelled;
        answer.old_passphrase = old_one.passphrase;
        answer.new_passphrase = new_one.passphrase;
        return answer;
    }
    ConfirmOperationAnswer ConfirmOperation(const ConfirmOperationRequest& r) override {
        shown.push_back("confirm:" + r.operation + ":" + r.key_name + ":" + r.requester);
        RunWhileOpen();
        remember_offer = r.remember_offer;
        if (confirmations.empty()) return {};
        const bool allowed = confirmations.front();
        confirmations.pop_front();
        return {allowed, allowed && tick_remember && !r.remember_offer.empty()};
    }
    int MessageBox(const std::string& text, const std::string&, std::uint32_t) override {
        shown.push_back("box:" + text);
        RunWhileOpen();
        if (message_box_results.empty()) return IDOK;
        const int result = message_box_results.front();
        message_box_results.pop_front();
        return result;
    }
    void RefreshWindow() override { ++refreshes; }
    bool WindowIsOpen() const override { return window_open; }
    void OpenConfigurationWindow() override { ++window_opened; }
    void BringToFront() override { ++brought_to_front; }
    void ShowTrayLocked(bool locked) override { tray_locked = locked; }
    void ShowSplash() override {}
    bool OpenHelpPage(const std::string& path) override {
        shown.push_back("help:" + path);
        return true;
    }

    static PassphraseAnswer Typed(const std::string& text) {
        PassphraseAnswer answer;
        answer.cancelled = false;
        answer.passphrase = ToSecureBytes(text);
        return answer;
    }

  private:
    void RunWhileOpen() {
        if (!while_open) return;
        auto action = std::move(while_open);
        while_open = nullptr;
        action();
    }

    PassphraseAnswer Next(const std::string& what) {
        shown.push_back(what);
        RunWhileOpen();
        if (passphrases.empty()) return {};
        PassphraseAnswer answer = passphrases.front();
        passphrases.pop_front();
        return answer;
    }
};

}  // namespace kv
