// Reading and writing whole key files: bounded reads, and writes that never leave a half
// written or truncated file behind.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "platform/secure_memory.h"

namespace kv {

// Public key files are for reading by anyone but changing by the owner only, whatever the umask
// (as OpenSSH writes them): one bound for authorized_keys must not be swapped by another user.
// Private ones are the owner's alone.
inline constexpr mode_t kPrivateFileMode = 0600;
inline constexpr mode_t kPublicFileMode = 0644;

// Key files are a few kilobytes; anything larger is not one.
inline constexpr std::size_t kMaxKeyFileSize = std::size_t{1} << 20;

// The whole content of a regular file of at most `maxSize` bytes. Empty for a file that cannot
// be opened or read, that is not a regular file (a directory, a pipe), or that is larger.
std::optional<SecureBytes> ReadKeyFileBytes(const std::string& path,
                                            std::size_t maxSize = kMaxKeyFileSize);

// Makes `path` hold exactly `bytes`: they go to a new file beside it, which then replaces it.
// On failure the old file, if any, is unchanged and nothing else is left behind. `mode` is
// given to the new file (the umask applies), e.g. 0600 for private key files.
bool ReplaceFileContents(const std::string& path, std::span<const std::uint8_t> bytes, mode_t mode);

// The new contents of one file of a pair.
struct FileContents {
    std::string path;
    std::span<const std::uint8_t> bytes;
    mode_t mode;
};
// Both files, as ReplaceFileContents, or neither: both are written beside their paths before
// either replaces its file, `first` first; when `second` cannot replace its file, `first` is
// put back as it was (except on a file system that cannot swap two files).
bool ReplaceFilePair(const FileContents& first, const FileContents& second);

// Why the module could not open the private key file at `path` (a KVCLM_E_ code), for the user.
std::string PrivateKeyFileError(const std::string& path, int code);

}  // namespace kv
