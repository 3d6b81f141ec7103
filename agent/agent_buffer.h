// The byte buffer that request payloads are decoded from and reply payloads are built in.
//
// A request buffer is filled once and consumed from the front through a read cursor; a reply
// buffer starts empty and only grows at the end. Two field kinds travel in it:
//   integer field: tag 0, length 4, 32-bit signed value            (12 bytes)
//   string field:  tag 1, length n, n bytes without a terminator    (8 + n bytes)
// Readers skip tags without checking them and ignore the length word of integer fields.
//
// Storage is wiped when released: add requests carry unprotected private keys.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/secure_memory.h"

namespace kv {

class AgentBuffer {
  public:
    AgentBuffer() = default;
    // A payload longer than a 32-bit length can describe gives an empty buffer.
    explicit AgentBuffer(std::span<const uint8_t> payload);

    // The unconsumed part. Data() is null when the buffer is empty.
    int32_t Length() const;
    const uint8_t* Data() const;
    std::span<const uint8_t> Bytes() const;
    // Moves the unconsumed bytes out and leaves the buffer empty.
    SecureBytes Release();

    // n <= 0 (or no pointer): nothing. A buffer never grows past INT32_MAX bytes; an append
    // that would is dropped whole. Returns the new length.
    // Makes room for `extra` more bytes at once, so a long reply grows without copies.
    void Reserve(int64_t extra);
    int32_t AppendBytes(const void* p, int32_t n);
    void AppendIntField(int32_t value);
    // A negative n or a null pointer writes a string field of length 0.
    void AppendStringField(const void* p, int32_t n);
    void AppendStringField(std::string_view text);
    void AppendStringField(std::span<const uint8_t> bytes);

    // Primitive reads either succeed whole or leave the buffer unchanged; a remainder of 1
    // to 3 bytes where 4 are needed reads as missing, like an empty buffer.
    int32_t ReadInt();                                // -1 when fewer than 4 bytes remain
    std::optional<SecureBytes> ReadBytes(int32_t n);  // nullopt when n <= 0 or n > Length()
    void SkipTag();                                   // fewer than 4 bytes: nothing

    // Field reads are built from the primitives and consume whatever words they could read,
    // so a reader that carries on after a bad field resumes right after its length word.
    int32_t ReadIntField();  // -1 whenever the buffer ran out
    // nullopt when the field is absent, has length 0 or is longer than what remains.
    std::optional<SecureBytes> ReadStringField();
    // The same field as text. Text stops at the first NUL byte, as it does for every
    // consumer that treats it as a zero-terminated string, so all of them see one value.
    std::optional<std::string> ReadTextField();

  private:
    bool Fits(int64_t extra) const;
    void Consume(std::size_t n);

    SecureBytes m_data;
    std::size_t m_pos = 0;  // bytes before m_pos are consumed
};

}  // namespace kv
