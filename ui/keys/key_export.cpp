// The export command: the public key file the user names, the private key file beside it,
// protected by a passphrase chosen for the export (or none). RSA and DSA keys go to SSH2 files;
// Ed25519 and ECDSA keys, which those cannot hold, to OpenSSH's (a one-line public key and a
// private key file that ssh-keygen and ssh-add read).
#include <sys/stat.h>

#include <optional>

#include "app/agent_app.h"
#include "app/prompt_runner.h"
#include "app/unlock_on_demand.h"
#include "keys/key_file_io.h"
#include "keys/key_file_names.h"
#include "keys/openssh_key_file.h"
#include "keys/ssh2_key_file.h"
#include "res/format_text.h"
#include "res/string_ids.h"
#include "ui/keys/key_command_support.h"
#include "ui/keys/key_commands.h"

namespace kv {

namespace {

// The chosen export passphrase; nothing when the user cancelled.
std::optional<SecureBytes> AskExportPassphrase(CAgentApp& app) {
    PassphraseAnswer answer = RunPrompt(app, [&] {
        return app.Ui().AskNewPassphrase(TextOf(IDS_CHOOSE_EXPORT_PASSPHRASE), true,
                                         TextOf(IDS_CONFIRM_EMPTY_EXPORT_PASSPHRASE));
    });
    if (answer.cancelled) return std::nullopt;
    return std::move(answer.passphrase);
}

// Both files or neither: a file that could not be written makes the export a failure, and
// must not leave the other replaced (an old private key file beside a new public one).
bool WriteKeyFiles(CAgentApp& app, const KeyPair& pair, const PrivateKeyBlob& blob,
                   const std::string& public_path, const std::string& private_path,
                   Passphrase file_passphrase) {
    const bool openssh = NeedsOpenSshKeyFile(pair.Blob());
    // Taken only now: the agent may have been locked while the prompt was open.
    const Passphrase held = app.Keys().HeldPassphrase();
    const std::optional<SecureBytes> public_text =
        openssh ? ComposeOpenSshPublicKeyFile(pair) : ComposePublicKeyFile(pair);
    const std::optional<SecureBytes> private_text =
        openssh ? ComposeOpenSshPrivateKeyFile(blob, held, file_passphrase)
                : ComposePrivateKeyFile(blob, held, file_passphrase);
    return public_text && private_text &&
           ReplaceFilePair({private_path, *private_text, kPrivateFileMode},
                           {public_path, *public_text, kPublicFileMode});
}

void ExportTo(CAgentApp& app, const ChosenKey& chosen, const std::string& name,
              const std::string& public_path) {
    const KeyPair* stored = FindChosenKey(app, chosen);
    std::optional<PrivateKeyBlob> blob;
    if (stored != nullptr) blob = app.Keys().ReadPrivateKey(chosen.number);
    if (stored == nullptr || !blob) {
        app.MessageBox(IDS_EXPORT_CANNOT_READ_KEY, MB_OK | MB_ICONEXCLAMATION);
        return;
    }
    // A copy: the stored key may be deleted by a client while the prompt below is open.
    const KeyPair pair = *stored;
    blob->SetOwner(nullptr);
    if (blob->Comment().empty() && !pair.Comment().empty()) blob->SetComment(pair.Comment());
    const std::string private_path = ExportPrivateKeyPath(public_path);
    // The file dialog asked before replacing the public key file only: the private key file
    // beside it (the id_rsa of an id_rsa.pub) is asked for here.
    struct stat existing {};
    if (::lstat(private_path.c_str(), &existing) == 0 &&
        ShowText(app, FormatText(IDS_EXPORT_REPLACE_PRIVATE_FILE, private_path.c_str()),
                 MB_YESNO | MB_ICONEXCLAMATION | MB_DEFBUTTON2) != IDYES) {
        return;
    }
    const std::optional<SecureBytes> passphrase = AskExportPassphrase(app);
    if (!passphrase) return;
    if (WriteKeyFiles(app, pair, *blob, public_path, private_path, *passphrase)) {
        app.Log().LogMessage(nullptr, LogInfo, IDS_KEY_EXPORTED, name.c_str(), private_path.c_str(),
                             public_path.c_str());
        app.MessageBox(IDS_EXPORT_SAVED, MB_OK | MB_ICONINFORMATION);
    } else {
        app.Log().LogMessage(nullptr, LogError, IDS_EXPORT_KEY_FAILED, name.c_str(),
                             private_path.c_str(), public_path.c_str());
        app.MessageBox(IDS_EXPORT_FAILED, MB_OK | MB_ICONEXCLAMATION);
    }
}

}  // namespace

void ExportKeyPair(const KeyCommandContext& context, std::int32_t key_number) {
    CAgentApp& app = context.app;
    if (key_number < 0) return;
    const ChosenKey chosen = ChooseKey(app, key_number);
    app.RestartAutoLock();
    if (!UnlockOnDemand(app, TextOf(IDS_PROMPT_EXPORT_COMMAND), false)) return;
    // The name the row shows, for the log texts.
    const KeyPair* listed = FindChosenKey(app, chosen);
    const std::string name = listed != nullptr ? listed->Name() : std::string();
    if (const std::optional<std::string> path = ChooseKeyFile(context, true)) {
        ExportTo(app, chosen, name, *path);
    }
    EndKeyCommand(app);
}

}  // namespace kv
