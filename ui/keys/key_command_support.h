// What the key commands share: message boxes with a text of their own, the end of a command,
// and refilling the Keys page's list.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/secure_memory.h"

namespace kv {

class CAgentApp;
class KeyPair;
struct KeyCommandContext;

// The key a command was started on, as it was then: its number and its public blob.
struct ChosenKey {
    std::int32_t number = -1;
    Bytes blob;
};
// The key with `number` as it is when the command starts; an empty blob when there is none.
ChosenKey ChooseKey(CAgentApp& app, std::int32_t number);
// The chosen key found again after a prompt, or nullptr when it went. A number is given again
// once its key is deleted, so a client that deleted the key and added another while the prompt
// was open must not make the command act on that other key: the blob tells them apart.
KeyPair* FindChosenKey(CAgentApp& app, const ChosenKey& chosen);

// The string-table text `id`, empty when the table has none.
std::string TextOf(unsigned id);

// A message box with the product name as caption; the button pressed.
int ShowText(CAgentApp& app, const std::string& text, std::uint32_t style);
// The string-table text `id`, a line break and `detail` (a file path).
int ShowTextWithDetail(CAgentApp& app, unsigned id, const std::string& detail, std::uint32_t style);
// The Keys page shows the store again (through the configuration window's refresh).
void RefillKeyList(CAgentApp& app);
// The public key file of an import (`save` false) or an export, from the context's chooser.
std::optional<std::string> ChooseKeyFile(const KeyCommandContext& context, bool save);
// Most commands end so: the user was active, and the topmost window comes back to the front.
void EndKeyCommand(CAgentApp& app);

}  // namespace kv
