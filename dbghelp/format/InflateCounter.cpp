#include "InflateCounter.h"

// Deflate (RFC 1951) in brief: a sequence of blocks, each starting with a
// 3-bit header (bit 0: final block; bits 1-2: 0 stored, 1 fixed codes,
// 2 dynamic codes, 3 reserved). Bits are taken from each byte lowest first;
// Huffman codes are read one bit at a time, most significant bit first.
//   Stored: skip to the next byte boundary, u16 LEN, u16 NLEN (~LEN), LEN
//     bytes copied as they are.
//   Fixed and dynamic: literal/length symbols until symbol 256. Symbols
//     below 256 are one byte; 257-285 are a length (base plus extra bits)
//     followed by a distance code (0-29, base plus extra bits) that copies
//     length bytes from that far back in the output.
//   Dynamic blocks first give their codes: 5 bits HLIT (+257 lengths), 5 bits
//     HDIST (+1), 4 bits HCLEN (+4), HCLEN 3-bit code lengths of the code
//     length alphabet in a fixed order, then the HLIT + HDIST code lengths in
//     that alphabet (16: repeat the previous length 3-6 times; 17: 3-10 zeros;
//     18: 11-138 zeros).
// Only lengths are added up here; no byte of output is ever produced.

#include <algorithm>
#include <array>

