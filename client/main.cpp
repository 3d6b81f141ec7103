// kvsshaa-client: talks to the agent over its native protocol, for people and scripts.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "client/agent_client.h"
#include "client/key_input.h"
#include "client/output.h"
#include "keys/key_text.h"
#include "platform/envelope.h"
#include "platform/named_objects.h"
#include "platform/paths.h"

namespace {

const char kUsage[] =
    "usage: kvsshaa-client [options] COMMAND [ARGS]\n"
    "commands:\n"
    "  list                                  list the agent's keys\n"
    "  add PUBFILE PRVFILE [--name N] [--comment C] [--lifetime SECONDS] [--ssh1 0|1]\n"
    "      [--passphrase-file F]             SSH2 or OpenSSH key files (or raw blobs); a\n"
    "                                        protected private key is opened with the first\n"
    "                                        line of F\n"
    "  add PRVFILE [same options]            an OpenSSH private key file (OpenSSH format or\n"
    "                                        PEM) alone: the public key is derived, the name\n"
    "                                        is the file's, the comment the key's\n"
    "  delete PUBFILE NAME | delete --all    delete one key (blob and exact name), or all\n"
    "  op OPERATION PUBFILE (--data-file F | --data-hex HEX)\n"
    "                                        a private-key operation (sign, hash-and-sign,\n"
    "                                        decrypt, ssh1-challenge-response)\n"
    "  show-window                           ask the agent to show its window\n"
    "  raw CODE [HEX] [--flags N]            send any envelope, print the reply envelope\n"
    "  wait-trigger [--timeout MS]           wait until the key set or lock state changes\n"
    "  env [-s | -c]                         print shell commands that point SSH_AUTH_SOCK\n"
    "                                        at the agent (sh, or csh with -c):\n"
    "                                        eval \"$(kvsshaa-client env)\"\n"
    "options:\n"
    "  --socket PATH     the agent's socket (default <runtime>/agent)\n"
    "  --from TEXT       an origin string, as a forwarded request carries (repeatable)\n"
    "  --no-window       send as a sender without a window: no reply is wanted\n"
    "  --id N            the request identifier (default 1)\n"
    "  --timeout MS      how long to wait for a reply (default 30000)\n"
    "  --json            print JSON instead of text\n";

struct Args {
    kv::ClientOptions options;
    bool json = false;
    std::vector<std::string> positional;
    std::string name, comment, data_file, data_hex, passphrase_file;
    int lifetime = -1, ssh1 = 1, wait_ms = -1;
    unsigned flags = kv::kEnvelopeHasWindow;
    bool flags_given = false, all = false;
};

bool ParseArgs(int argc, char** argv, Args& a) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        const char* v = nullptr;
        if (arg == "--json")
            a.json = true;
        else if (arg == "--no-window")
            a.options.with_window = false;
        else if (arg == "--all")
            a.all = true;
        else if (arg.rfind("--", 0) != 0)
            a.positional.push_back(arg);
        else if ((v = value()) == nullptr)
            return false;
        else if (arg == "--socket")
            a.options.socket_path = v;
        else if (arg == "--from")
            a.options.origins.push_back(v);
        else if (arg == "--id")
            a.options.id = std::atoi(v);
        else if (arg == "--timeout")
            a.options.timeout_ms = a.wait_ms = std::atoi(v);
        else if (arg == "--name")
            a.name = v;
        else if (arg == "--comment")
            a.comment = v;
        else if (arg == "--lifetime")
            a.lifetime = std::atoi(v);
        else if (arg == "--ssh1")
            a.ssh1 = std::atoi(v);
        else if (arg == "--data-file")
            a.data_file = v;
        else if (arg == "--data-hex")
            a.data_hex = v;
        else if (arg == "--passphrase-file")
            a.passphrase_file = v;
        else if (arg == "--flags")
            a.flags = static_cast<unsigned>(std::strtoul(v, nullptr, 0)), a.flags_given = true;
        else
            return false;
    }
    if (!a.options.with_window && !a.flags_given) a.flags = 0;
    return !a.positional.empty();
}

int Fail(const std::string& message) {
    std::fprintf(stderr, "kvsshaa-client: %s\n", message.c_str());
    return 1;
}

