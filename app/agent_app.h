// The application object: owns everything that lives as long as the agent process, runs
// start-up and shut-down, and offers the services other code uses (message boxes, help,
// bring to front, the modal prompt stack, key set changed).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "app/remembered_approvals.h"
#include "app/request_peer.h"
#include "app/user_interface.h"
#include "core/event_log.h"
#include "core/settings_table.h"
#include "keys/file_time.h"
#include "keys/key_store.h"

namespace kv {

class InstanceLock;
class TriggerEvent;

// The hidden main frame: the socket endpoint, the one-second timer and command routing.
class MainFrameInterface {
  public:
    virtual ~MainFrameInterface() = default;
    // Starts serving. False when the endpoint cannot be created.
    virtual bool Create() = 0;
    // Stops the timer and the endpoint.
    virtual void Destroy() = 0;
};

class CAgentApp {
  public:
    using MainFrameFactory = std::function<std::unique_ptr<MainFrameInterface>(CAgentApp&)>;
    static constexpr int kMaxOpenPrompts = 10;
    static constexpr std::uint64_t kNoDeadline = ~std::uint64_t{0};

    // Loads the key store (locked) before anything else. `clock` replaces the system clock.
    explicit CAgentApp(UserInterface& ui, std::unique_ptr<Clock> clock = nullptr);
    ~CAgentApp();
    CAgentApp(const CAgentApp&) = delete;
    CAgentApp& operator=(const CAgentApp&) = delete;

    // Start-up. False means the program ends now (another agent runs, or the main frame
    // could not be created); a second instance has then already handed over.
    bool InitInstance(const MainFrameFactory& make_main_frame);
    // After InitInstance returned false: whether another agent was running (the normal end of a
    // second instance) rather than a failure to start.
    bool HandedOver() const { return m_handed_over; }
    void ExitInstance();

    // Services.
    int MessageBox(unsigned string_id, std::uint32_t style);
    // The same with a text already filled in (FormatText).
    int MessageBoxText(const std::string& text, std::uint32_t style);
    void ShowHelp(unsigned context_id);
    void BringToFront();
    // False when the stack is full: the prompt must not open and counts as cancelled.
    bool PushPrompt();
    void PopPrompt();
    int PromptDepth() const { return m_prompt_depth; }
    void KeySetChanged();
    // Code 1046 and the tray's Open command.
    void OpenConfigurationWindow();
    // The tray's About command: the About box, then the auto-lock deadline from now.
    void AboutCommand();
    // "&Empty log file" of the logging page, with the path typed there: truncates the file,
    // then tells the user and the log how it went. False when it could not be opened.
    bool EmptyLogFile(const std::string& path);

    // Defaults, then what the registry holds. Settings the registry could not give (another
    // process held it) are read again at the next unlock, which every private-key operation
    // needs first.
    void InitSettings();
    bool SettingsUnread() const { return m_settings_unread; }
    void ApplySettings();
    // Run at the end of every ApplySettings, for a service beside the application that follows
    // a setting (the sleep delay follows "LockOnSuspend"). Empty to stop.
    void SetOnSettingsApplied(std::function<void()> hook) {
        m_on_settings_applied = std::move(hook);
    }

    // The one-second timer: expiry sweep and auto-lock (app/agent_lock.h).
    void OnTimerTick();
    // After user activity (never after a client request): the auto-lock deadline from now.
    void RestartAutoLock();
    // The Lock command, as the tray menu and the auto-lock run it.
    void LockCommand();
    // The change passphrase command once unlock on demand and its prompt have run.
    bool ChangePassphraseCommand(const ChangePassphraseAnswer& answer);

    KeyStore& Keys() { return m_keys; }
    // Approvals the user let the agent remember; forgotten on every lock.
    RememberedApprovals& Approvals() { return m_approvals; }
    // Who sent the request being handled (app/request_peer.h).
    RequestPeers& Peers() { return m_peers; }
    const Clock& TimeSource() const { return *m_clock; }
    // Why the cryptographic module is unusable; empty when it loaded.
    const std::string& ModuleError() const { return m_module_error; }

    SettingsTable& Settings() { return m_settings; }
    EventLog& Log() { return m_log; }
    UserInterface& Ui() { return m_ui; }
    TriggerEvent* Trigger() { return m_trigger.get(); }

    std::uint64_t AutoLockDeadline() const { return m_auto_lock_deadline; }
    void SetAutoLockDeadline(std::uint64_t deadline) { m_auto_lock_deadline = deadline; }
    bool UnlockInProgress() const { return m_unlock_in_progress; }
    void SetUnlockInProgress(bool on) { m_unlock_in_progress = on; }

    // Path of the help page for a context id, beside the executable.
    static std::string HelpPagePath(unsigned context_id);

  private:
    bool HandOverToRunningAgent();
    bool LockRegistry();
    void PrepareCryptoModule();

    UserInterface& m_ui;
    std::unique_ptr<Clock> m_clock;
    RememberedApprovals m_approvals;
    RequestPeers m_peers;
    KeyStore m_keys;  // before the log it refers to, as the store is constructed first
    std::unique_ptr<MainFrameInterface> m_main_frame;
    std::unique_ptr<TriggerEvent> m_trigger;
    SettingsTable m_settings;
    EventLog m_log;
    std::uint64_t m_auto_lock_deadline = kNoDeadline;
    bool m_unlock_in_progress = false;
    std::unique_ptr<InstanceLock> m_instance_lock;
    // Beside the registry file: an agent of another runtime folder may not share the registry.
    std::unique_ptr<InstanceLock> m_registry_lock;
    int m_prompt_depth = 0;
    std::string m_module_error;
    std::function<void()> m_on_settings_applied;
    bool m_handed_over = false;
    bool m_settings_unread = false;
};

}  // namespace kv
