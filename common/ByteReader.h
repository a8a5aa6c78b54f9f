#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// A cursor over a borrowed byte buffer whose every read is bounds-checked.
// All parsing of outside bytes (images, symbol files, HTTP replies) goes
// through it: a read either succeeds whole and advances the position, or
// fails, returns false and leaves the position where it was. Every result
// must be looked at: a read that failed leaves its output unset. Integers are
// little-endian. The buffer must outlive the reader and its sub-readers.
class CByteReader
{
public:
    CByteReader();
    CByteReader(const uint8_t* data, size_t size);

    size_t GetPosition() const { return m_position; }
    size_t GetSize() const { return m_size; }
    size_t GetRemaining() const { return m_size - m_position; }

    // Moves to an absolute offset; the end itself is a valid position.
    [[nodiscard]] bool Seek(size_t offset);
    [[nodiscard]] bool Skip(size_t count);

    [[nodiscard]] bool ReadU8(uint8_t& value);
    [[nodiscard]] bool ReadU16(uint16_t& value);
    [[nodiscard]] bool ReadU32(uint32_t& value);
    [[nodiscard]] bool ReadU64(uint64_t& value);

    // Copies count bytes into out, which must hold that many.
    [[nodiscard]] bool ReadBytes(void* out, size_t count);
    // Appends count bytes to out; out grows only once the bytes are known to exist.
    [[nodiscard]] bool AppendBytes(std::vector<uint8_t>& out, size_t count);
    // Reads count 16-bit or 32-bit values, the count checked against overflow
    // and against the bytes left before anything is allocated.
    [[nodiscard]] bool ReadU16Array(std::vector<uint16_t>& out, size_t count);
    [[nodiscard]] bool ReadU32Array(std::vector<uint32_t>& out, size_t count);

    // True, and advances past them, when the next bytes equal expected.
    [[nodiscard]] bool ReadMatch(const void* expected, size_t count);

    // A zero-terminated string of at most maxLength characters before its
    // terminator; the terminator is consumed but not stored. Fails when no
    // terminator comes within the limit or the buffer.
    [[nodiscard]] bool ReadCString(std::string& out, size_t maxLength);
    // Exactly length bytes; the string ends at the first zero byte among them.
    [[nodiscard]] bool ReadFixedString(std::string& out, size_t length);
    // The bytes up to (not including) the delimiter, which is consumed; at most
    // maxLength bytes. Fails when no delimiter comes within the limit.
    [[nodiscard]] bool ReadUntil(uint8_t delimiter, std::string& out, size_t maxLength);

    // A reader over [offset, offset + length) of this reader's buffer,
    // independent of the current position.
    [[nodiscard]] bool GetSubReader(size_t offset, size_t length, CByteReader& out) const;
    // A reader over the next length bytes, which this reader then skips.
    [[nodiscard]] bool ReadSubReader(size_t length, CByteReader& out);

    // out = a * b, false when that does not fit in size_t.
    [[nodiscard]] static bool CheckedMultiply(size_t a, size_t b, size_t& out);
    // out = a + b, false when that does not fit in size_t.
    [[nodiscard]] static bool CheckedAdd(size_t a, size_t b, size_t& out);

private:
    bool Has(size_t count) const { return count <= m_size - m_position; }

    const uint8_t* m_data;
    size_t m_size;
    size_t m_position;
};