int SendAdd(kv::AgentClient& client, const Args& a, kv::Bytes blob, std::string comment,
            const kv::SecureBytes& prv, kv::Output& out) {
    kv::AgentKeyEntry entry;
    entry.type = 1;
    entry.blob = std::move(blob);
    entry.comment = std::move(comment);
    entry.lifetime = a.lifetime;
    entry.flags = a.ssh1;
    const auto reply = client.Add(entry, prv);
    return out.Status("add", reply, client.Error());
}

// The key file's own name and comment unless the options give others.
int RunAddPrivateFile(kv::AgentClient& client, Args& a,
                      const std::optional<kv::SecureBytes>& passphrase, kv::Output& out) {
    const std::string& path = a.positional[1];
    std::string error;
    auto key = kv::ReadKeyFromPrivateFile(path, passphrase, error);
    if (!key) return Fail(error);
    const std::string name = a.name.empty() ? kv::KeyBaseName(path) : a.name;
    const std::string comment = a.comment.empty() ? key->comment : a.comment;
    return SendAdd(client, a, std::move(key->public_blob), name + ": " + comment, key->container,
                   out);
}

int RunAdd(kv::AgentClient& client, Args& a, kv::Output& out) {
    if (a.positional.size() != 2 && a.positional.size() != 3)
        return Fail("add needs PUBFILE and PRVFILE, or an OpenSSH private key file");
    std::optional<kv::SecureBytes> passphrase;
    if (!a.passphrase_file.empty()) {
        passphrase = kv::ReadPassphraseFile(a.passphrase_file);
        if (!passphrase) return Fail("cannot read passphrase file " + a.passphrase_file);
    }
    if (a.positional.size() == 2) return RunAddPrivateFile(client, a, passphrase, out);
    auto file = kv::ReadPublicKeyFile(a.positional[1]);
    if (!file) return Fail("cannot read public key file " + a.positional[1]);
    std::string error;
    const auto prv = kv::ReadPrivateKeyForAdd(a.positional[2], passphrase, error);
    if (!prv) return Fail(error);
    // Named and commented as an add from the private key file alone.
    const std::string name = a.name.empty() ? kv::KeyBaseName(a.positional[2]) : a.name;
    const std::string comment = a.comment.empty() ? file->comment : a.comment;
    return SendAdd(client, a, std::move(file->blob), name + ": " + comment, *prv, out);
}

int RunDelete(kv::AgentClient& client, Args& a, kv::Output& out) {
    if (a.all) return out.Status("delete", client.DeleteAll(), client.Error());
    if (a.positional.size() != 3) return Fail("delete needs PUBFILE and NAME, or --all");
    auto blob = kv::ReadPublicKeyBlob(a.positional[1]);
    if (!blob) return Fail("cannot read public key file " + a.positional[1]);
    return out.Status("delete", client.Delete(*blob, a.positional[2]), client.Error());
}

int RunOp(kv::AgentClient& client, Args& a, kv::Output& out) {
    if (a.positional.size() != 3) return Fail("op needs OPERATION and PUBFILE");
    auto blob = kv::ReadPublicKeyBlob(a.positional[2]);
    if (!blob) return Fail("cannot read public key file " + a.positional[2]);
    std::optional<kv::Bytes> data = !a.data_file.empty()
                                        ? kv::ReadFileBytes(a.data_file, kv::kMaxEnvelopePayload)
                                        : kv::DecodeHex(a.data_hex);
    if (!data) return Fail("cannot read the data (--data-file or --data-hex)");
    return out.Operation(client.PrivateKeyOp(a.positional[1], *blob, *data), client.Error());
}

int RunRaw(kv::AgentClient& client, Args& a, kv::Output& out) {
    if (a.positional.size() < 2) return Fail("raw needs CODE");
    const auto code = static_cast<std::uint32_t>(std::strtoul(a.positional[1].c_str(), nullptr, 0));
    auto payload = a.positional.size() > 2 ? kv::DecodeHex(a.positional[2]) : kv::Bytes{};
    if (!payload) return Fail("payload is not hex");
    if (!client.Connect()) return Fail(client.Error());
    return out.Raw(client.Raw(code, a.flags, *payload), (a.flags & kv::kEnvelopeHasWindow) != 0,
                   client.Error());
}

