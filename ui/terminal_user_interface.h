// Prompts on the agent's controlling terminal, for an agent started from a shell without a
// display and without SSH_ASKPASS (over ssh on a server, say). The questions and their rules
// are the askpass ones; passphrases are read without echo, confirmations as y/N. The
// terminal is read inside a nested event loop, so requests and timers go on meanwhile.
#pragma once

#include "ui/askpass_user_interface.h"

namespace kv {

class TerminalUserInterface : public AskpassUserInterface {
  public:
    // True when this process has a controlling terminal it can ask on.
    static bool Available();

    TerminalUserInterface() : AskpassUserInterface("") {}

  protected:
    std::optional<SecureBytes> Run(const std::string& prompt, bool confirm) override;
};

}  // namespace kv
