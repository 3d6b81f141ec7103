// The native requests the OpenSSH front end sends: built with the native payload builders,
// handed to the same dispatcher the native socket uses (so every setting, prompt and log
// entry of the native handlers applies), and the replies parsed back.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "agent/payloads.h"
#include "agent/request_dispatcher.h"

namespace kv {

class NativeChannel {
  public:
    explicit NativeChannel(const RequestDispatcher& dispatcher) : m_dispatcher(dispatcher) {}

    // Each returns nullopt when the request could not be built or the reply is the error
    // reply or does not parse; otherwise the reply (for add and delete, its status). A
    // private-key operation whose reply was deferred (DeferralScope) returns nullopt too, and
    // its deferred reply goes on as the reply payload, or empty for the nullopt cases.
    std::optional<ListReply> List(const std::string& origin);
    std::optional<int32_t> Add(const std::string& origin, const AgentKeyEntry& entry,
                               std::span<const uint8_t> private_blob);
    std::optional<int32_t> Delete(const std::string& origin, std::span<const uint8_t> blob,
                                  const std::string& name);
    std::optional<int32_t> DeleteAll(const std::string& origin);
    std::optional<PrivateKeyOpReply> PrivateKeyOp(const std::string& origin,
                                                  std::string_view operation,
                                                  std::span<const uint8_t> blob,
                                                  std::span<const uint8_t> data);

  private:
    // The reply payload when the reply has `reply_code`; nullopt for anything else.
    std::optional<SecureBytes> Call(uint32_t code, uint32_t reply_code,
                                    std::span<const uint8_t> payload);
    std::optional<int32_t> Status(uint32_t code, int32_t id, std::span<const uint8_t> payload);
    int32_t NextId();

    const RequestDispatcher& m_dispatcher;
    int32_t m_next_id = 1;
};

}  // namespace kv
