#include "tests/client/keyfile_test_support.h"

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>

#include "cryptomodule/base64.h"
#include "cryptomodule/crypto_module.h"
#include "cryptomodule/key_generation.h"

namespace kv::test {

void UseBuiltModule() {
    const char* bin = std::getenv("KV_BIN_DIR");
    ASSERT_NE(bin, nullptr) << "KV_BIN_DIR is not set (run the tests through ctest)";
    // False once the module is in use, which is fine: it was pointed here before.
    (void)Module().SetDirectoryForTesting(std::string(bin) + "/crypto");
    ASSERT_TRUE(Module().IsAvailable()) << Module().LoadError();
}

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteText(const std::string& path, std::string_view text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    ASSERT_TRUE(out.good()) << path;
}

const PrivateKey& SharedKey(int type, std::uint32_t bits) {
    static std::map<std::pair<int, std::uint32_t>, PrivateKey> keys;
    PrivateKey& key = keys[{type, bits}];
    if (!key.IsValid()) {
        auto made = type == KVCLM_KEY_RSA ? GenerateRsaKey(bits) : GenerateDssKey(bits);
        EXPECT_TRUE(made.ok()) << "generation failed: " << made.code;
        key = std::move(made.value);
    }
    return key;
}

Bytes PublicBlobOf(const PrivateKey& key) {
    auto pub = key.DerivePublic();
    if (!pub.ok()) return {};
    auto blob = pub.value.Export();
    return blob.ok() ? blob.value : Bytes{};
}

SecureBytes PlainContainerOf(const PrivateKey& key) {
    auto plain = key.ExportPlain();
    return plain.ok() ? plain.value : SecureBytes{};
}

int Shell(const std::string& command, std::string* output) {
    FILE* pipe = ::popen((command + " 2>/dev/null").c_str(), "r");
    if (pipe == nullptr) return -1;
    std::string text;
    char chunk[4096];
    for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;) text.append(chunk, n);
    const int status = ::pclose(pipe);
    if (output != nullptr) *output = text;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Quote(const std::string& path) { return "'" + path + "'"; }

void RequireTools() {
    for (const char* tool : {"puttygen", "ssh-keygen"})
        ASSERT_EQ(Shell(std::string("command -v ") + tool), 0) << tool << " is not installed";
}

Bytes BlobOfOpenSshLine(std::string_view line) {
    std::istringstream fields{std::string(line)};
    std::string type, body;
    fields >> type >> body;
    auto blob = Base64::Decode(body);
    return blob.ok() ? blob.value : Bytes{};
}

const char* const kCompositeFactorPrivateFile = R"(---- BEGIN SSH2 PRIVATE KEY ----
Comment: "composite factor"
P2/56wAAAi4AAAA3aWYtbW9kbntzaWdue3JzYS1wa2NzMS1zaGExfSxlbmNyeXB0e3JzYS
1wa2NzMXYyLW9hZXB9fQAAAARub25lAAAB3wAAAdsAAAARAQABAAAD/ihhYZjzbzn6C4uA
LOgtoFtq3LTcBR9bfbodoIzkxvsrmV/93REgbiCEkji6TeS6XK8Y1p6JjWvjbl6X0UInB4
9bkbAhe3YB87xVf2gPk+dm8HR6nhuMh7SsuHMltaTpCgYfoJaeYNVXMd5/0zfIwxzxNcrW
eQWR0WjwHA9h7lBRAAAEAK4SUfoOc16SOE0d7evNbOFba3otduNeGLZ0RCNzfr6f8aV+3U
c8hdnBCRB12SdKB7yaaCd5FkSu0xdkaDtHARuEDhzznNs13NRgAJfv2djxWlnyuE/jLigM
nWAv7tN1EWq1KMrUMAb4VVckckjupaJINwscuRcJVlRdkpu3mwhTAAACAMVuVOtXnbpqdK
9UhAigd0gdUgbml/ebz6YLraIUvPyerXf8Q7mjF2B2kHmc/uvV4zRRiy5Yin8xLevCl09n
fwIAAAIA1WHzUg5Aixv8YFtKfmva34e6iaPNFE7kaOS/D3i3XkIIpPMFdmD/45lYSeZFrv
5Uf+Uo6wMywIbYdUv9rpVkiwAAAgDQ1m7aOfbV5gkp90f4gs43aMiuXKDwU5VESzJGQEhU
dT4IwVw+E6rSIilcJJhwynOL49MRiLIbiAY6qwTJH7xZ
---- END SSH2 PRIVATE KEY ----
)";

const char* const kCompositeFactorPublicFile = R"(---- BEGIN SSH2 PUBLIC KEY ----
Comment: "composite factor"
AAAAB3NzaC1yc2EAAAADAQABAAAAgQCuElH6DnNekjhNHe3rzWzhW2t6LXbjXhi2dEQjc3
6+n/Glft1HPIXZwQkQddknSge8mmgneRZErtMXZGg7RwEbhA4c85zbNdzUYACX79nY8VpZ
8rhP4y4oDJ1gL+7TdRFqtSjK1DAG+FVXJHJI7qWiSDcLHLkXCVZUXZKbt5sIUw==
---- END SSH2 PUBLIC KEY ----
)";

}  // namespace kv::test
