// Codes carried in the envelope's code word of the native protocol, and which reply code
// answers each request.
#pragma once

#include <cstdint>
#include <optional>

namespace kv {

enum MessageCode : uint32_t {
    AGENT_LIST_KEYS = 1037,
    AGENT_LIST_KEYS_REPLY = 1038,
    AGENT_PRIVATE_KEY_OP = 1041,
    AGENT_PRIVATE_KEY_OP_REPLY = 1042,
    AGENT_ADD_KEY = 1044,     // the add reply reuses the request's code
    AGENT_DELETE_KEY = 1045,  // so does the delete reply
    AGENT_SHOW_WINDOW = 1046,
    AGENT_FAILURE = 1064,
};

// The code of the reply to a request that carries a payload; nullopt for every other code
// (1046 has no reply, the rest are ignored).
constexpr std::optional<uint32_t> ReplyCodeFor(uint32_t request_code) {
    switch (request_code) {
        case AGENT_LIST_KEYS:
            return AGENT_LIST_KEYS_REPLY;
        case AGENT_PRIVATE_KEY_OP:
            return AGENT_PRIVATE_KEY_OP_REPLY;
        case AGENT_ADD_KEY:
            return AGENT_ADD_KEY;
        case AGENT_DELETE_KEY:
            return AGENT_DELETE_KEY;
        default:
            return std::nullopt;
    }
}

}  // namespace kv
