// The import command: a public key file chosen by the user, the private key file beside it,
// its passphrase if it has one, then the key goes into the store under the agent passphrase.
#include <optional>

#include "agent/handlers/unlock_on_demand.h"
#include "app/agent_app.h"
#include "app/prompt_runner.h"
#include "keys/key_file_names.h"
#include "keys/ssh2_key_file.h"
#include "res/string_ids.h"
#include "ui/keys/key_command_support.h"
#include "ui/keys/key_commands.h"

namespace kv {

namespace {

constexpr int kPassphrasePrompts = 3;

// The passphrase that opens the private key: none for a plain key, else what the user types,
// three tries. Nothing when the user cancelled or ran out of tries.
std::optional<SecureBytes> FindFilePassphrase(CAgentApp& app, const KeyPair& pair,
                                              const PrivateKeyBlob& blob) {
    SecureBytes passphrase;
    for (int attempt = 0;; ++attempt) {
        if (blob.OpensWithPassphrase(passphrase)) return passphrase;
        if (attempt != 0) app.MessageBox(IDS_INVALID_PASSPHRASE, MB_OK | MB_ICONSTOP);
        if (attempt == kPassphrasePrompts) {
            ShowTextWithDetail(app, IDS_INVALID_KEY_FILE_PASSPHRASE, pair.Path(),
                               MB_OK | MB_ICONEXCLAMATION);
            return std::nullopt;
        }
        PassphraseAnswer answer =
            RunPrompt(app, [&] { return app.Ui().AskKeyPassphrase(pair.Name(), pair.Comment()); });
        // Cancel ends the import: the user gave up on this key.
        if (answer.cancelled) return std::nullopt;
        passphrase = std::move(answer.passphrase);
    }
}

void ReportImportFailed(CAgentApp& app, const KeyPair& pair) {
    app.Log().LogMessage(nullptr, LogError, IDS_IMPORT_KEY_FAILED, pair.Name().c_str());
    app.MessageBox(IDS_IMPORT_FAILED, MB_OK | MB_ICONSTOP);
}

void StoreImported(CAgentApp& app, KeyPair& pair, PrivateKeyBlob& blob,
                   Passphrase file_passphrase) {
    KeyStore& keys = app.Keys();
    // Taken only now: the agent may have been locked while a prompt was open. A key that is
    // not under the agent passphrase is never stored, as it could be stored in the clear.
    const Passphrase held = keys.HeldPassphrase();
    if (held.empty() || !blob.Reprotect(file_passphrase, held)) {
        app.Log().LogMessage(nullptr, LogError, IDS_IMPORT_REPROTECT_FAILED);
        app.MessageBox(IDS_IMPORT_REPROTECT_FAILED, MB_OK | MB_ICONSTOP);
        ReportImportFailed(app, pair);
        return;
    }
    const std::int32_t number = keys.Add(blob, pair);
    RefillKeyList(app);
    if (number == KeyPair::kNotStored) {
        ReportImportFailed(app, pair);
        return;
    }
    app.KeySetChanged();
    app.Log().LogMessage(nullptr, LogAdd, IDS_KEY_IMPORTED, pair.Name().c_str());
    app.MessageBox(IDS_IMPORT_SUCCEEDED, MB_OK | MB_ICONINFORMATION);
}

}  // namespace

void ImportKeyPair(const KeyCommandContext& context) {
    CAgentApp& app = context.app;
    if (!UnlockOnDemand(app, TextOf(IDS_PROMPT_IMPORT_COMMAND), false)) return;
    const std::optional<std::string> path = ChooseKeyFile(context, false);
    if (!path) {
        EndKeyCommand(app);
        return;
    }
    KeyPair pair = KeyPair::ForPublicKeyFile(*path);
    if (!ReadPublicKeyFile(pair)) {
        ShowTextWithDetail(app, IDS_LOAD_PUBLIC_KEY_FAILED, *path, MB_OK | MB_ICONSTOP);
        return;
    }
    const std::string private_path = ImportPrivateKeyPath(*path);
    PrivateKeyBlob blob = PrivateKeyBlob::ForFile(private_path, &pair);
    if (!ReadPrivateKeyFile(blob)) {
        ShowTextWithDetail(app, IDS_LOAD_PRIVATE_KEY_FAILED, private_path, MB_OK | MB_ICONSTOP);
        return;
    }
    const std::optional<SecureBytes> passphrase = FindFilePassphrase(app, pair, blob);
    if (!passphrase) {
        app.BringToFront();
        return;
    }
    StoreImported(app, pair, blob, *passphrase);
    EndKeyCommand(app);
}

}  // namespace kv
