// Shared by the key tests: the built module, keys generated once per test binary, an
// isolated registry and log, and OpenSSL checks of what the module produced.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "core/event_log.h"
#include "core/settings_table.h"
#include "cryptomodule/private_key.h"
#include "keys/key_pair.h"
#include "keys/private_key_blob.h"
#include "platform/registry/registry.h"
#include "platform/secure_memory.h"
#include "tests/support/temp_dir.h"

namespace kv::test {

// kv::Module(), pointed at the module built with the tests before its first call.
CryptoModule& BuiltModule();

inline std::span<const std::uint8_t> AsBytes(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

enum class TestKey { Rsa1024, Rsa2048, Dsa1024 };

// A key generated once per process; Blob() is its SSH public key blob.
struct GeneratedKey {
    PrivateKey key;
    Bytes public_blob;
};
const GeneratedKey& Generated(TestKey which);

// The key's container protected by `passphrase` (plain when empty), made once per pair.
const SecureBytes& Container(TestKey which, std::string_view passphrase);
// A KeyPair for the key with the given name and comment.
KeyPair PairFor(TestKey which, std::string_view name = "key", std::string_view comment = "c");
// A PrivateKeyBlob holding Container(which, passphrase).
PrivateKeyBlob BlobFor(TestKey which, std::string_view passphrase, const KeyPair* owner = nullptr);

// ---- OpenSSL checks with the public half parsed from the SSH blob ----
bool VerifyRsa(std::span<const std::uint8_t> blob, const char* digest,
               std::span<const std::uint8_t> message, std::span<const std::uint8_t> signature);
// The data an RSA signature was made over (PKCS#1 type 1 padding removed).
Bytes RecoverRsa(std::span<const std::uint8_t> blob, std::span<const std::uint8_t> signature);
// A DSS signature r || s (20 bytes each) over SHA-1 of the message.
bool VerifyDss(std::span<const std::uint8_t> blob, std::span<const std::uint8_t> message,
               std::span<const std::uint8_t> signature);
Bytes EncryptRsa(std::span<const std::uint8_t> blob, std::span<const std::uint8_t> plain);
Bytes Digest(const char* name, std::span<const std::uint8_t> data);
// The DER DigestInfo for SHA-1 followed by the digest, as a "sign" request carries it.
Bytes Sha1DigestInfo(std::span<const std::uint8_t> message);

// Every test starts with a registry of its own, no injected faults and default settings.
class KeyTest : public ::testing::Test {
  protected:
    KeyTest();
    ~KeyTest() override;

    // Messages recorded since the test began, each as "<category>:<text>".
    std::vector<std::string> Logged() const;
    bool LoggedText(std::string_view text) const;

    // Writes a value below "KeyPairs\<subkey>".
    static void WriteValue(const std::string& subkey, const char* name, std::span<const uint8_t> d);
    static void WriteText(const std::string& subkey, const char* name, const char* text);
    static bool SubkeyExists(const std::string& subkey);
    static Bytes ReadValue(const std::string& subkey, const char* name);

    TempDir m_dir;
    SettingsTable m_settings;
    EventLog m_log{m_settings};
};

}  // namespace kv::test
