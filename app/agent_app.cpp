#include "app/agent_app.h"

#include <unistd.h>

#include <cstdio>

#include "app/agent_lock.h"
#include "cryptomodule/crypto_module.h"
#include "platform/client_connection.h"
#include "platform/message_codes.h"
#include "platform/named_objects.h"
#include "platform/paths.h"
#include "platform/registry/registry.h"
#include "res/string_ids.h"
#include "res/string_table.h"

namespace kv {

CAgentApp::CAgentApp(UserInterface& ui, std::unique_ptr<Clock> clock)
    : m_ui(ui),
      m_clock(clock ? std::move(clock) : std::make_unique<SystemClock>()),
      m_approvals(*m_clock),
      m_keys(m_log, *m_clock),
      m_log(m_settings) {
    // Defined now, so that nothing can read a setting before start-up loads them.
    m_settings.DefineDefaults();
    m_settings.DefineAdditions();
    m_keys.SetOnRemoved([this](std::int32_t number) { m_approvals.ForgetKey(number); });
    m_log.SetRefreshWindow([this] {
        if (m_ui.WindowIsOpen()) m_ui.RefreshWindow();
    });
}

CAgentApp::~CAgentApp() { ExitInstance(); }

bool CAgentApp::InitInstance(const MainFrameFactory& make_main_frame) {
    PrepareCryptoModule();
    RegistryKey::EnsureKey("Software\\Korvenix");
    RegistryKey::EnsureKey(kAgentRegistryPath);
    RegistryKey::EnsureKey(kKeyPairsRegistryPath);

    if (!paths::EnsurePrivateDir(paths::RuntimeDir())) {
        std::fprintf(stderr, "kvsshaa: cannot use %s\n", paths::RuntimeDir().c_str());
        return false;
    }
    // Clients find the sockets by path: under a folder another user controls, that user could
    // put their own in place and receive what ssh-add sends.
    if (!paths::NoOtherUserControlsParents(paths::RuntimeDir())) {
        std::fprintf(stderr,
                     "kvsshaa: cannot use %s: a folder above it belongs to another user or "
                     "others may write in it\n",
                     paths::RuntimeDir().c_str());
        return false;
    }
    m_instance_lock = std::make_unique<InstanceLock>();
    if (!m_instance_lock->Acquire()) {
        // Handing over ends the start as a success: only when an agent really holds the lock.
        const bool held = m_instance_lock->HeldElsewhere();
        m_instance_lock.reset();
        if (!held) {
            std::fprintf(stderr, "kvsshaa: cannot use %s (not the user's own file?)\n",
                         paths::InstanceLockPath().c_str());
            return false;
        }
        m_handed_over = true;
        HandOverToRunningAgent();
        return false;
    }
    if (!LockRegistry()) {
        m_instance_lock.reset();
        return false;
    }

    m_unlock_in_progress = false;
    m_log.ResetFlags();
    InitSettings();
    // Logged only now: the log filters by the settings just loaded.
    if (!m_module_error.empty()) m_log.AddLogEntry(LogError, m_module_error);
    m_trigger = TriggerEvent::Create();
    // Named semaphores share /dev/shm with every user, and the name is fixed: another user
    // may hold it. The agent runs on; only `kvsshaa-client wait-trigger` goes without.
    if (!m_trigger) {
        std::fprintf(stderr, "kvsshaa: cannot make the trigger event %s (another user's?)\n",
                     TriggerEvent::DefaultName().c_str());
    }
    m_ui.ShowSplash();

    m_main_frame = make_main_frame(*this);
    if (!m_main_frame || !m_main_frame->Create()) {
        m_main_frame.reset();
        return false;
    }
    // The first-use prompt may already have unlocked the agent: show the state it is in.
    m_ui.ShowTrayLocked(m_keys.IsLocked());
    return true;
}

// The instance lock lives in the runtime folder, so an agent started with another one (a login
// without XDG_RUNTIME_DIR, say) would share the registry with this one: its keys would be
// unknown here and a passphrase change would leave them under the old one. A folder where no
// lock file can be made (read-only, say) runs on as before.
bool CAgentApp::LockRegistry() {
    const std::string registry = RegistryDatabase::FilePath();
    if (registry.empty()) return true;
    m_registry_lock = std::make_unique<InstanceLock>();
    if (m_registry_lock->AcquireAt(registry + ".lock") || !m_registry_lock->HeldElsewhere())
        return true;
    std::fprintf(stderr, "kvsshaa: cannot lock %s.lock: is another agent using its registry?\n",
                 registry.c_str());
    return false;
}

// Another agent holds the lock: ask it to show its window, from a sender without one.
bool CAgentApp::HandOverToRunningAgent() {
    ClientConnection connection;
    if (!connection.Connect(paths::AgentSocketPath())) return false;
    Envelope show;
    show.code = AGENT_SHOW_WINDOW;
    return connection.Send(show);
}

// Asking for the mode loads the module; the loader says once why it could not.
void CAgentApp::PrepareCryptoModule() {
    Module().Mode();
    m_module_error = Module().LoadError();
}

void CAgentApp::ExitInstance() {
    if (m_main_frame) {
        m_main_frame->Destroy();
        m_main_frame.reset();
    }
    m_trigger.reset();
    m_registry_lock.reset();
    m_instance_lock.reset();
}

void CAgentApp::InitSettings() {
    m_settings.DefineDefaults();
    m_settings.DefineAdditions();
    m_settings_unread = !m_settings.Load();
    if (m_settings_unread) std::fprintf(stderr, "kvsshaa: the settings could not be read yet\n");
    ApplySettings();
}

void CAgentApp::ApplySettings() {
    const bool fips = m_settings.GetFlag(IDS_SETTING_FIPS_MODE);
    Module().SetMode(fips ? KVCLM_MODE_FIPS : KVCLM_MODE_NORMAL);
    m_log.SetFileLogging(!m_settings.GetText(IDS_SETTING_LOG_TO_FILE).empty());
    if (m_ui.WindowIsOpen()) m_ui.RefreshWindow();
    // Switched off, remembering ends for what was remembered before too.
    if (m_settings.GetNumber(IDS_SETTING_REMEMBER_APPROVAL_MINUTES) <= 0) m_approvals.ForgetAll();
    RestartAutoLock();
    if (m_on_settings_applied) m_on_settings_applied();
}

void CAgentApp::RestartAutoLock() { RestartAutoLockDeadline(*this); }

void CAgentApp::LockCommand() { RunLockCommand(*this); }

bool CAgentApp::ChangePassphraseCommand(const ChangePassphraseAnswer& answer) {
    return RunChangePassphraseCommand(*this, answer);
}

int CAgentApp::MessageBox(unsigned string_id, std::uint32_t style) {
    const char* text = LoadString(string_id);
    if (text == nullptr) return IDOK;
    return MessageBoxText(text, style);
}

int CAgentApp::MessageBoxText(const std::string& text, std::uint32_t style) {
    const char* caption = LoadString(IDS_CAPTION);
    return m_ui.MessageBox(text, caption != nullptr ? caption : "", style);
}

std::string CAgentApp::HelpPagePath(unsigned context_id) {
    const std::string dir = paths::ExecutableDir();
    const std::string page = context_id == 0 ? "index.html" : std::to_string(context_id) + ".html";
    return (dir.empty() ? std::string(".") : dir) + "/Documentation/" + page;
}

void CAgentApp::ShowHelp(unsigned context_id) {
    const std::string path = HelpPagePath(context_id);
    if (::access(path.c_str(), R_OK) != 0 || !m_ui.OpenHelpPage(path)) {
        MessageBox(IDS_HELP_NOT_AVAILABLE, MB_OK | MB_ICONSTOP);
    }
}

void CAgentApp::BringToFront() { m_ui.BringToFront(); }

bool CAgentApp::PushPrompt() {
    if (m_prompt_depth >= kMaxOpenPrompts) return false;
    ++m_prompt_depth;
    return true;
}

void CAgentApp::PopPrompt() {
    if (m_prompt_depth > 0) --m_prompt_depth;
}

void CAgentApp::KeySetChanged() {
    if (m_trigger) m_trigger->Set();
    if (m_ui.WindowIsOpen()) m_ui.RefreshWindow();
}

void CAgentApp::OpenConfigurationWindow() {
    if (m_prompt_depth > 0) {
        RestartAutoLock();
        BringToFront();
        return;
    }
    m_ui.OpenConfigurationWindow();
    RestartAutoLock();
}

void CAgentApp::AboutCommand() {
    m_ui.ShowAbout();
    RestartAutoLock();
}

bool CAgentApp::EmptyLogFile(const std::string& path) {
    if (path.empty()) return false;
    if (!TruncateLogFile(path)) {
        MessageBox(IDS_LOG_FILE_NOT_EMPTIED, MB_OK | MB_ICONEXCLAMATION);
        m_log.LogMessage(nullptr, LogError, IDS_LOG_FILE_NOT_EMPTIED);
        return false;
    }
    MessageBox(IDS_LOG_FILE_EMPTIED, MB_OK | MB_ICONINFORMATION);
    m_log.LogMessage(nullptr, LogInfo, IDS_LOG_FILE_EMPTIED);
    return true;
}

void CAgentApp::OnTimerTick() { RunAutoLockTick(*this); }

}  // namespace kv
