// The SSH wire encoding the OpenSSH agent protocol speaks (big-endian integers, strings with
// a 32-bit length): a bounded reader with a sticky error and a writer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "platform/secure_memory.h"

namespace kv {

// Reads fields from the front of a byte span it does not own. The first read that does not
// fit marks the reader failed: that read and every later one yield an empty value and leave
// the position where the failure happened, so a run of reads is tested once with Ok().
class SshReader {
  public:
    explicit SshReader(std::span<const uint8_t> data) : m_data(data) {}

    uint8_t Byte();
    uint32_t Uint32();
    // A string field as a view into the data; empty when it does not fit.
    std::span<const uint8_t> String();
    // A string field that must be text; stops at the first NUL as C consumers would.
    std::string Text();

    bool Ok() const { return !m_failed; }
    std::size_t Remaining() const { return m_data.size() - m_pos; }
    bool AtEnd() const { return Remaining() == 0; }
    void Fail() { m_failed = true; }

  private:
    // Takes n bytes if they remain and no read failed before; else fails.
    std::span<const uint8_t> Take(std::size_t n);

    std::span<const uint8_t> m_data;
    std::size_t m_pos = 0;
    bool m_failed = false;
};

// Appends fields to a wiping buffer: replies may carry signatures, requests key material.
class SshWriter {
  public:
    void Byte(uint8_t value) { m_out.push_back(value); }
    void Uint32(uint32_t value);
    void String(std::span<const uint8_t> bytes);
    void String(std::string_view text);
    // An SSH mpint from a big-endian magnitude (leading zero bytes allowed): minimal, with a
    // zero byte in front when the top bit is set, so the value reads as positive.
    void Mpint(std::span<const uint8_t> magnitude);
    void Raw(std::span<const uint8_t> bytes) { AppendBytes(m_out, bytes); }

    // Room for `size` bytes in all, so that a long message is not copied as it grows.
    void Reserve(std::size_t size) { m_out.reserve(size); }
    // Overwrites the four bytes at `offset`, written before with Uint32.
    void PatchUint32(std::size_t offset, uint32_t value);

    const SecureBytes& Data() const { return m_out; }
    SecureBytes Release() { return std::move(m_out); }

  private:
    SecureBytes m_out;
};

// The magnitude without its leading zero bytes.
std::span<const uint8_t> StripLeadingZeros(std::span<const uint8_t> magnitude);

// At most `max` bytes of client text, fit for the log: anything outside printable ASCII
// becomes '?'.
std::string PrintableText(std::span<const uint8_t> text, std::size_t max = 64);

inline std::span<const uint8_t> AsBytes(std::string_view text) {
    return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

}  // namespace kv
