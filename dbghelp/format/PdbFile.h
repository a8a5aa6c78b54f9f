#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "ByteReader.h"

// The identity of a program database: the header of its multi-stream file
// (MSF 7.00, or the older PDB 2.00 format with 16-bit page numbers) and its
// PDB info stream (stream 1), which carries the signature, the age and, from
// the VC70 format on, the GUID that an image's CodeView record must match,
// and the age in its DBI stream (stream 3) header. A file counts only when
// its whole container is consistent (see PdbFile.cpp).
class CPdbFile
{
public:
    // Info stream versions from this one on carry a GUID.
    static constexpr uint32_t kVersionVc70 = 20000404;

    CPdbFile();

    // Parses and checks the whole file in data. On failure returns false,
    // leaves the object empty and says what is wrong in GetError().
    bool Parse(const uint8_t* data, size_t size);
    // Why the last Parse failed ("the header claims ... blocks ..."); empty after a success.
    const std::string& GetError() const { return m_error; }

    // 7 for MSF 7.00, 2 for PDB 2.00, 0 when nothing was parsed.
    int GetMsfVersion() const { return m_msfVersion; }
    uint32_t GetVersion() const { return m_version; }
    uint32_t GetSignature() const { return m_signature; }
    // The info stream's age.
    uint32_t GetAge() const { return m_age; }
    // Whether the DBI stream has a header that records an age, and that age.
    bool HasDbiAge() const { return m_hasDbiAge; }
    uint32_t GetDbiAge() const { return m_dbiAge; }
    // The age an image's CodeView record must carry: the DBI stream's where
    // it records one, else the info stream's (see PdbFile.cpp).
    uint32_t GetMatchingAge() const { return m_hasDbiAge ? m_dbiAge : m_age; }
    bool HasGuid() const { return m_hasGuid; }
    // The GUID as its 16 bytes are stored; zero unless HasGuid().
    const std::array<uint8_t, 16>& GetGuid() const { return m_guid; }

private:
    void Clear();
    bool ParseMsf7(CByteReader& file);
    bool ParseMsf2(CByteReader& file);
    // The identity from the start of the info stream and of the DBI stream
    // (empty when there is none).
    bool ReadIdentity(const std::vector<uint8_t>& info, const std::vector<uint8_t>& dbi);
    // Keeps the first error only: the deepest check knows best what is wrong.
    bool Fail(const std::string& error);

    int m_msfVersion;
    uint32_t m_version;
    uint32_t m_signature;
    uint32_t m_age;
    bool m_hasDbiAge;
    uint32_t m_dbiAge;
    bool m_hasGuid;
    std::array<uint8_t, 16> m_guid;
    std::string m_error;
};
