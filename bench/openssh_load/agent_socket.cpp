#include "agent_socket.h"

#include <openssl/bn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>

namespace kv::bench {

namespace {

constexpr uint32_t kMaxReply = 256 * 1024;

bool WriteAll(int fd, const uint8_t* p, std::size_t n) {
    while (n > 0) {
        const ssize_t w = ::send(fd, p, n, MSG_NOSIGNAL);
        if (w <= 0) return false;
        p += w;
        n -= static_cast<std::size_t>(w);
    }
    return true;
}

bool ReadAll(int fd, uint8_t* p, std::size_t n) {
    while (n > 0) {
        const ssize_t r = ::recv(fd, p, n, 0);
        if (r <= 0) return false;
        p += r;
        n -= static_cast<std::size_t>(r);
    }
    return true;
}

}  // namespace

void PutU32(Bytes& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(v >> shift));
}

uint32_t GetU32(const uint8_t* p) {
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

void PutString(Bytes& out, const Bytes& s) {
    PutU32(out, static_cast<uint32_t>(s.size()));
    out.insert(out.end(), s.begin(), s.end());
}

void PutString(Bytes& out, const std::string& s) { PutString(out, Bytes(s.begin(), s.end())); }

void PutMpint(Bytes& out, const BIGNUM* n) {
    Bytes magnitude(static_cast<std::size_t>(BN_num_bytes(n)));
    BN_bn2bin(n, magnitude.data());
    // A leading zero keeps a number with its top bit set positive.
    if (!magnitude.empty() && (magnitude[0] & 0x80)) magnitude.insert(magnitude.begin(), 0);
    PutString(out, magnitude);
}

bool Reader::U8(uint8_t& v) {
    if (m_data.size() - m_pos < 1) return false;
    v = m_data[m_pos++];
    return true;
}

bool Reader::U32(uint32_t& v) {
    if (m_data.size() - m_pos < 4) return false;
    v = GetU32(m_data.data() + m_pos);
    m_pos += 4;
    return true;
}

bool Reader::String(Bytes& v) {
    uint32_t n = 0;
    if (!U32(n) || n > m_data.size() - m_pos) return false;
    v.assign(m_data.begin() + static_cast<std::ptrdiff_t>(m_pos),
             m_data.begin() + static_cast<std::ptrdiff_t>(m_pos + n));
    m_pos += n;
    return true;
}

AgentSocket::AgentSocket(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    m_fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_fd >= 0 && ::connect(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

AgentSocket::~AgentSocket() {
    if (m_fd >= 0) ::close(m_fd);
}

std::optional<Bytes> AgentSocket::Call(const Bytes& message) {
    Bytes framed;
    PutString(framed, message);
    if (!Ok() || !WriteAll(m_fd, framed.data(), framed.size())) return std::nullopt;
    uint8_t header[4];
    if (!ReadAll(m_fd, header, 4)) return std::nullopt;
    const uint32_t n = GetU32(header);
    if (n > kMaxReply) return std::nullopt;
    Bytes reply(n);
    if (!ReadAll(m_fd, reply.data(), n)) return std::nullopt;
    return reply;
}

}  // namespace kv::bench
