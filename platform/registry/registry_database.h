// The one SQLite connection behind every RegistryKey, and the switches tests use to aim it
// at a file of their own or to make it fail on purpose.
#pragma once

#include <string>

namespace kv {

class RegistryDatabase {
  public:
    // Closes the current connection and uses `file` from now on (opened at once; false when
    // it cannot be). An empty path returns to the default, paths::RegistryFile().
    static bool UseFile(const std::string& file);
    // Closes the connection; the next registry call opens it again. A transaction still open
    // is rolled back, and the RegistryTransaction objects of it turn inert. A process that
    // forks a child which will use the registry must Close() first: a connection may not
    // cross fork(), and a child that finds an inherited one gets 1016 on every call.
    static void Close();
    // The file in use, or the one the next call will open.
    static std::string FilePath();
    // The schema version this build writes into PRAGMA user_version.
    static constexpr int kSchemaVersion = 1;
#ifdef KV_REGISTRY_IN_MEMORY
    // Fuzz builds only: UseFile(kInMemory) keeps the registry in memory, gone on Close().
    static constexpr const char* kInMemory = ":memory:";
#endif
};

// Fault injection for the tests of the modules above the registry. A failure injected here
// looks exactly like a failing database: the call returns false with LastError() 1016, and
// inside a RegistryTransaction it dooms the transaction, as a real I/O error does.
// Counting is per call: every WriteString, WriteBinary, WriteDword, DeleteValue,
// DeleteSubkey, and every Open that has to create a key, is one write; every ReadString,
// ReadRaw, ReadAllValues and ReadSubkeyValues is one read.
namespace registry_testing {
// The first n writes succeed, every later one fails until Reset(). A negative n disables.
void FailWritesAfter(int n);
// The same for reads.
void FailReadsAfter(int n);
// While set, committing fails and rolls back: explicit transactions and the implicit one of
// each write made outside a transaction alike.
void FailCommit(bool fail);
// Writes attempted since the last Reset(), counted as above (failed ones included).
int WriteCount();
// Clears every switch and counter.
void Reset();
}  // namespace registry_testing

}  // namespace kv
