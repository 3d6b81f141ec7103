// What Finish does with the key the wizard made: a key pair with the chosen name and comment,
// the private half protected with the agent passphrase, into the key store.
#pragma once

#include <string>

namespace kv {

class CAgentApp;
class WizardKeyState;

// False when the wizard must stay on its last page; the user has been told why.
bool StoreGeneratedKey(CAgentApp& app, const WizardKeyState& state, const std::string& name,
                       const std::string& comment);

}  // namespace kv
