// The key store at scale: loading, finding a key by its public blob and building a list
// reply for 1,000 and 2,000 keys, whose times should grow no faster than the key count; and
// one signature through Perform with an RSA-2048 key, which must not pay the passphrase
// derivation again while the agent stays unlocked.
//
// After the runs it prints the median of each case and the 2,000 / 1,000 ratios.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include "agent/handlers/key_pair_entry.h"
#include "agent/payloads.h"
#include "core/event_log.h"
#include "core/settings_table.h"
#include "cryptomodule/key_generation.h"
#include "keys/key_registry_layout.h"
#include "keys/key_store.h"
#include "keys/private_key_operation.h"
#include "platform/registry/registry.h"
#include "platform/registry/registry_database.h"

namespace kv {
namespace {

constexpr std::string_view kPassphrase = "bench passphrase";

std::span<const std::uint8_t> AsBytes(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// One registry file per store size, filled once.
class Fixture {
  public:
    static Fixture& Get() {
        static Fixture fixture;
        return fixture;
    }
    ~Fixture() {
        RegistryDatabase::Close();
        std::error_code ignored;
        std::filesystem::remove_all(m_dir, ignored);
    }

    // -1 forgets the store in use, so that the next call opens its file again.
    void UseStore(int keys) {
        if (keys == m_current) return;
        if (keys < 0) {
            m_current = -1;
            return;
        }
        const std::string file = m_dir + "/registry-" + std::to_string(keys) + ".sqlite";
        const bool fresh = !std::filesystem::exists(file);
        RegistryDatabase::UseFile(file);
        if (fresh) Fill(keys);
        m_current = keys;
    }

    // A blob as long as an RSA-2048 one, different for every key.
    static Bytes BlobOf(int index) {
        Bytes blob = {0, 0, 0, 7, 's', 's', 'h', '-', 'r', 's', 'a',
                      0, 0, 0, 3, 1,   0,   1,   0,   0,   1,   1};
        for (int i = 0; i < 257; ++i) blob.push_back(static_cast<std::uint8_t>(i * 31 + 7));
        for (int shift = 0; shift < 32; shift += 8) {
            blob.push_back(static_cast<std::uint8_t>(index >> shift));
        }
        return blob;
    }

    SettingsTable settings;
    EventLog log{settings};

    const std::string& Dir() const { return m_dir; }

    // `keys` key pairs in the registry now in use, living until `expiry` when it is given.
    static void Fill(int keys, FileTime expiry = kFileTimeNever) {
        const Bytes prv(1200, 0x42);  // the size of a protected RSA-2048 container
        RegistryTransaction transaction;
        for (int n = 1; n <= keys; ++n) {
            KeyPair key;
            key.SetBlob(BlobOf(n));
            key.SetFileName("key-" + std::to_string(n));
            key.SetComment("user@host key number " + std::to_string(n));
            key.SetExpiry(expiry);
            RegistryKey subkey(KeySubkeyPath(n));
            WritePublicValues(subkey, key);
            subkey.WriteBinary(kPrvValue, prv.data(), static_cast<std::uint32_t>(prv.size()));
        }
        if (!transaction.Commit()) std::fprintf(stderr, "cannot fill the registry\n");
    }

  private:
    Fixture() {
        char pattern[] = "/tmp/kv-keystore-bench-XXXXXX";
        m_dir = ::mkdtemp(pattern) != nullptr ? pattern : "/tmp";
        settings.DefineDefaults();
    }

    std::string m_dir;
    int m_current = 0;
};

void BM_Load(benchmark::State& state) {
    Fixture& f = Fixture::Get();
    f.UseStore(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        KeyStore store(f.log, TheSystemClock());
        benchmark::DoNotOptimize(store.Count());
    }
}

void BM_FindByBlob(benchmark::State& state) {
    Fixture& f = Fixture::Get();
    const int keys = static_cast<int>(state.range(0));
    f.UseStore(keys);
    KeyStore store(f.log, TheSystemClock());
    std::vector<Bytes> blobs;
    for (int n = 1; n <= keys; ++n) blobs.push_back(Fixture::BlobOf(n));
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(store.FindByBlob(blobs[i]));
        i = (i + 1) % blobs.size();
    }
}

void BM_ListReply(benchmark::State& state) {
    Fixture& f = Fixture::Get();
    f.UseStore(static_cast<int>(state.range(0)));
    KeyStore store(f.log, TheSystemClock());
    for (auto _ : state) {
        const FileTime now = TheSystemClock().Now();
        std::vector<AgentKeyEntry> entries;
        entries.reserve(store.Count());
        for (std::size_t i = 0; i < store.Count(); ++i) {
            entries.push_back(ToAgentKeyEntry(store.At(i), now));
        }
        AgentBuffer reply;
        reply.AppendIntField(1);
        benchmark::DoNotOptimize(WriteListReplyBody(entries, reply));
        benchmark::DoNotOptimize(reply.Length());
    }
}

// Keys whose lifetimes all end in the same second, swept at once: the agent's event loop
// waits for the whole sweep.
void BM_ExpirySweep(benchmark::State& state) {
    Fixture& f = Fixture::Get();
    const int keys = static_cast<int>(state.range(0));
    const FileTime start = TheSystemClock().Now();
    int round = 0;
    for (auto _ : state) {
        state.PauseTiming();
        f.UseStore(-1);  // a fresh file for each round, filled below
        RegistryDatabase::UseFile(f.Dir() + "/expiry-" + std::to_string(round++) + ".sqlite");
        Fixture::Fill(keys, AddSeconds(start, 1));
        FakeClock clock(start);
        KeyStore store(f.log, clock);
        clock.AdvanceSeconds(2);
        state.ResumeTiming();
        benchmark::DoNotOptimize(store.ExpirySweep());
    }
}

// A store holding one real RSA-2048 key, unlocked.
struct SigningStore {
    std::unique_ptr<KeyStore> store;
    std::int32_t number = -1;
};

SigningStore& Signing() {
    static SigningStore signing = [] {
        const char* bin = std::getenv("KV_BIN_DIR");
        Module().SetDirectoryForTesting(bin != nullptr ? std::string(bin) + "/crypto"
                                                       : KV_BENCH_MODULE_DIR);
        Fixture& f = Fixture::Get();
        f.UseStore(1);  // a small store beside the big ones
        SigningStore s;
        s.store = std::make_unique<KeyStore>(f.log, TheSystemClock());
        if (!s.store->Unlock(AsBytes(kPassphrase))) return s;
        ModuleResult<PrivateKey> key = GenerateRsaKey(2048);
        if (!key.ok()) return s;
        KeyPair pair;
        pair.SetBlobFromPublicKey(key.value.DerivePublic().value);
        pair.SetFileName("signing");
        PrivateKeyBlob blob(&pair);
        blob.ProtectGenerated(key.value, s.store->HeldPassphrase());
        s.number = s.store->Add(blob, pair);
        return s;
    }();
    return signing;
}

void Sign(benchmark::State& state, bool forget_first) {
    SigningStore& s = Signing();
    Fixture& f = Fixture::Get();
    if (s.number < 0) {
        state.SkipWithError("no signing key (module missing?)");
        return;
    }
    f.UseStore(1);
    const OperationContext context{f.settings, f.log, {}};
    const std::string data = "session data to sign";
    for (auto _ : state) {
        if (forget_first) {
            state.PauseTiming();
            Module().ForgetSecrets();  // as after a lock and unlock
            state.ResumeTiming();
        }
        const std::optional<PrivateKeyBlob> blob = s.store->ReadPrivateKey(s.number);
        const OperationResult r = Perform(*blob, "hash-and-sign", "bench",
                                          s.store->HeldPassphrase(), AsBytes(data), context);
        if (!r.ok) state.SkipWithError("signing failed");
    }
}

void BM_PerformSign_Unlocked(benchmark::State& state) { Sign(state, false); }
void BM_PerformSign_AfterForget(benchmark::State& state) { Sign(state, true); }

BENCHMARK(BM_Load)->Arg(1000)->Arg(2000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FindByBlob)->Arg(1000)->Arg(2000)->Unit(benchmark::kNanosecond);
BENCHMARK(BM_ListReply)->Arg(1000)->Arg(2000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ExpirySweep)->Arg(500)->Arg(1000)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_PerformSign_Unlocked)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PerformSign_AfterForget)->Unit(benchmark::kMillisecond)->Iterations(20);

// Keeps the median of every case that ran with repetitions, for the ratios at the end.
class MedianReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median") {
                m_medians[run.run_name.str()] = run.GetAdjustedRealTime();
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
    void PrintRatios() const {
        for (const char* name : {"BM_Load", "BM_FindByBlob", "BM_ListReply"}) {
            const auto small = m_medians.find(std::string(name) + "/1000");
            const auto large = m_medians.find(std::string(name) + "/2000");
            if (small == m_medians.end() || large == m_medians.end()) continue;
            std::printf("%-16s 2000/1000 median ratio: %.2f (limit 2.20)\n", name,
                        large->second / small->second);
        }
        const auto warm = m_medians.find("BM_PerformSign_Unlocked");
        const auto cold = m_medians.find("BM_PerformSign_AfterForget/iterations:20");
        if (warm != m_medians.end() && cold != m_medians.end()) {
            std::printf(
                "PerformSign: derivation-free signature is %.1fx faster than one that "
                "derives\n",
                cold->second / warm->second);
        }
    }

  private:
    std::map<std::string, double> m_medians;
};

}  // namespace
}  // namespace kv

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    kv::MedianReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintRatios();
    benchmark::Shutdown();
    return 0;
}
