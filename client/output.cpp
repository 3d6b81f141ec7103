#include "client/output.h"

#include <cstdio>

#include "client/key_input.h"
#include "keys/fingerprint.h"
#include "keys/key_text.h"
#include "platform/one_line_text.h"

namespace kv {

// Comments are a client's bytes: what is not UTF-8 becomes U+FFFD, so that the output stays
// JSON that any parser takes, and no control character reaches a terminal unescaped.
std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        const std::size_t length = DecodeUtf8(text, i).second;
        if (length == 0) {
            out += "\\ufffd";
            ++i;
            continue;
        }
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out.append(text, i, length);
        }
        i += length;
    }
    return out + "\"";
}

int Output::Error(const std::string& error) const {
    if (m_json) {
        std::printf("{\"error\":%s}\n", JsonString(error).c_str());
    } else {
        std::fprintf(stderr, "kvsshaa-client: %s\n", error.c_str());
    }
    return 1;
}

int Output::List(const std::optional<ListReply>& reply, const std::string& error) const {
    if (!reply) return Error(error);
    if (m_json) {
        std::printf("{\"id\":%d,\"status\":%d,\"keys\":[", reply->id, reply->status);
        for (std::size_t i = 0; i < reply->keys.size(); ++i) {
            const AgentKeyEntry& key = reply->keys[i];
            std::printf(
                "%s{\"comment\":%s,\"lifetime\":%d,\"flags\":%d,\"blob\":\"%s\",\"sha256\":%s}",
                i ? "," : "", JsonString(key.comment.value_or("")).c_str(), key.lifetime, key.flags,
                EncodeHex(key.blob.data(), key.blob.size()).c_str(),
                JsonString(Sha256FingerprintOfBlob(key.blob)).c_str());
        }
        std::printf("]}\n");
        return 0;
    }
    std::printf("%zu key(s)\n", reply->keys.size());
    for (const AgentKeyEntry& key : reply->keys) {
        // What a person recognises a key by: its kind and size, and its fingerprints in the
        // SHA-256 form OpenSSH shows and the MD5 form. The comment is the adding client's
        // text: no control character of it reaches the terminal.
        std::printf("  %s  %s  MD5:%s\n      %s  lifetime %s  ssh1 %s\n",
                    DescribePublicBlob(key.blob).c_str(), Sha256FingerprintOfBlob(key.blob).c_str(),
                    FingerprintOfBlob(key.blob, kFingerprintMd5Hex).c_str(),
                    OneLine(key.comment.value_or("")).c_str(),
                    key.lifetime == -1 ? "never" : std::to_string(key.lifetime).c_str(),
                    key.flags ? "yes" : "no");
    }
    return 0;
}

int Output::Status(const char* what, const std::optional<StatusReply>& reply,
                   const std::string& error) const {
    if (!reply) return Error(error);
    if (m_json) {
        std::printf("{\"id\":%d,\"status\":%d}\n", reply->id, reply->status);
    } else {
        std::printf("%s: %s (status %d)\n", what, reply->status == 0 ? "done" : "refused",
                    reply->status);
    }
    return reply->status == 0 ? 0 : 3;
}

int Output::Operation(const std::optional<PrivateKeyOpReply>& reply,
                      const std::string& error) const {
    if (!reply) return Error(error);
    const std::string result =
        reply->result ? EncodeHex(reply->result->data(), reply->result->size()) : "";
    if (m_json) {
        const std::string status = reply->status ? std::to_string(*reply->status) : "null";
        std::printf("{\"id\":%d,\"status\":%s,\"result\":\"%s\"}\n", reply->id, status.c_str(),
                    result.c_str());
    } else if (!reply->status) {
        std::printf("refused: the agent is locked\n");
    } else if (*reply->status == 0) {
        std::printf("%s\n", result.c_str());
    } else {
        std::printf("refused (status %d)\n", *reply->status);
    }
    return reply->status && *reply->status == 0 ? 0 : 3;
}

int Output::Raw(const std::optional<Envelope>& reply, bool reply_wanted,
                const std::string& error) const {
    if (!reply) {
        // Without a window nothing comes back, so only an error text tells a failed send.
        if (reply_wanted || !error.empty()) return Error(error);
        if (!m_json) std::printf("sent (no reply wanted)\n");
        if (m_json) std::printf("{\"sent\":true}\n");
        return 0;
    }
    const std::string hex = EncodeHex(reply->payload.data(), reply->payload.size());
    if (m_json) {
        std::printf("{\"code\":%u,\"flags\":%u,\"length\":%zu,\"payload\":\"%s\"}\n", reply->code,
                    reply->flags, reply->payload.size(), hex.c_str());
    } else {
        std::printf("code %u flags %u length %zu\n%s\n", reply->code, reply->flags,
                    reply->payload.size(), hex.c_str());
    }
    return 0;
}

int Output::Triggered(bool triggered) const {
    if (m_json) {
        std::printf("{\"triggered\":%s}\n", triggered ? "true" : "false");
    } else {
        std::printf("%s\n", triggered ? "triggered" : "timed out");
    }
    return triggered ? 0 : 3;
}

}  // namespace kv
