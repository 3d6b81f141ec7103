// What kvsshaa-client prints: text for people, JSON for scripts. Exit status: 0 when the
// agent did what was asked, 3 when it answered with a refusal, 1 on an error.
#pragma once

#include <optional>
#include <string>

#include "agent/payloads.h"
#include "platform/envelope.h"

namespace kv {

class Output {
  public:
    explicit Output(bool json) : m_json(json) {}

    int List(const std::optional<ListReply>& reply, const std::string& error) const;
    int Status(const char* what, const std::optional<StatusReply>& reply,
               const std::string& error) const;
    int Operation(const std::optional<PrivateKeyOpReply>& reply, const std::string& error) const;
    int Raw(const std::optional<Envelope>& reply, bool reply_wanted,
            const std::string& error) const;
    int Triggered(bool triggered) const;

  private:
    int Error(const std::string& error) const;
    bool m_json;
};

std::string JsonString(const std::string& text);

}  // namespace kv
