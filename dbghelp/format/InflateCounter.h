#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "ByteReader.h"

// Walks the deflate data of a cabinet's MSZIP blocks and counts the bytes
// each really expands to, without producing them. A block's header states
// its expanded size, but the platform's expander trusts the data instead, so
// the data itself is what has to be bounded. Blocks of one folder share a
// 32 KiB history: a back-reference may reach into the blocks before it, but
// never further back than the bytes expanded so far.
class CInflateCounter
{
public:
    enum class Result
    {
        Counted,
        TooLarge,
        Damaged
    };

    CInflateCounter();

    // Counts the next block's deflate data (after its "CK"), which must end
    // with a final deflate block, into expanded. Stops with TooLarge as soon
    // as the count would pass limit, and with Damaged at the first invalid or
    // cut-short code, saying which in why (one phrase).
    Result CountBlock(CByteReader data, uint32_t limit, uint32_t& expanded, std::string& why);

private:
    uint64_t m_history;
};
