// Placeholder until the key dialogs land: the commands do nothing yet.
#include "ui/keys/key_commands.h"

namespace kv {

void ImportKeyPair(const KeyCommandContext&) {}
void ExportKeyPair(const KeyCommandContext&, std::int32_t) {}
void DeleteKeyPair(const KeyCommandContext&, std::int32_t) {}
void ShowKeyProperties(const KeyCommandContext&, std::int32_t) {}
void GenerateKeyPair(const KeyCommandContext&) {}

}  // namespace kv
