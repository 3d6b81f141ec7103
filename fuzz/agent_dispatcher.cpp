// The real dispatcher with the real handlers, key store and module: whatever a client sends,
// the agent answers without crashing and without reading past a buffer. A user interface that
// always answers keeps prompts from blocking. The fuzz build's seams keep each input cheap:
// the module beside this program derives passphrase keys in one round, and the registry lives
// in memory.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "agent/handlers/request_handlers.h"
#include "agent/payloads.h"
#include "agent/request_dispatcher.h"
#include "app/agent_app.h"
#include "cryptomodule/key_generation.h"
#include "platform/message_codes.h"
#include "platform/registry/registry_database.h"
#include "res/string_ids.h"

namespace {

using namespace kv;

class AnsweringUserInterface : public UserInterface {
  public:
    bool allow = true;
    PassphraseAnswer AskNewPassphrase(const std::string&, bool, const std::string&) override {
        return Typed("pw");
    }
    PassphraseAnswer AskUnlock(const std::string&) override { return Typed(allow ? "pw" : "no"); }
    ChangePassphraseAnswer AskChangePassphrase() override { return {}; }
    PassphraseAnswer AskKeyPassphrase(const std::string&, const std::string&) override {
        return {};
    }
    ConfirmOperationAnswer ConfirmOperation(const ConfirmOperationRequest&) override {
        return {allow, false};
    }
    int MessageBox(const std::string&, const std::string&, std::uint32_t) override { return IDOK; }
    void RefreshWindow() override {}
    bool WindowIsOpen() const override { return false; }
    void OpenConfigurationWindow() override {}
    void BringToFront() override {}
    void ShowTrayLocked(bool) override {}
    void ShowSplash() override {}
    bool OpenHelpPage(const std::string&) override { return false; }

  private:
    static PassphraseAnswer Typed(const char* text) {
        PassphraseAnswer answer;
        answer.cancelled = false;
        answer.passphrase = ToSecureBytes(text);
        return answer;
    }
};

struct Agent {
    AnsweringUserInterface ui;
    std::unique_ptr<CAgentApp> app;
    RequestDispatcher dispatcher;
    Bytes blob;         // a stored key, so that operations reach the module
    SecureBytes plain;  // its private half, for add requests
};

Agent* g_agent = nullptr;

std::string ExecutableDir() {
    return std::filesystem::read_symlink("/proc/self/exe").parent_path().string();
}

void Setup() {
    ::setenv("KVSSHAA_MODULE_DIR", (ExecutableDir() + "/crypto").c_str(), 0);
    if (!RegistryDatabase::UseFile(RegistryDatabase::kInMemory)) std::abort();
    g_agent = new Agent;
    g_agent->app = std::make_unique<CAgentApp>(g_agent->ui);
    RegisterRequestHandlers(*g_agent->app, g_agent->dispatcher);
    auto key = GenerateRsaKey(768);
    if (!key.ok()) std::abort();
    g_agent->plain = key.value.ExportPlain().value;
    g_agent->blob = key.value.DerivePublic().value.Export().value;
}

// Settings and lock state come from the first byte, so every path gets its turn.
void Configure(std::uint8_t bits) {
    SettingsTable& settings = g_agent->app->Settings();
    settings.SetFlag(IDS_SETTING_ALLOW_AGENT_REMOVE, bits & 1);
    settings.SetFlag(IDS_SETTING_ASK_BEFORE_AGENT_OP, bits & 2);
    settings.SetFlag(IDS_SETTING_UNLOCK_ON_ACCESS, !(bits & 4));
    settings.SetFlag(IDS_SETTING_ALLOW_SSH1_ACCESS, !(bits & 8));
    g_agent->ui.allow = !(bits & 16);
    if ((bits & 96) == 96) g_agent->app->Keys().Lock();
}

Envelope Request(std::uint32_t code, std::span<const std::uint8_t> payload) {
    Envelope e;
    e.code = code;
    e.flags = kEnvelopeHasWindow;
    e.payload.assign(payload.begin(), payload.end());
    return e;
}

// Mode 0: any code and payload. 1: an operation on the stored key. 2: an add of the stored
// key with a fuzzed text. 3: a delete of it by a fuzzed name.
Envelope Build(std::uint8_t mode, const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::size_t cut = text.find('\n');
    const std::string head = text.substr(0, cut);
    const std::string tail = cut == std::string::npos ? "" : text.substr(cut + 1);
    switch (mode % 4) {
        case 1: {
            const Bytes body(tail.begin(), tail.end());
            return Request(AGENT_PRIVATE_KEY_OP,
                           BuildPrivateKeyOpRequest(1, {}, head, g_agent->blob, body));
        }
        case 2: {
            AgentKeyEntry entry;
            entry.type = 1;
            entry.blob = g_agent->blob;
            entry.comment = text;
            entry.lifetime = static_cast<std::int32_t>(size) - 1;
            entry.flags = 1;
            return Request(AGENT_ADD_KEY, BuildAddRequest(1, {}, entry, g_agent->plain));
        }
        case 3:
            return Request(AGENT_DELETE_KEY, BuildDeleteRequest(1, {"far"}, g_agent->blob, head));
        default: {
            static const std::uint32_t kCodes[] = {AGENT_LIST_KEYS,   AGENT_PRIVATE_KEY_OP,
                                                   AGENT_ADD_KEY,     AGENT_DELETE_KEY,
                                                   AGENT_SHOW_WINDOW, 1038};
            const std::uint32_t code = size > 0 ? kCodes[data[0] % 6] : AGENT_LIST_KEYS;
            return Request(code, std::span<const std::uint8_t>(data, size).subspan(size > 0));
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (g_agent == nullptr) Setup();
    if (size < 2) return 0;
    Configure(data[0]);
    const Envelope request = Build(data[1], data + 2, size - 2);
    (void)g_agent->dispatcher.Process(request, true);
    // Keep the store small, so that every run stays fast.
    if (g_agent->app->Keys().Count() > 20) (void)g_agent->app->Keys().DeleteAll();
    return 0;
}