namespace
{
const unsigned kMaxCodeBits = 15;
const size_t kLiteralSymbols = 288;
const size_t kDistanceSymbols = 30;
const uint32_t kEndOfBlock = 256;

const uint16_t kLengthBase[] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
const uint8_t kLengthExtra[] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
const uint16_t kDistanceBase[] = {1,    2,    3,    4,    5,    7,    9,    13,    17,    25,
                                  33,   49,   65,   97,   129,  193,  257,  385,   513,   769,
                                  1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
const uint8_t kDistanceExtra[] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                  6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
const uint8_t kCodeLengthOrder[] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
static_assert(sizeof(kLengthBase) / sizeof(kLengthBase[0]) == sizeof(kLengthExtra), "one extra count per length");
static_assert(sizeof(kDistanceBase) / sizeof(kDistanceBase[0]) == kDistanceSymbols, "one base per distance code");

// Deflate's bits, lowest first, from a bounded byte cursor.
class CBitReader
{
public:
    explicit CBitReader(CByteReader& bytes) : m_bytes(bytes), m_bits(0), m_count(0) {}

    // The next count (at most 16) bits as a number, the first read lowest.
    bool Read(unsigned count, uint32_t& value)
    {
        while (m_count < count)
        {
            uint8_t byte = 0;
            if (!m_bytes.ReadU8(byte))
                return false;
            m_bits |= static_cast<uint32_t>(byte) << m_count;
            m_count += 8;
        }
        value = m_bits & ((1u << count) - 1);
        m_bits >>= count;
        m_count -= count;
        return true;
    }

    // Drops what is left of the current byte; whole bytes follow.
    CByteReader& AlignedBytes()
    {
        m_bits = 0;
        m_count = 0;
        return m_bytes;
    }

private:
    CByteReader& m_bytes;
    uint32_t m_bits;
    unsigned m_count; // bits held in m_bits, always fewer than 8 between reads
};

// A canonical Huffman code given by the code length of each symbol.
class CHuffmanCode
{
public:
    // False when the lengths describe more codes than there are bit patterns.
    bool Build(const uint8_t* lengths, size_t count)
    {
        m_perLength.fill(0);
        for (size_t i = 0; i < count; ++i)
            ++m_perLength[lengths[i]];
        m_perLength[0] = 0;
        int left = 1;
        for (unsigned bits = 1; bits <= kMaxCodeBits; ++bits)
        {
            left = left * 2 - m_perLength[bits];
            if (left < 0)
                return false;
        }
        std::array<uint16_t, kMaxCodeBits + 2> next = {};
        for (unsigned bits = 1; bits <= kMaxCodeBits; ++bits)
            next[bits + 1] = static_cast<uint16_t>(next[bits] + m_perLength[bits]);
        for (size_t i = 0; i < count; ++i)
        {
            if (lengths[i] != 0)
                m_symbols[next[lengths[i]]++] = static_cast<uint16_t>(i);
        }
        return true;
    }

    // False at the end of the data or on a bit pattern that is no code.
    bool Decode(CBitReader& in, uint32_t& symbol) const
    {
        // Codes of one length are consecutive numbers, the shorter lengths'
        // codes (extended by a bit per level) coming first.
        int code = 0;
        int first = 0;
        int index = 0;
        for (unsigned bits = 1; bits <= kMaxCodeBits; ++bits)
        {
            uint32_t bit = 0;
            if (!in.Read(1, bit))
                return false;
            code |= static_cast<int>(bit);
            const int count = m_perLength[bits];
            if (code - first < count)
            {
                symbol = m_symbols[index + code - first];
                return true;
            }
            index += count;
            first = (first + count) << 1;
            code <<= 1;
        }
        return false;
    }

private:
    std::array<uint16_t, kMaxCodeBits + 1> m_perLength;
    std::array<uint16_t, kLiteralSymbols> m_symbols;
};

bool BuildFixedCodes(CHuffmanCode& literals, CHuffmanCode& distances)
{
    std::array<uint8_t, kLiteralSymbols> lengths;
    std::fill(lengths.begin(), lengths.begin() + 144, 8);
    std::fill(lengths.begin() + 144, lengths.begin() + 256, 9);
    std::fill(lengths.begin() + 256, lengths.begin() + 280, 7);
    std::fill(lengths.begin() + 280, lengths.end(), 8);
    std::array<uint8_t, kDistanceSymbols> distanceLengths;
    distanceLengths.fill(5);
    return literals.Build(lengths.data(), lengths.size()) &&
           distances.Build(distanceLengths.data(), distanceLengths.size());
}

// Reads a dynamic block's code descriptions; error names what is wrong.
bool ReadDynamicCodes(CBitReader& in, CHuffmanCode& literals, CHuffmanCode& distances, std::string& error)
{
    uint32_t literalCount = 0;
    uint32_t distanceCount = 0;
    uint32_t lengthCodeCount = 0;
    if (!in.Read(5, literalCount) || !in.Read(5, distanceCount) || !in.Read(4, lengthCodeCount))
        return false;
    literalCount += 257;
    distanceCount += 1;
    lengthCodeCount += 4;
    if (literalCount > 286 || distanceCount > kDistanceSymbols)
    {
        error = "a block declares more codes than deflate has";
        return false;
    }
    std::array<uint8_t, 19> lengthCodeLengths = {};
    for (uint32_t i = 0; i < lengthCodeCount; ++i)
    {
        uint32_t length = 0;
        if (!in.Read(3, length))
            return false;
        lengthCodeLengths[kCodeLengthOrder[i]] = static_cast<uint8_t>(length);
    }
    CHuffmanCode lengthCode;
    if (!lengthCode.Build(lengthCodeLengths.data(), lengthCodeLengths.size()))
    {
        error = "a block's code length code is over-subscribed";
        return false;
    }
    std::array<uint8_t, 286 + kDistanceSymbols> lengths = {};
    const uint32_t total = literalCount + distanceCount;
    for (uint32_t i = 0; i < total;)
    {
        uint32_t symbol = 0;
        if (!lengthCode.Decode(in, symbol))
            return false;
        if (symbol < 16)
        {
            lengths[i++] = static_cast<uint8_t>(symbol);
            continue;
        }
        uint32_t repeat = 0;
        uint8_t value = 0;
        bool read = false;
        if (symbol == 16)
        {
            if (i == 0)
            {
                error = "a block repeats a code length before the first";
                return false;
            }
            value = lengths[i - 1];
            read = in.Read(2, repeat);
            repeat += 3;
        }
        else if (symbol == 17)
        {
            read = in.Read(3, repeat);
            repeat += 3;
        }
        else
        {
            read = in.Read(7, repeat);
            repeat += 11;
        }
        if (!read)
            return false;
        if (repeat > total - i)
        {
            error = "a block's code lengths run past their count";
            return false;
        }
        std::fill(lengths.begin() + i, lengths.begin() + i + repeat, value);
        i += repeat;
    }
    if (lengths[kEndOfBlock] == 0)
    {
        error = "a block has no end-of-block code";
        return false;
    }
    if (!literals.Build(lengths.data(), literalCount) || !distances.Build(lengths.data() + literalCount, distanceCount))
    {
        error = "a block's codes are over-subscribed";
        return false;
    }
    return true;
}
} // namespace

CInflateCounter::CInflateCounter() : m_history(0)
{
}

CInflateCounter::Result CInflateCounter::CountBlock(CByteReader data, uint32_t limit, uint32_t& expanded,
                                                    std::string& why)
{
    why.clear();
    expanded = 0;
    uint64_t produced = 0;
    CBitReader in(data);
    auto fail = [&why](const std::string& text)
    {
        why = text;
        return Result::Damaged;
    };
    bool final = false;
    while (!final)
    {
        uint32_t header = 0;
        if (!in.Read(3, header))
            return fail("its data ends inside a block");
        final = (header & 1) != 0;
        const uint32_t type = header >> 1;
        if (type == 0)
        {
            CByteReader& bytes = in.AlignedBytes();
            uint16_t length = 0;
            uint16_t check = 0;
            if (!bytes.ReadU16(length) || !bytes.ReadU16(check))
                return fail("its data ends inside a block");
            if (length != static_cast<uint16_t>(~check))
                return fail("a stored block's length fails its check");
            if (produced + length > limit)
                return Result::TooLarge;
            if (!bytes.Skip(length))
                return fail("its data ends inside a block");
            produced += length;
            continue;
        }
        CHuffmanCode literals;
        CHuffmanCode distances;
        std::string codeError;
        if (type == 3)
            return fail("a block has the reserved type 3");
        if (type == 1 ? !BuildFixedCodes(literals, distances) : !ReadDynamicCodes(in, literals, distances, codeError))
            return fail(codeError.empty() ? "its data ends inside a block" : codeError);
        for (;;)
        {
            uint32_t symbol = 0;
            if (!literals.Decode(in, symbol))
                return fail("a literal or length code is invalid or cut short");
            if (symbol == kEndOfBlock)
                break;
            uint64_t length = 1;
            if (symbol > kEndOfBlock)
            {
                const uint32_t index = symbol - 257;
                uint32_t extra = 0;
                uint32_t distanceSymbol = 0;
                uint32_t distanceExtra = 0;
                if (index >= sizeof(kLengthExtra) || !in.Read(kLengthExtra[index], extra) ||
                    !distances.Decode(in, distanceSymbol) || distanceSymbol >= kDistanceSymbols ||
                    !in.Read(kDistanceExtra[distanceSymbol], distanceExtra))
                    return fail("a length or distance code is invalid or cut short");
                length = kLengthBase[index] + extra;
                const uint64_t distance = kDistanceBase[distanceSymbol] + distanceExtra;
                if (distance > m_history + produced)
                    return fail("a distance reaches back before the first byte");
            }
            if (produced + length > limit)
                return Result::TooLarge;
            produced += length;
        }
    }
    m_history += produced;
    expanded = static_cast<uint32_t>(produced);
    return Result::Counted;
}
