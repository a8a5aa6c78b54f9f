#include "ByteReader.h"

#include <cstring>
#include <limits>

CByteReader::CByteReader() : m_data(nullptr), m_size(0), m_position(0)
{
}

CByteReader::CByteReader(const uint8_t* data, size_t size) : m_data(data), m_size(data ? size : 0), m_position(0)
{
}

bool CByteReader::Seek(size_t offset)
{
    if (offset > m_size)
        return false;
    m_position = offset;
    return true;
}

bool CByteReader::Skip(size_t count)
{
    if (!Has(count))
        return false;
    m_position += count;
    return true;
}

bool CByteReader::ReadU8(uint8_t& value)
{
    if (!Has(1))
        return false;
    value = m_data[m_position];
    m_position += 1;
    return true;
}

bool CByteReader::ReadU16(uint16_t& value)
{
    if (!Has(2))
        return false;
    value = static_cast<uint16_t>(m_data[m_position] | (m_data[m_position + 1] << 8));
    m_position += 2;
    return true;
}

bool CByteReader::ReadU32(uint32_t& value)
{
    if (!Has(4))
        return false;
    uint32_t result = 0;
    for (size_t i = 0; i < 4; ++i)
        result |= static_cast<uint32_t>(m_data[m_position + i]) << (8 * i);
    value = result;
    m_position += 4;
    return true;
}

bool CByteReader::ReadU64(uint64_t& value)
{
    if (!Has(8))
        return false;
    uint64_t result = 0;
    for (size_t i = 0; i < 8; ++i)
        result |= static_cast<uint64_t>(m_data[m_position + i]) << (8 * i);
    value = result;
    m_position += 8;
    return true;
}

bool CByteReader::ReadBytes(void* out, size_t count)
{
    if (!Has(count))
        return false;
    if (count != 0)
        std::memcpy(out, m_data + m_position, count);
    m_position += count;
    return true;
}

bool CByteReader::AppendBytes(std::vector<uint8_t>& out, size_t count)
{
    if (!Has(count))
        return false;
    out.insert(out.end(), m_data + m_position, m_data + m_position + count);
    m_position += count;
    return true;
}

bool CByteReader::ReadU16Array(std::vector<uint16_t>& out, size_t count)
{
    size_t bytes = 0;
    if (!CheckedMultiply(count, 2, bytes) || !Has(bytes))
        return false;
    out.resize(count);
    // Every value is in bounds: the whole array was checked above.
    for (size_t i = 0; i < count; ++i)
        static_cast<void>(ReadU16(out[i]));
    return true;
}

bool CByteReader::ReadU32Array(std::vector<uint32_t>& out, size_t count)
{
    size_t bytes = 0;
    if (!CheckedMultiply(count, 4, bytes) || !Has(bytes))
        return false;
    out.resize(count);
    // Every value is in bounds: the whole array was checked above.
    for (size_t i = 0; i < count; ++i)
        static_cast<void>(ReadU32(out[i]));
    return true;
}

bool CByteReader::ReadMatch(const void* expected, size_t count)
{
    if (!Has(count))
        return false;
    if (count != 0 && std::memcmp(m_data + m_position, expected, count) != 0)
        return false;
    m_position += count;
    return true;
}

bool CByteReader::ReadCString(std::string& out, size_t maxLength)
{
    return ReadUntil(0, out, maxLength);
}

bool CByteReader::ReadFixedString(std::string& out, size_t length)
{
    if (!Has(length))
        return false;
    size_t used = 0;
    while (used < length && m_data[m_position + used] != 0)
        ++used;
    out.assign(reinterpret_cast<const char*>(m_data + m_position), used);
    m_position += length;
    return true;
}

bool CByteReader::ReadUntil(uint8_t delimiter, std::string& out, size_t maxLength)
{
    if (GetRemaining() == 0)
        return false;
    // maxLength characters plus the delimiter, without overflowing maxLength + 1.
    const size_t limit = GetRemaining() - 1 < maxLength ? GetRemaining() : maxLength + 1;
    for (size_t i = 0; i < limit; ++i)
    {
        if (m_data[m_position + i] == delimiter)
        {
            out.assign(reinterpret_cast<const char*>(m_data + m_position), i);
            m_position += i + 1;
            return true;
        }
    }
    return false;
}

bool CByteReader::GetSubReader(size_t offset, size_t length, CByteReader& out) const
{
    if (offset > m_size || length > m_size - offset)
        return false;
    out = CByteReader(m_data + offset, length);
    return true;
}

bool CByteReader::ReadSubReader(size_t length, CByteReader& out)
{
    if (!GetSubReader(m_position, length, out))
        return false;
    m_position += length;
    return true;
}

bool CByteReader::CheckedMultiply(size_t a, size_t b, size_t& out)
{
    if (a != 0 && b > std::numeric_limits<size_t>::max() / a)
        return false;
    out = a * b;
    return true;
}

bool CByteReader::CheckedAdd(size_t a, size_t b, size_t& out)
{
    if (b > std::numeric_limits<size_t>::max() - a)
        return false;
    out = a + b;
    return true;
}
