// floor_agent: the least an OpenSSH agent can do for an RSA signature. One thread polls its
// connections, reads each request, signs with OpenSSL and writes the reply: no prompts, no
// store, no log. Measured beside kvsshaa and ssh-agent with openssh_load, it tells what the
// agent itself costs from what the machine costs any agent (the computation, the sockets,
// waking the client).
//
//   floor_agent SOCKET KEY.pem     (an RSA private key in PEM: ssh-keygen -p -m PEM)
//
// Lists that one key and signs with it (ssh-rsa, rsa-sha2-256, rsa-sha2-512); anything else
// fails. A bench tool: it trusts its clients.
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <vector>

#include "agent_socket.h"

namespace kv::bench {
namespace {

constexpr uint8_t kFailure = 5, kList = 11, kListReply = 12, kSign = 13, kSignReply = 14;
constexpr uint32_t kSha256 = 2, kSha512 = 4;

Bytes PublicBlob(EVP_PKEY* key) {
    BIGNUM *e = nullptr, *n = nullptr;
    Bytes blob;
    if (EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_RSA_E, &e) == 1 &&
        EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_RSA_N, &n) == 1) {
        PutString(blob, std::string("ssh-rsa"));
        PutMpint(blob, e);
        PutMpint(blob, n);
    }
    BN_free(e);
    BN_free(n);
    return blob;
}

Bytes Sign(EVP_PKEY* key, const Bytes& data, uint32_t flags) {
    const bool sha512 = flags & kSha512, sha256 = !sha512 && (flags & kSha256);
    const EVP_MD* md = sha512 ? EVP_sha512() : sha256 ? EVP_sha256() : EVP_sha1();
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    Bytes signature(static_cast<std::size_t>(EVP_PKEY_get_size(key)));
    std::size_t length = signature.size();
    const bool ok = ctx != nullptr && EVP_DigestSignInit(ctx, nullptr, md, nullptr, key) == 1 &&
                    EVP_DigestSign(ctx, signature.data(), &length, data.data(), data.size()) == 1;
    EVP_MD_CTX_free(ctx);
    if (!ok) return {kFailure};
    Bytes blob;
    PutString(blob, std::string(sha512 ? "rsa-sha2-512" : sha256 ? "rsa-sha2-256" : "ssh-rsa"));
    signature.resize(length);
    PutString(blob, signature);
    Bytes reply = {kSignReply};
    PutString(reply, blob);
    return reply;
}

Bytes Answer(EVP_PKEY* key, const Bytes& public_blob, const Bytes& message) {
    Reader in(message);
    uint8_t type = 0;
    if (!in.U8(type)) return {kFailure};
    if (type == kList) {
        Bytes reply = {kListReply};
        PutU32(reply, 1);
        PutString(reply, public_blob);
        PutString(reply, std::string("floor"));
        return reply;
    }
    Bytes blob, data;
    uint32_t flags = 0;
    if (type != kSign || !in.String(blob) || !in.String(data) || !in.U32(flags) ||
        blob != public_blob)
        return {kFailure};
    return Sign(key, data, flags);
}

struct Connection {
    int fd;
    Bytes pending;
};

// Answers every whole message in `c.pending`; false when the connection is to be closed.
bool Serve(EVP_PKEY* key, const Bytes& public_blob, Connection& c) {
    uint8_t chunk[16 * 1024];
    const ssize_t n = ::read(c.fd, chunk, sizeof chunk);
    if (n <= 0) return false;
    c.pending.insert(c.pending.end(), chunk, chunk + n);
    std::size_t used = 0;
    while (c.pending.size() - used >= 4) {
        const uint8_t* p = c.pending.data() + used;
        const uint32_t length = GetU32(p);
        if (c.pending.size() - used - 4 < length) break;
        const Bytes message(p + 4, p + 4 + length);
        used += 4 + std::size_t{length};
        Bytes framed;
        PutString(framed, Answer(key, public_blob, message));
        if (::send(c.fd, framed.data(), framed.size(), MSG_NOSIGNAL) !=
            static_cast<ssize_t>(framed.size()))
            return false;
    }
    c.pending.erase(c.pending.begin(), c.pending.begin() + static_cast<std::ptrdiff_t>(used));
    return true;
}

int Run(const char* socket_path, const char* key_path) {
    FILE* file = std::fopen(key_path, "r");
    EVP_PKEY* key =
        file != nullptr ? PEM_read_PrivateKey(file, nullptr, nullptr, nullptr) : nullptr;
    if (file != nullptr) std::fclose(file);
    const Bytes public_blob = key != nullptr ? PublicBlob(key) : Bytes{};
    if (public_blob.empty()) {
        std::fprintf(stderr, "floor_agent: no RSA key in %s\n", key_path);
        return 1;
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", socket_path);
    const int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ::unlink(socket_path);
    if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) ||
        ::listen(listener, 16)) {
        std::perror("floor_agent");
        return 1;
    }
    std::vector<Connection> connections;
    std::vector<pollfd> polled;
    for (;;) {
        polled.assign(1, pollfd{listener, POLLIN, 0});
        for (const auto& c : connections) polled.push_back(pollfd{c.fd, POLLIN, 0});
        if (::poll(polled.data(), polled.size(), -1) < 0) continue;
        for (std::size_t i = connections.size(); i-- > 0;) {
            if (polled[i + 1].revents == 0) continue;
            if (!Serve(key, public_blob, connections[i])) {
                ::close(connections[i].fd);
                connections.erase(connections.begin() + static_cast<std::ptrdiff_t>(i));
            }
        }
        if (polled[0].revents & POLLIN) {
            const int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0) connections.push_back(Connection{fd, {}});
        }
    }
}

}  // namespace
}  // namespace kv::bench

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: floor_agent SOCKET KEY.pem\n");
        return 2;
    }
    return kv::bench::Run(argv[1], argv[2]);
}
