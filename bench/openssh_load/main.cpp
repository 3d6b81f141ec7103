// openssh_load: drives any OpenSSH agent socket with a bounded number of REQUEST_IDENTITIES
// and SIGN_REQUEST messages, on one and on four connections at once, verifies every
// signature with OpenSSL, and prints requests per second and p50/p99 latency.
//
//   openssh_load --socket PATH [--label NAME] [--requests N] [--list-only] [--case NAME...]
//                [--connections N...]
//   openssh_load --populate N --socket PATH [--socket PATH...]   adds N RSA keys to each
//
// The agent must hold an RSA key and a DSA key, or the keys of the cases named with --case; an
// Ed25519 key and an ECDSA nistp256 key are used when it holds them (the first of each kind in
// its list).
// Exit status 1 when any request failed or any signature did not verify.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "agent_socket.h"
#include "signature_check.h"

namespace kv::bench {
namespace {

using Clock = std::chrono::steady_clock;

struct Options {
    std::vector<std::string> sockets;
    std::string label = "agent";
    int requests = 1000;
    int populate = 0;
    bool list_only = false;
    std::vector<std::string> only;  // case names to run; all when empty
    std::vector<int> connections;   // connection counts to run; 1 and 4 when empty
};

struct Case {
    std::string name;
    bool sign = false;
    const Bytes* key = nullptr;
    uint32_t flags = 0;
};

struct Outcome {
    std::vector<double> latencies_us;
    int failures = 0;
    int bad_signatures = 0;
};

Bytes SignRequest(const Bytes& key, const Bytes& data, uint32_t flags) {
    Bytes m = {13};
    PutString(m, key);
    PutString(m, data);
    PutU32(m, flags);
    return m;
}

// One connection's share of a case: `count` requests after a short warm-up.
void RunConnection(const std::string& path, const Case& c, int count, uint32_t seed,
                   std::atomic<int>& ready, const std::atomic<bool>& go, Outcome& out) {
    AgentSocket socket(path);
    std::mt19937 random(seed);
    std::vector<Bytes> data(static_cast<std::size_t>(count), Bytes(128));
    for (auto& d : data) std::generate(d.begin(), d.end(), [&] { return uint8_t(random()); });
    const Bytes list = {11};
    for (int i = 0; i < 10 && socket.Ok(); ++i)
        socket.Call(c.sign ? SignRequest(*c.key, data[0], c.flags) : list);
    ++ready;
    while (!go) std::this_thread::yield();

    std::vector<Bytes> replies;
    for (int i = 0; i < count; ++i) {
        const auto start = Clock::now();
        auto reply = socket.Call(c.sign ? SignRequest(*c.key, data[i], c.flags) : list);
        out.latencies_us.push_back(
            std::chrono::duration<double, std::micro>(Clock::now() - start).count());
        const uint8_t expected = c.sign ? 14 : 12;
        if (!reply || reply->empty() || (*reply)[0] != expected) ++out.failures;
        replies.push_back(reply.value_or(Bytes{}));
    }
    if (!c.sign) return;
    const KeyVerifier verifier(*c.key);  // outside the timed part
    for (int i = 0; i < count; ++i) {
        Reader in(replies[i]);
        uint8_t type = 0;
        Bytes signature;
        if (!in.U8(type) || !in.String(signature) || !verifier.Verify(data[i], signature, c.flags))
            ++out.bad_signatures;
    }
}

double Percentile(std::vector<double> values, double p) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const auto index = static_cast<std::size_t>(p * static_cast<double>(values.size() - 1) + 0.5);
    return values[index];
}

bool RunCase(const Options& options, const Case& c, int connections) {
    std::vector<Outcome> outcomes(static_cast<std::size_t>(connections));
    std::vector<std::thread> threads;
    std::atomic<int> ready{0};
    std::atomic<bool> go{false};
    const int each = options.requests / connections;
    for (int i = 0; i < connections; ++i) {
        threads.emplace_back(RunConnection, options.sockets[0], std::cref(c), each, 1000u + i,
                             std::ref(ready), std::cref(go), std::ref(outcomes[i]));
    }
    while (ready < connections) std::this_thread::yield();
    const auto start = Clock::now();
    go = true;
    for (auto& t : threads) t.join();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();

    Outcome all;
    for (const auto& o : outcomes) {
        all.latencies_us.insert(all.latencies_us.end(), o.latencies_us.begin(),
                                o.latencies_us.end());
        all.failures += o.failures;
        all.bad_signatures += o.bad_signatures;
    }
    const int total = each * connections;
    std::printf("%-10s %-14s %5d %8d %10.0f %10.0f %10.0f %6d %6d\n", options.label.c_str(),
                c.name.c_str(), connections, total, total / seconds,
                Percentile(all.latencies_us, 0.50), Percentile(all.latencies_us, 0.99),
                all.failures, all.bad_signatures);
    std::fflush(stdout);
    return all.failures == 0 && all.bad_signatures == 0;
}

struct SignKeys {
    Bytes rsa, dsa, ed25519, ecdsa256;
};

// The first key of each kind the agent lists, and how many keys it holds.
bool FindKeys(const std::string& path, SignKeys& keys, uint32_t& count) {
    AgentSocket socket(path);
    const auto reply = socket.Call({11});
    if (!reply) return false;
    Reader in(*reply);
    uint8_t type = 0;
    if (!in.U8(type) || type != 12 || !in.U32(count)) return false;
    for (uint32_t i = 0; i < count; ++i) {
        Bytes blob, comment;
        if (!in.String(blob) || !in.String(comment)) return false;
        const KeyVerifier key(blob);
        for (auto [type, slot] : {std::pair{"ssh-rsa", &keys.rsa}, std::pair{"ssh-dss", &keys.dsa},
                                  std::pair{"ssh-ed25519", &keys.ed25519},
                                  std::pair{"ecdsa-sha2-nistp256", &keys.ecdsa256}}) {
            if (key.Type() == type && slot->empty()) *slot = blob;
        }
    }
    return true;
}

int Populate(const Options& options) {
    const auto identities = MakeRsaIdentities(options.populate);
    if (static_cast<int>(identities.size()) != options.populate) return 1;
    for (const auto& path : options.sockets) {
        AgentSocket socket(path);
        for (const auto& message : identities) {
            const auto reply = socket.Call(message);
            if (!reply || reply->size() != 1 || (*reply)[0] != 6) {
                std::fprintf(stderr, "openssh_load: %s refused a key\n", path.c_str());
                return 1;
            }
        }
    }
    return 0;
}

int Suite(const Options& options) {
    SignKeys keys;
    uint32_t count = 0;
    if (!FindKeys(options.sockets[0], keys, count)) {
        std::fprintf(stderr, "openssh_load: cannot list the keys of %s\n",
                     options.sockets[0].c_str());
        return 1;
    }
    std::vector<Case> cases = {{"list(" + std::to_string(count) + ")", false, nullptr, 0}};
    if (!options.list_only) {
        if (options.only.empty() && (keys.rsa.empty() || keys.dsa.empty())) {
            std::fprintf(stderr, "openssh_load: the agent needs an RSA and a DSA key\n");
            return 1;
        }
        if (!keys.rsa.empty()) {
            cases.push_back({"ssh-rsa", true, &keys.rsa, 0});
            cases.push_back({"rsa-sha2-256", true, &keys.rsa, 2});
            cases.push_back({"rsa-sha2-512", true, &keys.rsa, 4});
        }
        if (!keys.dsa.empty()) cases.push_back({"ssh-dss", true, &keys.dsa, 0});
        if (!keys.ed25519.empty()) cases.push_back({"ssh-ed25519", true, &keys.ed25519, 0});
        if (!keys.ecdsa256.empty()) cases.push_back({"ecdsa-nistp256", true, &keys.ecdsa256, 0});
    }
    // A case asked for by name needs the agent to hold its kind of key.
    for (const auto& name : options.only) {
        const auto held = [&](const Case& c) {
            return c.name == name || (name == "list" && c.name.starts_with("list("));
        };
        if (std::none_of(cases.begin(), cases.end(), held)) {
            std::fprintf(stderr, "openssh_load: no key for the case %s\n", name.c_str());
            return 1;
        }
    }
    bool ok = true;
    for (const auto& c : cases) {
        const bool wanted =
            options.only.empty() ||
            std::find(options.only.begin(), options.only.end(), c.name) != options.only.end() ||
            (c.name.starts_with("list(") &&
             std::find(options.only.begin(), options.only.end(), "list") != options.only.end());
        if (!wanted) continue;
        const std::vector<int> counts =
            options.connections.empty() ? std::vector<int>{1, 4} : options.connections;
        for (int connections : counts) ok = RunCase(options, c, connections) && ok;
    }
    return ok ? 0 : 1;
}

bool ParseArguments(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool has_value = i + 1 < argc;
        if (arg == "--socket" && has_value)
            options.sockets.push_back(argv[++i]);
        else if (arg == "--label" && has_value)
            options.label = argv[++i];
        else if (arg == "--requests" && has_value)
            options.requests = std::atoi(argv[++i]);
        else if (arg == "--populate" && has_value)
            options.populate = std::atoi(argv[++i]);
        else if (arg == "--list-only")
            options.list_only = true;
        else if (arg == "--case" && has_value)
            options.only.push_back(argv[++i]);
        else if (arg == "--connections" && has_value)
            options.connections.push_back(std::max(1, std::atoi(argv[++i])));
        else
            return false;
    }
    return !options.sockets.empty() && options.requests >= 4 && options.populate >= 0;
}

}  // namespace
}  // namespace kv::bench

int main(int argc, char** argv) {
    kv::bench::Options options;
    if (!kv::bench::ParseArguments(argc, argv, options)) {
        std::fprintf(
            stderr,
            "usage: openssh_load --socket PATH [--label NAME] [--requests N] [--list-only]\n"
            "                    [--connections N]... [--case NAME]...\n"
            "                    (cases: ssh-rsa, rsa-sha2-256, rsa-sha2-512, ssh-dss,\n"
            "                    ssh-ed25519, ecdsa-nistp256, list)\n"
            "       openssh_load --populate N --socket PATH [--socket PATH...]\n");
        return 2;
    }
    if (options.populate > 0) return kv::bench::Populate(options);
    return kv::bench::Suite(options);
}
