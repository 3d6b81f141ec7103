// The import command: a public key file chosen by the user, the private key file beside it,
// its passphrase if it has one, then the key goes into the store under the agent passphrase.
// SSH2 files are read as they always were; OpenSSH's files (one-line public keys, private keys
// in the OpenSSH format or PEM) come in through the keys layer's readers. An OpenSSH private
// key file may also be chosen alone, as OpenSSH users keep no other file that holds the key.
#include <functional>
#include <optional>

#include "app/agent_app.h"
#include "app/prompt_runner.h"
#include "app/unlock_on_demand.h"
#include "keys/key_file_io.h"
#include "keys/key_file_names.h"
#include "keys/openssh_key_file.h"
#include "keys/ssh2_key_file.h"
#include "res/string_ids.h"
#include "ui/keys/key_command_support.h"
#include "ui/keys/key_commands.h"

namespace kv {

namespace {

constexpr int kPassphrasePrompts = 3;

enum class Opening { kOpened, kWrongPassphrase, kFailed };

// Tries `open` with no passphrase, then with what the user types, three times. True once it
// opened; false when the user cancelled, ran out of tries (told so, `chosen_path` named) or
// `open` failed for another reason (it told the user why).
bool OpenWithFilePassphrase(CAgentApp& app, const KeyPair& pair, const std::string& chosen_path,
                            const std::function<Opening(Passphrase)>& open) {
    SecureBytes passphrase;
    for (int attempt = 0;; ++attempt) {
        const Opening opening = open(passphrase);
        if (opening != Opening::kWrongPassphrase) return opening == Opening::kOpened;
        if (attempt != 0) app.MessageBox(IDS_INVALID_PASSPHRASE, MB_OK | MB_ICONSTOP);
        if (attempt == kPassphrasePrompts) {
            ShowTextWithDetail(app, IDS_INVALID_KEY_FILE_PASSPHRASE, chosen_path,
                               MB_OK | MB_ICONEXCLAMATION);
            return false;
        }
        PassphraseAnswer answer =
            RunPrompt(app, [&] { return app.Ui().AskKeyPassphrase(pair.Name(), pair.Comment()); });
        // Cancel ends the import: the user gave up on this key.
        if (answer.cancelled) return false;
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

// An SSH2 private key file: the container is read as it is and opened with its passphrase.
// Only a passphrase the file needs or refused is asked for (again): a damaged container, a
// cipher the module does not know or a key that is not sound (a composite factor gives it
// away) is named at once, as no passphrase could open it.
void ImportSsh2PrivateKey(CAgentApp& app, KeyPair& pair, PrivateKeyBlob& blob) {
    SecureBytes file_passphrase;
    const bool opened = OpenWithFilePassphrase(app, pair, pair.Path(), [&](Passphrase passphrase) {
        const int code = blob.OpenFromKeyFile(passphrase).code;
        if (code == KVCLM_E_NEED_PASSPHRASE || code == KVCLM_E_BAD_PASSPHRASE) {
            return Opening::kWrongPassphrase;
        }
        if (code != KVCLM_OK) {
            ShowTextWithDetail(app, IDS_LOAD_PRIVATE_KEY_FAILED,
                               PrivateKeyFileError(blob.File(), code), MB_OK | MB_ICONSTOP);
            return Opening::kFailed;
        }
        file_passphrase.assign(passphrase.begin(), passphrase.end());
        return Opening::kOpened;
    });
    if (!opened) {
        app.BringToFront();
        return;
    }
    StoreImported(app, pair, blob, file_passphrase);
    EndKeyCommand(app);
}

// An OpenSSH or PEM private key file: the keys layer opens it with each passphrase tried and
// hands over the key unprotected, with the public key derived from it. A pair read from a
// public key file keeps that file's key, so that the store refuses halves that do not match.
void ImportOpenSshPrivateKey(CAgentApp& app, KeyPair& pair, const std::string& private_path) {
    std::optional<OpenSshPrivateKeyContents> contents;
    const bool opened = OpenWithFilePassphrase(app, pair, pair.Path(), [&](Passphrase passphrase) {
        std::string error;
        bool refused = false;
        contents = ReadOpenSshPrivateKeyFile(private_path, passphrase, error, &refused);
        if (contents) return Opening::kOpened;
        if (refused) return Opening::kWrongPassphrase;
        ShowTextWithDetail(app, IDS_LOAD_PRIVATE_KEY_FAILED, error, MB_OK | MB_ICONSTOP);
        return Opening::kFailed;
    });
    if (!opened) {
        app.BringToFront();
        return;
    }
    if (pair.Blob().empty()) pair.SetBlob(contents->public_blob);
    if (pair.Comment().empty()) pair.SetComment(contents->comment);
    PrivateKeyBlob blob = PrivateKeyBlob::ForFile(private_path, &pair);
    blob.SetBlob(contents->container);
    blob.SetComment(contents->comment);
    StoreImported(app, pair, blob, {});
    EndKeyCommand(app);
}

// True for a private key file in OpenSSH's formats, which are never taken for SSH2 files.
bool IsOpenSshPrivateKeyFile(const std::string& path) {
    const std::optional<SecureBytes> bytes = ReadKeyFileBytes(path);
    return bytes && LooksLikeOpenSshPrivateKeyFile(*bytes);
}

void ImportFromPublicKeyFile(CAgentApp& app, const std::string& path) {
    KeyPair pair = KeyPair::ForPublicKeyFile(path);
    if (!ReadPublicKeyFile(pair) && !ReadOpenSshPublicKeyFile(pair)) {
        ShowTextWithDetail(app, IDS_LOAD_PUBLIC_KEY_FAILED, path, MB_OK | MB_ICONSTOP);
        return;
    }
    const std::string private_path = ImportPrivateKeyPath(path);
    PrivateKeyBlob blob = PrivateKeyBlob::ForFile(private_path, &pair);
    if (ReadPrivateKeyFile(blob)) {
        ImportSsh2PrivateKey(app, pair, blob);
    } else if (IsOpenSshPrivateKeyFile(private_path)) {
        ImportOpenSshPrivateKey(app, pair, private_path);
    } else {
        ShowTextWithDetail(app, IDS_LOAD_PRIVATE_KEY_FAILED, private_path, MB_OK | MB_ICONSTOP);
    }
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
    if (IsOpenSshPrivateKeyFile(*path)) {
        // Named after the file, as a public key file would name it ("id_ed25519").
        KeyPair pair = KeyPair::ForPublicKeyFile(*path);
        ImportOpenSshPrivateKey(app, pair, *path);
    } else {
        ImportFromPublicKeyFile(app, *path);
    }
}

}  // namespace kv
