#include "keys/key_file_io.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <random>

#include "kvclm/kvclm.h"

namespace kv {

namespace {

class FileDescriptor {
  public:
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    ~FileDescriptor() {
        if (m_fd >= 0) ::close(m_fd);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int Get() const { return m_fd; }
    // Closes now and reports whether the close worked (it may report a failed write).
    bool Close() {
        const int fd = m_fd;
        m_fd = -1;
        return ::close(fd) == 0;
    }

  private:
    int m_fd;
};

// Reads to the end; more than maxSize bytes fails, even when the file grew after fstat.
bool ReadAll(int fd, std::size_t expected, std::size_t maxSize, SecureBytes& data) {
    data.resize(std::min(expected, maxSize) + 1);
    std::size_t total = 0;
    for (;;) {
        if (total == data.size()) {
            if (data.size() > maxSize) return false;
            data.resize(std::min(data.size() * 2, maxSize + 1));
        }
        const ssize_t n = ::read(fd, data.data() + total, data.size() - total);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) break;
        total += static_cast<std::size_t>(n);
    }
    data.resize(total);
    return true;
}

bool WriteAll(int fd, std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes = bytes.subspan(static_cast<std::size_t>(n));
    }
    return true;
}

// A new file beside `path` that nobody else can have opened.
int CreateSibling(const std::string& path, mode_t mode, std::string& sibling) {
    std::random_device random;
    for (int attempt = 0; attempt < 16; ++attempt) {
        char suffix[32];
        std::snprintf(suffix, sizeof suffix, ".tmp-%08x", static_cast<unsigned>(random()));
        sibling = path + suffix;
        const int fd =
            ::open(sibling.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

}  // namespace

std::optional<SecureBytes> ReadKeyFileBytes(const std::string& path, std::size_t maxSize) {
    // Non-blocking, so that a named pipe given as a key file cannot hang the caller.
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (fd.Get() < 0) return std::nullopt;
    struct stat info {};
    if (::fstat(fd.Get(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size < 0)
        return std::nullopt;
    if (static_cast<std::uint64_t>(info.st_size) > maxSize) return std::nullopt;
    SecureBytes data;
    if (!ReadAll(fd.Get(), static_cast<std::size_t>(info.st_size), maxSize, data))
        return std::nullopt;
    return data;
}

namespace {

// The new file beside `path`, written and synced; nothing when that failed (and nothing left).
std::optional<std::string> WriteSibling(const FileContents& file) {
    if (file.path.empty()) return std::nullopt;
    std::string sibling;
    FileDescriptor fd(CreateSibling(file.path, file.mode, sibling));
    if (fd.Get() < 0) return std::nullopt;
    bool ok = WriteAll(fd.Get(), file.bytes) && ::fsync(fd.Get()) == 0;
    ok = fd.Close() && ok;
    if (!ok) {
        ::unlink(sibling.c_str());
        return std::nullopt;
    }
    return sibling;
}

bool MoveInPlace(const std::string& sibling, const std::string& path) {
    if (::rename(sibling.c_str(), path.c_str()) == 0) return true;
    ::unlink(sibling.c_str());
    return false;
}

}  // namespace

bool ReplaceFileContents(const std::string& path, std::span<const std::uint8_t> bytes,
                         mode_t mode) {
    const std::optional<std::string> sibling = WriteSibling({path, bytes, mode});
    return sibling && MoveInPlace(*sibling, path);
}

bool ReplaceFilePair(const FileContents& first, const FileContents& second) {
    const std::optional<std::string> first_sibling = WriteSibling(first);
    if (!first_sibling) return false;
    const std::optional<std::string> second_sibling = WriteSibling(second);
    if (!second_sibling) {
        ::unlink(first_sibling->c_str());
        return false;
    }
    // The first file is swapped with the one it replaces rather than renamed over it, so that
    // it can be put back when the second cannot be replaced (a file of another user in a
    // sticky folder, say). Over anything but a file, a plain rename (which fails over a
    // folder); with nothing there yet, one undone by removing the new file. A file system
    // without the swap keeps the plain rename and cannot undo it.
    struct stat replaced {};
    const bool was_absent = ::lstat(first.path.c_str(), &replaced) != 0 && errno == ENOENT;
    const bool swapped = !was_absent && S_ISREG(replaced.st_mode) &&
                         ::renameat2(AT_FDCWD, first_sibling->c_str(), AT_FDCWD, first.path.c_str(),
                                     RENAME_EXCHANGE) == 0;
    if (!swapped && !MoveInPlace(*first_sibling, first.path)) {
        ::unlink(second_sibling->c_str());
        return false;
    }
    if (MoveInPlace(*second_sibling, second.path)) {
        if (swapped) ::unlink(first_sibling->c_str());  // now the replaced file
        return true;
    }
    if (swapped) {
        // Should the swap back fail, the sibling keeps the old file: it is not removed.
        if (::renameat2(AT_FDCWD, first_sibling->c_str(), AT_FDCWD, first.path.c_str(),
                        RENAME_EXCHANGE) == 0)
            ::unlink(first_sibling->c_str());
    } else if (was_absent) {
        ::unlink(first.path.c_str());
    }
    return false;
}

std::string PrivateKeyFileError(const std::string& path, int code) {
    switch (code) {
        case KVCLM_E_NEED_PASSPHRASE:
            return "private key file " + path + " is protected by a passphrase";
        case KVCLM_E_BAD_PASSPHRASE:
            return "private key file " + path + ": wrong passphrase";
        case KVCLM_E_UNSUPPORTED:
            return "private key file " + path + ": the key type, curve or cipher is not supported";
        case KVCLM_E_FORM_UNAVAILABLE:
            return "private key file " + path +
                   ": an RSA key in an encrypted OpenSSH-format file cannot be opened with the "
                   "SSH library installed (libssh before 0.11); add it with ssh-add, or convert "
                   "it with: ssh-keygen -p -m PEM -f " +
                   path;
        case KVCLM_E_BAD_KEY:
            return "private key file " + path +
                   " holds a key whose numbers are not sound (a factor that is not prime, or "
                   "parts that do not belong together)";
        case KVCLM_E_NOT_READY:
            return "the cryptographic module is not available";
        default:
            return "private key file " + path + " is damaged or not a private key file (error " +
                   std::to_string(code) + ")";
    }
}

}  // namespace kv
