#include "ui/keys/key_command_support.h"

#include <algorithm>

#include "app/agent_app.h"
#include "res/string_ids.h"
#include "res/string_table.h"
#include "ui/keys/key_commands.h"
#include "ui/keys/key_file_chooser.h"

namespace kv {

std::string TextOf(unsigned id) {
    const char* text = LoadString(id);
    return text != nullptr ? text : "";
}

int ShowText(CAgentApp& app, const std::string& text, std::uint32_t style) {
    return app.Ui().MessageBox(text, TextOf(IDS_CAPTION), style);
}

int ShowTextWithDetail(CAgentApp& app, unsigned id, const std::string& detail,
                       std::uint32_t style) {
    return ShowText(app, TextOf(id) + "\n" + detail, style);
}

std::optional<std::string> ChooseKeyFile(const KeyCommandContext& context, bool save) {
    QtKeyFileChooser qt(context.ui, context.page);
    KeyFileChooser& chooser = context.files != nullptr ? *context.files : qt;
    return save ? chooser.ChooseExportFile(ExportStartFolder())
                : chooser.ChooseImportFile(ImportStartFolder());
}

ChosenKey ChooseKey(CAgentApp& app, std::int32_t number) {
    const KeyPair* key = app.Keys().FindByNumber(number);
    return {number, key != nullptr ? key->Blob() : Bytes()};
}

KeyPair* FindChosenKey(CAgentApp& app, const ChosenKey& chosen) {
    KeyPair* key = app.Keys().FindByNumber(chosen.number);
    if (key == nullptr || chosen.blob.empty() || !std::ranges::equal(key->Blob(), chosen.blob))
        return nullptr;
    return key;
}

void RefillKeyList(CAgentApp& app) {
    if (app.Ui().WindowIsOpen()) app.Ui().RefreshWindow();
}

void EndKeyCommand(CAgentApp& app) {
    app.RestartAutoLock();
    app.BringToFront();
}

}  // namespace kv
