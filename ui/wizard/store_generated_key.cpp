#include "ui/wizard/store_generated_key.h"

#include "app/agent_app.h"
#include "app/unlock_on_demand.h"
#include "keys/key_text.h"
#include "res/string_ids.h"
#include "ui/keys/key_command_support.h"
#include "ui/wizard/generated_key_text.h"
#include "ui/wizard/wizard_key_state.h"

namespace kv {

namespace {

// The texts of the wizard's own template, which the string table does not hold.
void CannotDerive(CAgentApp& app, int step) {
    ShowText(app, "Cannot derive public key! [" + std::to_string(step) + "]", MB_OK | MB_ICONSTOP);
}

// The key pair and its protected private half; false (the user told) when one step failed.
bool MakeKeyPair(CAgentApp& app, const PrivateKey& key, KeyPair& pair, PrivateKeyBlob& blob) {
    const ModuleResult<PublicKey> pub = key.DerivePublic();
    if (!pub.ok()) {
        CannotDerive(app, 1);
        return false;
    }
    if (!pair.SetBlobFromPublicKey(pub.value)) {
        CannotDerive(app, 2);
        return false;
    }
    if (!blob.ProtectGenerated(key, app.Keys().HeldPassphrase())) {
        CannotDerive(app, 3);
        return false;
    }
    return true;
}

}  // namespace

bool StoreGeneratedKey(CAgentApp& app, const WizardKeyState& state, const std::string& name,
                       const std::string& comment) {
    if (!state.HasKey()) return false;
    KeyPair pair;
    pair.SetFileName(name);
    // Checked as it will be stored, so that a name the clean-up changes cannot slip past.
    if (app.Keys().NameInUse(pair.Name())) {
        app.MessageBox(IDS_KEY_NAME_IN_USE, MB_OK | MB_ICONSTOP);
        return false;
    }
    // A client may have locked the agent while the wizard was open; the key needs the agent
    // passphrase to be stored.
    if (!UnlockOnDemand(app, TextOf(IDS_PROMPT_GENERATE_COMMAND), false)) return false;
    PrivateKeyBlob blob(&pair);
    if (!MakeKeyPair(app, state.generated_key, pair, blob)) return false;
    blob.SetComment(comment);
    pair.SetComment(comment);
    if (app.Keys().Add(blob, pair) == KeyPair::kNotStored) {
        app.MessageBox(IDS_SAVE_KEY_FAILED, MB_OK | MB_ICONSTOP);
        return false;
    }
    app.Log().LogMessage(nullptr, LogAdd, IDS_KEY_GENERATED, pair.Name().c_str(),
                         KeyTypeNameLower(state.key_type), state.bits);
    return true;
}

}  // namespace kv
