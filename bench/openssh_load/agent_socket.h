// A blocking OpenSSH agent protocol client on a Unix socket, for the load client.
#pragma once

#include <openssl/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kv::bench {

using Bytes = std::vector<uint8_t>;

void PutU32(Bytes& out, uint32_t v);
// The big-endian 32-bit word at `p` (a length or a count).
uint32_t GetU32(const uint8_t* p);
void PutString(Bytes& out, const Bytes& s);
void PutString(Bytes& out, const std::string& s);
// An SSH mpint of a non-negative number.
void PutMpint(Bytes& out, const BIGNUM* n);

// Bounded reads over a reply; every read checks what remains.
class Reader {
  public:
    explicit Reader(const Bytes& data) : m_data(data) {}
    bool U8(uint8_t& v);
    bool U32(uint32_t& v);
    bool String(Bytes& v);

  private:
    const Bytes& m_data;
    std::size_t m_pos = 0;
};

class AgentSocket {
  public:
    explicit AgentSocket(const std::string& path);
    ~AgentSocket();
    AgentSocket(const AgentSocket&) = delete;
    AgentSocket& operator=(const AgentSocket&) = delete;

    bool Ok() const { return m_fd >= 0; }
    // Sends one message and waits for its reply; nullopt when the connection fails.
    std::optional<Bytes> Call(const Bytes& message);

  private:
    int m_fd = -1;
};

}  // namespace kv::bench
