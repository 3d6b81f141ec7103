// Looks for secrets in the agent's memory the way an attacker who gets to read it would:
// after a known RSA key went in through ssh-add, signed once, and the agent was locked, none
// of the key's secret numbers (in either byte order, whole or in part) and not the agent
// passphrase may be found in any of its mappings.
//
// The agent makes itself non-dumpable, so only a reader with CAP_SYS_PTRACE may open
// /proc/<pid>/mem: the test runs the scan as root (as CI does) and skips otherwise, rather
// than give the agent a way to switch its own protection off.
#include <gtest/gtest.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "tests/e2e/agent_process.h"
#include "tests/support/temp_dir.h"

namespace kv {
namespace {

using ByteString = std::vector<unsigned char>;

constexpr const char* kPassphrase = "memory scan passphrase 5d1c8e72f0";

std::string SourceDir() {
    const char* source = std::getenv("KV_TEST_SOURCE_DIR");
    return source != nullptr ? source : KV_TEST_SOURCE;
}

// What must not be found: a name for the report and the bytes.
struct Needle {
    std::string name;
    ByteString bytes;
};

// The secret numbers of the RSA key in `pem_path`, big-endian (as the wire carries them) and
// little-endian (as OpenSSL's limbs hold them), each whole and as a slice from its middle, so
// that a partial copy is found too.
std::vector<Needle> SecretNumbers(const std::string& pem_path) {
    std::vector<Needle> needles;
    FILE* file = std::fopen(pem_path.c_str(), "r");
    if (file == nullptr) return needles;
    EVP_PKEY* key = PEM_read_PrivateKey(file, nullptr, nullptr, nullptr);
    std::fclose(file);
    if (key == nullptr) return needles;
    for (const char* param : {OSSL_PKEY_PARAM_RSA_D, OSSL_PKEY_PARAM_RSA_FACTOR1,
                              OSSL_PKEY_PARAM_RSA_FACTOR2, OSSL_PKEY_PARAM_RSA_EXPONENT1,
                              OSSL_PKEY_PARAM_RSA_EXPONENT2, OSSL_PKEY_PARAM_RSA_COEFFICIENT1}) {
        BIGNUM* bn = nullptr;
        if (EVP_PKEY_get_bn_param(key, param, &bn) != 1) continue;
        ByteString big(static_cast<std::size_t>(BN_num_bytes(bn)));
        BN_bn2bin(bn, big.data());
        BN_clear_free(bn);
        const ByteString little(big.rbegin(), big.rend());
        for (const auto& [order, bytes] :
             {std::pair{"big-endian", big}, {"little-endian", little}}) {
            needles.push_back({std::string(param) + " " + order, bytes});
            const std::size_t middle = bytes.size() / 2 - 12;
            needles.push_back({std::string(param) + " " + order + " slice",
                               ByteString(bytes.begin() + middle, bytes.begin() + middle + 24)});
        }
    }
    EVP_PKEY_free(key);
    return needles;
}

struct Mapping {
    std::uintptr_t start = 0;
    std::uintptr_t end = 0;
    std::string name;
};

// AddressSanitizer's shadow of the agent (when the tree is built with it): terabytes of
// mostly untouched pages that only mirror which bytes are addressable.
constexpr std::uintptr_t kShadowBegin = 0x00007fff8000ULL;
constexpr std::uintptr_t kShadowEnd = 0x10007fff8000ULL;
// No mapping of the agent that holds data is larger; bigger ones are reservations.
constexpr std::uintptr_t kLargestScanned = std::uintptr_t{1} << 32;

std::vector<Mapping> ReadableMappings(pid_t pid) {
    std::vector<Mapping> mappings;
    std::ifstream maps("/proc/" + std::to_string(pid) + "/maps");
    std::string line;
    while (std::getline(maps, line)) {
        std::istringstream fields(line);
        std::string range, perms, offset, device, inode, name;
        fields >> range >> perms >> offset >> device >> inode;
        std::getline(fields >> std::ws, name);
        if (perms.empty() || perms[0] != 'r' || name == "[vvar]" || name == "[vsyscall]") continue;
        Mapping m;
        m.start = std::stoull(range.substr(0, range.find('-')), nullptr, 16);
        m.end = std::stoull(range.substr(range.find('-') + 1), nullptr, 16);
        m.name = name;
        const bool shadow = m.start >= kShadowBegin && m.end <= kShadowEnd;
        if (shadow || m.end - m.start > kLargestScanned) continue;
        mappings.push_back(m);
    }
    return mappings;
}

// Every needle found anywhere in the process's readable memory, with where. Mappings are
// read in chunks that overlap by the longest needle, so nothing is missed at a seam.
std::vector<std::string> Scan(pid_t pid, const std::vector<Needle>& needles, bool* read_any) {
    constexpr std::size_t kChunk = 4 << 20;
    std::size_t overlap = 0;
    for (const Needle& needle : needles) overlap = std::max(overlap, needle.bytes.size());
    std::vector<std::string> found;
    std::ifstream mem("/proc/" + std::to_string(pid) + "/mem", std::ios::binary);
    *read_any = false;
    if (!mem) return found;
    ByteString bytes;
    for (const Mapping& m : ReadableMappings(pid)) {
        for (std::uintptr_t at = m.start; at < m.end; at += kChunk) {
            bytes.resize(std::min<std::uintptr_t>(kChunk + overlap, m.end - at));
            mem.clear();
            mem.seekg(static_cast<std::streamoff>(at));
            mem.read(reinterpret_cast<char*>(bytes.data()),
                     static_cast<std::streamsize>(bytes.size()));
            if (mem.gcount() <= 0) break;
            bytes.resize(static_cast<std::size_t>(mem.gcount()));
            *read_any = true;
            for (const Needle& needle : needles) {
                const auto hit = std::search(bytes.begin(), bytes.end(), needle.bytes.begin(),
                                             needle.bytes.end());
                if (hit == bytes.end()) continue;
                std::ostringstream where;
                where << needle.name << " at 0x" << std::hex << at + (hit - bytes.begin()) << " in "
                      << (m.name.empty() ? "[anonymous]" : m.name);
                found.push_back(where.str());
            }
        }
    }
    std::sort(found.begin(), found.end());
    found.erase(std::unique(found.begin(), found.end()), found.end());
    return found;
}

int Tool(const std::string& home, const std::string& socket, const std::string& command,
         std::string* output) {
    const std::string env = "env -u DISPLAY -u WAYLAND_DISPLAY SSH_AUTH_SOCK=" + socket +
                            " SSH_ASKPASS=" + SourceDir() + "/tests/support/askpass.sh" +
                            " SSH_ASKPASS_REQUIRE=force KV_ASKPASS_QUEUE=" + home +
                            "/tool_queue HOME=" + home;
    return RunCommand("timeout 60 " + env + " " + command + " </dev/null", output);
}

TEST(MemoryScanTest, NoKeyNumberAndNoPassphraseOutliveALock) {
    if (::geteuid() != 0) GTEST_SKIP() << "reading the non-dumpable agent's memory needs root";
    if (RunCommand("command -v ssh-add ssh-keygen >/dev/null") != 0)
        GTEST_SKIP() << "the OpenSSH client tools are not installed";
    TempDir home;
    const std::string key = home.Path() + "/key";
    ASSERT_EQ(RunCommand("ssh-keygen -q -t rsa -b 2048 -m PEM -N '' -C scan -f " + key), 0);
    std::vector<Needle> needles = SecretNumbers(key);
    ASSERT_EQ(needles.size(), 24u);
    const std::string passphrase = kPassphrase;
    needles.push_back({"the agent passphrase", ByteString(passphrase.begin(), passphrase.end())});

    std::ofstream(home.Path() + "/queue") << passphrase << "\n" << passphrase << "\n";
    AgentProcess agent(home.Path(), {{"SSH_ASKPASS", SourceDir() + "/tests/support/askpass.sh"},
                                     {"SSH_ASKPASS_REQUIRE", "force"},
                                     {"KV_ASKPASS_QUEUE", home.Path() + "/queue"}});
    ASSERT_TRUE(agent.Start()) << agent.Stderr();
    ASSERT_TRUE(agent.WaitForStderr("kvsshaa: unlocked", 10000)) << agent.Stderr();
    const std::string socket = agent.RuntimeDir() + "/ssh";

    std::string out;
    ASSERT_EQ(Tool(home.Path(), socket, "ssh-add " + key, &out), 0) << out;
    const std::string data = home.Path() + "/data";
    std::ofstream(data) << "signed once\n";
    ASSERT_EQ(
        Tool(home.Path(), socket, "ssh-keygen -Y sign -f " + key + ".pub -n file " + data, &out), 0)
        << out;
    std::ofstream(home.Path() + "/tool_queue") << "lock text\nlock text\n";
    ASSERT_EQ(Tool(home.Path(), socket, "ssh-add -x", &out), 0) << out;
    ASSERT_TRUE(agent.WaitForStderr("kvsshaa: locked", 5000)) << agent.Stderr();

    bool read_any = false;
    const std::vector<std::string> found = Scan(agent.Pid(), needles, &read_any);
    ASSERT_TRUE(read_any) << "could not read the agent's memory";
    EXPECT_TRUE(found.empty()) << ::testing::PrintToString(found);
    EXPECT_EQ(agent.Stop(), 0) << agent.Stderr();
}

}  // namespace
}  // namespace kv
