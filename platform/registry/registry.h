// The per-user registry the agent was designed around (HKEY_CURRENT_USER), kept in one
// SQLite file. Keys are backslash-separated paths below the root; key and value names
// compare without regard to ASCII case; values are typed byte strings.
//
// Every call returns false on failure and records a code in LastError() (0 after a call that
// succeeded); the codes are listed in registry_errors.h. Nothing here throws. Calls are
// serialised by a mutex, but an open transaction is process-wide (a write from any thread
// joins it), so the agent keeps registry work on its one UI thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry/registry_database.h"
#include "platform/registry/registry_errors.h"
#include "platform/secure_memory.h"

namespace kv {

constexpr const char* kAgentRegistryPath = "Software\\Korvenix\\Korvenix SSH Authentication Agent";
constexpr const char* kKeyPairsRegistryPath =
    "Software\\Korvenix\\Korvenix SSH Authentication Agent\\KeyPairs";

enum RegistryValueType : std::uint32_t { kRegSz = 1, kRegBinary = 3, kRegDword = 4 };

struct RegistryValue {
    std::string name;
    std::uint32_t type = 0;
    Bytes data;  // as stored; REG_SZ includes its terminating zero
};

struct RegistrySubkeyValues {
    std::string name;                   // the subkey's own name, as stored
    std::vector<RegistryValue> values;  // in case-insensitive name order
};

// The value called `name` (ASCII case ignored), or null.
const RegistryValue* FindValue(const std::vector<RegistryValue>& values, std::string_view name);

// One open key. Opening costs a query, never a new connection. Move-only; closes itself.
class RegistryKey {
  public:
    RegistryKey() = default;
    explicit RegistryKey(std::string_view path, bool create = true) { Open(path, create); }
    RegistryKey(RegistryKey&& other) noexcept;
    RegistryKey& operator=(RegistryKey&& other) noexcept;
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;
    ~RegistryKey() = default;

    // `path` below the root, e.g. kAgentRegistryPath; "" is the root itself. With `create`,
    // the key and any missing parents are made (in one transaction). Empty components, a
    // leading or trailing backslash, a NUL or a component over 255 bytes give 87.
    bool Open(std::string_view path, bool create = true);
    void Close();
    bool IsOpen() const { return m_open; }
    std::uint32_t LastError() const { return m_lastError; }
    // The path as stored (the letter case of the key's creation), "" when closed.
    const std::string& Path() const { return m_path; }

    // Clears buffer[0..size), then copies a REG_SZ value, zero-terminated. 1630 when the value
    // is of another type, 234 when it does not fit with its terminator.
    bool ReadString(const char* name, char* buffer, std::uint32_t size);
    // Clears buffer[0..*size), then copies the value whatever its type; *size becomes the
    // value's length. 234 when it does not fit (*size is then the length needed).
    bool ReadRaw(const char* name, void* buffer, std::uint32_t* size,
                 std::uint32_t* type = nullptr);
    // Every value of this key in case-insensitive name order, in one query.
    bool ReadAllValues(std::vector<RegistryValue>& out);
    // Every direct subkey in enumeration order with its values, in one query. With `names`
    // only those values (ASCII case ignored) are returned; the others are not even read.
    bool ReadSubkeyValues(std::vector<RegistrySubkeyValues>& out,
                          const std::vector<std::string>& names = {});

    bool WriteString(const char* name, const char* text);  // REG_SZ, strlen + 1 bytes
    bool WriteBinary(const char* name, const void* data, std::uint32_t count);
    bool WriteDword(const char* name, std::uint32_t value);  // REG_DWORD, little-endian
    bool DeleteValue(const char* name);

    // Deletes the subkey `name` (a relative path) with its values; 5 when it has subkeys.
    bool DeleteSubkey(const char* name);
    // The name of the subkey at `index` in enumeration order; 259 past the end.
    bool EnumSubkey(std::uint32_t index, char* name, std::uint32_t size);
    bool FirstSubkey(char* name, std::uint32_t size) { return EnumSubkey(0, name, size); }
    // Every direct subkey name in enumeration order (case-insensitive name order, so Key10
    // comes before Key2). Empty with LastError() set on failure.
    std::vector<std::string> SubkeyNames();

    // Creates the key (and its parents) if missing.
    static bool EnsureKey(std::string_view path);
    // True when values are stored under `path`, even if its key has lost its row (damage, or
    // another program), and when that cannot be told.
    static bool HoldsValues(std::string_view path);

  private:
    bool Finish(std::uint32_t code);
    bool WriteValue(const char* name, std::uint32_t type, const void* data, std::uint32_t n);
    std::uint32_t ReadValue(const char* name, Bytes& data, std::uint32_t& type);

    bool m_open = false;
    std::string m_path;
    std::uint32_t m_lastError = kRegOk;
};

// Groups writes so that they land together or not at all. The first live transaction begins
// one in SQLite; transactions made while it lives join it, and only the outermost commits.
// An inner one destroyed without Commit(), or a write that fails with 1016 inside, dooms the
// whole: the outermost Commit() then rolls back and returns false. Destroying the outermost
// without Commit() rolls back. Every write made outside a transaction is one of its own.
class RegistryTransaction {
  public:
    RegistryTransaction();
    ~RegistryTransaction();
    RegistryTransaction(const RegistryTransaction&) = delete;
    RegistryTransaction& operator=(const RegistryTransaction&) = delete;

    // True when the writes are (for the outermost) or still may be (for an inner one)
    // committed. A second call returns false.
    [[nodiscard]] bool Commit();
    // Rolls back now (an inner one dooms the outermost).
    void Rollback();
    // False once the transaction is doomed or ended; writes then fail with 1016.
    bool IsActive() const;
    std::uint32_t LastError() const { return m_lastError; }

  private:
    unsigned m_generation = 0;  // of the transaction it belongs to; 0 once ended
    bool m_outermost = false;
    std::uint32_t m_lastError = kRegOk;
};

}  // namespace kv
