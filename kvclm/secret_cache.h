// What the module remembers between imports so that opening a protected key does not pay the
// passphrase derivation every time: derived keys, and keys already opened. Entries are found
// by an identifier made from salt, iteration count and passphrase with a per-process secret,
// so neither the passphrase nor a plain hash of it is kept. Everything is wiped by Forget.
#pragma once

#include <array>

#include "kvclm/internal.h"
#include "kvclm/rsa_crt.h"

namespace kvclm {

// Derived keys and opened keys kept at most, each: enough for every key of a very large store.
// Past it the oldest goes first. Entries are found through hash indexes, so the bound costs a
// signature nothing.
constexpr std::size_t kMaxRememberedEntries = 4096;

using KdfId = std::array<std::uint8_t, 32>;
using BlobDigest = std::array<std::uint8_t, 32>;

KdfId MakeKdfId(std::uint32_t iterations, const std::uint8_t* salt, std::size_t saltLength,
                const std::uint8_t* pass, std::size_t passLength);
BlobDigest DigestOfBlob(const std::uint8_t* blob, std::size_t n);

bool LookupDerivedKey(const KdfId& id, SecureBytes* key);
void RememberDerivedKey(const KdfId& id, const SecureBytes& key);

// A new reference to the opened key, or null.
PkeyPtr LookupOpenedKey(const BlobDigest& blob, const KdfId& id);
void RememberOpenedKey(const BlobDigest& blob, const KdfId& id, EVP_PKEY* key);
// A copy of the signing context remembered with the opened key `key` (one kind per key:
// the caller's), made by `make` at the first call, so that a signature does not set up a new
// context each time; null when `key` is not remembered or `make` fails. Forgotten with the key.
PkeyCtxPtr CopyRememberedSignContext(EVP_PKEY* key, PkeyCtxPtr (*make)(EVP_PKEY*));

// The private operation by primes of the opened RSA key `key`, made at the first call; null
// when `key` is not remembered or has no such form. Forgotten with the key, but a signature
// under way keeps its own reference.
std::shared_ptr<const RsaCrtKey> RememberedRsaCrtKey(EVP_PKEY* key);

void ForgetSecrets() noexcept;

}  // namespace kvclm
