// Delete, properties and the generation wizard; import and export have files of their own.
#include "ui/keys/key_commands.h"

#include "app/agent_app.h"
#include "app/unlock_on_demand.h"
#include "keys/fingerprint.h"
#include "keys/openssh_key_file.h"
#include "res/string_ids.h"
#include "ui/keys/key_command_support.h"
#include "ui/keys/key_properties_dialog.h"
#include "ui/qt_user_interface.h"
#include "ui/wizard/keygen_wizard.h"

namespace kv {

namespace {

void DeleteConfirmed(CAgentApp& app, const ChosenKey& chosen) {
    const KeyPair* pair = FindChosenKey(app, chosen);
    if (pair == nullptr) {
        app.MessageBox(IDS_NO_SUCH_KEY, MB_OK | MB_ICONSTOP);
        return;
    }
    const std::string name = pair->Name();
    if (app.Keys().Delete(chosen.number)) {
        app.Log().LogMessage(nullptr, LogDelete, IDS_KEY_DELETED, name.c_str());
        app.KeySetChanged();
    } else {
        app.Log().LogMessage(nullptr, LogError, IDS_DELETE_KEY_FAILED, name.c_str());
        app.MessageBox(IDS_DELETE_FAILED, MB_OK | MB_ICONSTOP);
    }
    RefillKeyList(app);
}

KeyProperties PropertiesOf(const KeyPair& pair, FileTime now) {
    KeyProperties properties;
    properties.type_text = QString::fromStdString(DescribeKey(pair));
    properties.name = QString::fromStdString(pair.Name());
    properties.comment = QString::fromStdString(pair.Comment());
    properties.compat = pair.Compat() != 0;
    // Curve keys are exactly those an SSH1 attempt can never use.
    properties.ssh1_capable = !NeedsOpenSshKeyFile(pair.Blob());
    properties.has_expiry = pair.Expiry() != kFileTimeNever;
    properties.seconds = pair.SecondsLeft(now);
    properties.sha1_fingerprint =
        QString::fromStdString(KeyFingerprint(pair, kFingerprintBubbleBabble));
    properties.md5_fingerprint = QString::fromStdString(KeyFingerprint(pair, kFingerprintMd5Hex));
    properties.sha256_fingerprint = QString::fromStdString(KeyFingerprintSha256(pair));
    return properties;
}

// Edits a copy, so that the list never shows what the registry refused to keep.
void SaveProperties(CAgentApp& app, const ChosenKey& chosen, const KeyProperties& edited) {
    KeyPair* stored = FindChosenKey(app, chosen);
    if (stored == nullptr) {
        // A client deleted the key while the dialog was open.
        app.MessageBox(IDS_SAVE_KEY_FAILED, MB_OK | MB_ICONEXCLAMATION);
        RefillKeyList(app);
        return;
    }
    KeyPair pair = *stored;
    pair.SetComment(edited.comment.toStdString());
    pair.SetFileName(edited.name.toStdString());
    if (edited.ssh1_capable) pair.SetCompat(edited.compat ? 1 : 0);
    // The seconds shown were counted when the dialog opened: saved again untouched, they
    // would lengthen the key's life by the time the dialog stood open (or give it back to a
    // key whose lifetime a client renewed meanwhile).
    if (edited.expiry_edited) {
        if (edited.has_expiry) {
            pair.SetLifetime(edited.seconds, app.TimeSource().Now());
        } else {
            pair.SetExpiry(kFileTimeNever);
        }
    }
    if (app.Keys().Update(pair)) {
        *stored = pair;
        app.Log().LogMessage(nullptr, LogInfo, IDS_PROPERTIES_CHANGED, pair.Name().c_str());
    } else {
        app.MessageBox(IDS_SAVE_KEY_FAILED, MB_OK | MB_ICONEXCLAMATION);
    }
    RefillKeyList(app);
}

}  // namespace

void DeleteKeyPair(const KeyCommandContext& context, std::int32_t key_number) {
    CAgentApp& app = context.app;
    const ChosenKey chosen = ChooseKey(app, key_number);
    if (!UnlockOnDemand(app, TextOf(IDS_PROMPT_DELETE_COMMAND), false)) return;
    app.RestartAutoLock();
    // Owned by the desktop: the question stands on its own, above every window. No is its
    // default, as a delete cannot be undone: an Enter meant for another window keeps the key.
    // Asked again after the question, during which the agent may have been locked.
    if (app.MessageBox(IDS_CONFIRM_DELETE_KEY, MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) ==
            IDYES &&
        UnlockOnDemand(app, TextOf(IDS_PROMPT_DELETE_COMMAND), false)) {
        DeleteConfirmed(app, chosen);
    }
    app.RestartAutoLock();
}

void ShowKeyProperties(const KeyCommandContext& context, std::int32_t key_number) {
    CAgentApp& app = context.app;
    const ChosenKey chosen = ChooseKey(app, key_number);
    if (chosen.blob.empty()) return;
    if (!UnlockOnDemand(app, TextOf(IDS_PROMPT_VIEW_COMMAND), false)) return;
    // Found again: a client may have deleted the key while the unlock prompt was open.
    const KeyPair* pair = FindChosenKey(app, chosen);
    if (pair == nullptr) return;
    CKeyPropertiesDialog dialog(context.page);
    dialog.SetProperties(PropertiesOf(*pair, app.TimeSource().Now()));
    dialog.SetMessageSink([&app](const QString& text) {
        ShowText(app, text.toStdString(), MB_OK | MB_ICONEXCLAMATION);
    });
    // The agent may have been locked while the dialog was open: a key changes only on an
    // unlocked agent, as when the dialog opened.
    if (context.ui.RunDialog(dialog) == QDialog::Accepted && dialog.Changed() &&
        UnlockOnDemand(app, TextOf(IDS_PROMPT_VIEW_COMMAND), false)) {
        SaveProperties(app, chosen, dialog.Properties());
    }
    app.BringToFront();
}

void GenerateKeyPair(const KeyCommandContext& context) {
    CAgentApp& app = context.app;
    if (!UnlockOnDemand(app, TextOf(IDS_PROMPT_GENERATE_COMMAND), false)) return;
    // Outlives the wizard and its worker; a key made but never stored goes with it.
    WizardKeyState state;
    bool finished = false;
    {
        CKeygenWizard wizard(app, state, ModuleKeyGenerator(), context.page);
        finished = context.ui.RunDialog(wizard) == QDialog::Accepted;
    }
    if (finished) RefillKeyList(app);
    app.KeySetChanged();
    app.BringToFront();
}

}  // namespace kv
