#include "tests/openssh/openssh_test_support.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "agent/payloads.h"
#include "cryptomodule/base64.h"
#include "cryptomodule/crypto_module.h"
#include "platform/message_codes.h"

namespace kv::test {

void UseBuiltModule() {
    static const bool done = [] {
        const char* bin = std::getenv("KV_BIN_DIR");
        const std::string dir =
            bin != nullptr && *bin != '\0' ? std::string(bin) + "/crypto" : KV_TEST_MODULE_DIR;
        return Module().SetDirectoryForTesting(dir);
    }();
    (void)done;
}

namespace {

const FakeKey* Find(const std::vector<FakeKey>& keys, std::span<const uint8_t> blob) {
    const auto it = std::ranges::find_if(
        keys, [&](const FakeKey& k) { return std::ranges::equal(k.entry.blob, blob); });
    return it == keys.end() ? nullptr : &*it;
}

}  // namespace

FakeNativeAgent::FakeNativeAgent() {
    dispatcher.SetHandler(AGENT_LIST_KEYS, [this](AgentBuffer& in, AgentBuffer& out) {
        const auto request = DecodeListRequest(in);
        if (!request || in.Length() != 0) return false;
        origins.push_back(Requester(request->origins));
        std::vector<AgentKeyEntry> entries;
        for (const auto& key : keys) entries.push_back(key.entry);
        return WriteListReplyBody(entries, out);
    });
    dispatcher.SetHandler(AGENT_ADD_KEY, [this](AgentBuffer& in, AgentBuffer& out) {
        auto request = DecodeAddRequest(in);
        if (!request) return false;
        origins.push_back(Requester(request->origins));
        last_added = request->entry;
        last_added_private = request->private_blob;
        if (allow_add) keys.push_back({request->entry, "added", {}});
        WriteStatusReply(allow_add ? kStatusDone : kStatusNotDone, out);
        return true;
    });
    dispatcher.SetHandler(AGENT_DELETE_KEY, [this](AgentBuffer& in, AgentBuffer& out) {
        const auto request = DecodeDeleteRequest(in);
        if (!request) return false;
        origins.push_back(Requester(request->origins));
        deleted.push_back(request->target.all ? "*all*" : request->target.name);
        const auto before = keys.size();
        if (allow_remove) {
            std::erase_if(keys, [&](const FakeKey& k) {
                return request->target.all ||
                       (k.entry.blob == request->target.blob && k.name == request->target.name);
            });
        }
        WriteStatusReply(keys.size() < before ? kStatusDone : kStatusNotDone, out);
        return true;
    });
    dispatcher.SetHandler(AGENT_PRIVATE_KEY_OP, [this](AgentBuffer& in, AgentBuffer& out) {
        const auto request = DecodePrivateKeyOpRequest(in);
        if (!request) return false;
        origins.push_back(Requester(request->origins));
        last_operation = request->fields.operation;
        last_op_blob = request->fields.blob;
        last_op_data = request->fields.data;
        if (Find(keys, last_op_blob) == nullptr) {
            WritePrivateKeyOpStatus(kStatusKeyNotAvailable, out);
        } else if (locked) {
            // the locked form: nothing after the identifier
        } else if (op_status) {
            WritePrivateKeyOpStatus(*op_status, out);
        } else {
            WritePrivateKeyOpResult(sign(last_operation, last_op_data), out);
        }
        return true;
    });
    sign = [](const std::string&, std::span<const uint8_t> data) {
        return SecureBytes(data.size() == 20 ? 40 : 256, 0xab);
    };
}

void FakeNativeAgent::AddKey(std::span<const uint8_t> blob, std::string name, std::string comment) {
    FakeKey key;
    key.entry.type = kKeyEntryType;
    key.entry.blob.assign(blob.begin(), blob.end());
    if (!comment.empty()) key.entry.comment = std::move(comment);
    key.name = std::move(name);
    keys.push_back(std::move(key));
}

std::vector<StoredKeyName> FakeHost::StoredKeyNames() {
    std::vector<StoredKeyName> names;
    for (const auto& key : m_agent.keys)
        names.push_back({key.entry.blob, key.name, key.certificate});
    return names;
}

void FakeHost::ExpectAdd(std::span<const uint8_t> public_blob, bool confirm,
                         std::span<const uint8_t> certificate) {
    std::string what = confirm ? "confirm" : "";
    if (!certificate.empty()) what += what.empty() ? "certificate" : "+certificate";
    expected_adds.push_back(public_blob.empty() ? "none" : what);
}

bool FakeHost::RequireConfirmation(std::span<const uint8_t> public_blob) {
    confirmed.emplace_back(public_blob.begin(), public_blob.end());
    return confirm_succeeds;
}

bool FakeHost::SetLifetime(std::span<const uint8_t> public_blob, int32_t seconds) {
    lifetimes.emplace_back(Bytes(public_blob.begin(), public_blob.end()), seconds);
    return lifetime_succeeds;
}

bool FakeHost::AttachCertificate(std::span<const uint8_t> public_blob,
                                 std::span<const uint8_t> certificate) {
    bool found = false;
    for (auto& key : m_agent.keys) {
        if (!std::ranges::equal(key.entry.blob, public_blob)) continue;
        key.certificate.assign(certificate.begin(), certificate.end());
        found = true;
    }
    return found && certificate_succeeds;
}

bool FakeHost::Lock() {
    ++locks;
    return true;
}

UnlockOutcome FakeHost::Unlock(const SecureBytes& passphrase) {
    unlock_attempts.emplace_back(passphrase.begin(), passphrase.end());
    ++unlock_calls;
    if (prompt_open) return UnlockOutcome::kPromptOpen;
    if (first_use) return UnlockOutcome::kRefused;
    return unlock_attempts.back() == agent_passphrase ? UnlockOutcome::kUnlocked
                                                      : UnlockOutcome::kWrongPassphrase;
}

void FakeHost::LogRefusal(std::string_view request, std::string_view reason,
                          const std::string& origin) {
    refusals.push_back(std::string(request) + ": " + std::string(reason) + " [" + origin + "]");
}

namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream in(path);
    if (!in) throw std::runtime_error("cannot read " + path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The Base64 body between the armor lines.
std::string ArmorBody(const std::string& text) {
    std::istringstream lines(text);
    std::string line, body;
    while (std::getline(lines, line))
        if (line.rfind("-----", 0) != 0) body += line;
    return body;
}

}  // namespace

KeyFixture LoadKeyFixture(const std::string& name) {
    UseBuiltModule();
    const char* source = std::getenv("KV_TEST_SOURCE_DIR");
    const std::string dir =
        std::string(source != nullptr ? source : KV_TEST_SOURCE) + "/tests/openssh/keys/";
    const auto decoded = Base64::DecodeSecret(ArmorBody(ReadFile(dir + name)));
    if (!decoded.ok()) throw std::runtime_error("cannot decode " + name);

    // openssh-key-v1: magic, cipher, kdf, kdf options, key count, public key, private part.
    const std::string_view magic("openssh-key-v1\0", 15);
    SshReader in(std::span(decoded.value).subspan(std::min(magic.size(), decoded.value.size())));
    in.String();
    in.String();
    in.String();
    in.Uint32();
    KeyFixture fixture;
    const auto pub = in.String();
    fixture.public_blob.assign(pub.begin(), pub.end());
    SshReader priv(in.String());
    priv.Uint32();
    priv.Uint32();  // the two check words
    // After the check words the private part is the key in the agent's wire form, comment
    // included, then padding: the private string ends where `in` stands now.
    const auto body =
        std::span(decoded.value).subspan(decoded.value.size() - in.Remaining() - priv.Remaining());
    SshReader walk(body);
    const auto type = walk.String();
    const std::string_view kind(reinterpret_cast<const char*>(type.data()), type.size());
    const int numbers = kind == "ssh-rsa"                ? 6
                        : kind == "ssh-dss"              ? 5
                        : kind.starts_with("ecdsa-sha2") ? 3
                                                         : 2;
    for (int i = 0; i < numbers; ++i) walk.String();
    fixture.comment = walk.Text();
    if (!in.Ok() || !priv.Ok() || !walk.Ok()) throw std::runtime_error("bad key file " + name);
    const std::size_t used = body.size() - walk.Remaining();
    fixture.private_wire.assign(body.begin(), body.begin() + static_cast<std::ptrdiff_t>(used));
    return fixture;
}

SecureBytes Message(uint8_t type, const std::function<void(SshWriter&)>& fill) {
    SshWriter out;
    out.Byte(type);
    if (fill) fill(out);
    return out.Release();
}

}  // namespace kv::test
