// The Keys page's commands: import, export, delete, properties and the key generation
// wizard. Each first runs unlock on demand with its own prompt text; each change of the key
// set ends in "key set changed", which signals the trigger event and refreshes the
// configuration window (and with it the key list).
#pragma once

#include <cstdint>

class QWidget;

namespace kv {

class CAgentApp;
class KeyFileChooser;
class QtUserInterface;

struct KeyCommandContext {
    CAgentApp& app;
    QtUserInterface& ui;  // runs the command's dialogs on the modal prompt stack
    QWidget* page;        // the Keys page, owner of the command's dialogs
    // The open and save dialogs of import and export; none: Qt's file dialogs, owned by page.
    KeyFileChooser* files = nullptr;
};

void ImportKeyPair(const KeyCommandContext& context);
// `key_number`: the key number carried by the first selected row, -1 when none is selected.
void ExportKeyPair(const KeyCommandContext& context, std::int32_t key_number);
void DeleteKeyPair(const KeyCommandContext& context, std::int32_t key_number);
void ShowKeyProperties(const KeyCommandContext& context, std::int32_t key_number);
void GenerateKeyPair(const KeyCommandContext& context);

}  // namespace kv