int RunWaitTrigger(Args& a, kv::Output& out) {
    auto trigger = kv::TriggerEvent::Open();
    if (!trigger) return Fail("the agent's trigger event does not exist (is the agent running?)");
    return out.Triggered(trigger->Wait(a.wait_ms));
}

// Quoted for both shell families when the path holds anything but the usual characters.
std::string ShellWord(const std::string& text) {
    if (text.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"
                               "/._-+:,@") == std::string::npos) {
        return text;
    }
    std::string quoted = "'";
    for (const char c : text) quoted += c == '\'' ? std::string("'\"'\"'") : std::string(1, c);
    return quoted + "'";
}

// csh splits the output of `...` at blanks and expands braces and `!` in what `eval` is
// given, so no quoting of an unusual path survives there. Such a path always comes from
// XDG_RUNTIME_DIR (the fallback is plain), so the line names that variable instead, which
// csh expands as it is inside double quotes. A newline ends any csh line: nothing is printed.
std::optional<std::string> CshWord(const std::string& socket) {
    if (ShellWord(socket) == socket) return socket;
    std::string runtime =
        std::getenv("XDG_RUNTIME_DIR") != nullptr ? std::getenv("XDG_RUNTIME_DIR") : "";
    while (runtime.size() > 1 && runtime.back() == '/') runtime.pop_back();
    if (socket.find('\n') != std::string::npos || runtime.empty() ||
        socket.compare(0, runtime.size(), runtime) != 0) {
        return std::nullopt;
    }
    return "\"${XDG_RUNTIME_DIR}" + socket.substr(runtime.size()) + "\"";
}

// The lines ssh-agent prints for its socket, so that `eval` of them sets SSH_AUTH_SOCK.
int RunEnv(const Args& a) {
    const bool csh = a.positional.size() > 1 && a.positional[1] == "-c";
    if (a.positional.size() > 2 || (a.positional.size() == 2 && !csh && a.positional[1] != "-s")) {
        return Fail("env takes -s or -c");
    }
    // Made now if missing (when its parent is there), so that no other user can make it
    // first in /tmp; refused if another user did, or if it is not a folder.
    const std::string dir = kv::paths::RuntimeDir();
    struct stat parent {};
    if (::stat(dir.substr(0, dir.rfind('/') + 1).c_str(), &parent) == 0 &&
        !kv::paths::EnsurePrivateDir(dir)) {
        return Fail("cannot use " + dir + ": it is not a private folder of this user");
    }
    const std::string socket = ShellWord(kv::paths::SshSocketPath());
    if (csh) {
        const auto word = CshWord(kv::paths::SshSocketPath());
        if (!word) return Fail("csh cannot be given " + kv::paths::SshSocketPath());
        std::printf("setenv SSH_AUTH_SOCK %s;\n", word->c_str());
    } else {
        std::printf("SSH_AUTH_SOCK=%s; export SSH_AUTH_SOCK;\n", socket.c_str());
    }
    if (::access(kv::paths::SshSocketPath().c_str(), F_OK) != 0) {
        std::fprintf(stderr, "kvsshaa-client: the agent is not running yet (%s is missing)\n",
                     kv::paths::SshSocketPath().c_str());
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Args a;
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (!ParseArgs(argc, argv, a)) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    kv::Output out(a.json);
    kv::AgentClient client(a.options);
    const std::string& command = a.positional[0];
    if (command == "env") return RunEnv(a);
    if (command == "wait-trigger") return RunWaitTrigger(a, out);
    if (command == "raw") return RunRaw(client, a, out);
    if (!client.Connect()) return Fail(client.Error());
    if (command == "list") return out.List(client.List(), client.Error());
    if (command == "add") return RunAdd(client, a, out);
    if (command == "delete") return RunDelete(client, a, out);
    if (command == "op") return RunOp(client, a, out);
    if (command == "show-window") return client.ShowWindow() ? 0 : Fail(client.Error());
    std::fputs(kUsage, stderr);
    return 2;
}
