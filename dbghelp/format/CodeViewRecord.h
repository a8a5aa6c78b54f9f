#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "ByteReader.h"

// The CodeView debug record that an image's or a DBG file's debug directory
// points at. It either names a PDB (RSDS: GUID and age, PDB 7.00; NB10:
// 32-bit signature and age, PDB 2.00) or is the CodeView symbol data itself
// (NB09, NB11), whose subsection directory is checked to lie inside the record.
class CCodeViewRecord
{
public:
    enum Kind
    {
        None,
        Rsds,
        Nb10,
        Nb09,
        Nb11
    };

    CCodeViewRecord();

    // Parses a record that fills the whole buffer. On failure the object is
    // left empty (kind None) and false is returned.
    bool Parse(const uint8_t* data, size_t size);
    bool Parse(const CByteReader& record);

    Kind GetKind() const { return m_kind; }
    // True for NB10 and RSDS, which refer to a separate PDB file.
    bool RefersToPdb() const { return m_kind == Rsds || m_kind == Nb10; }
    // The GUID as its 16 bytes are stored (Data1..Data3 little-endian); zero unless RSDS.
    const std::array<uint8_t, 16>& GetGuid() const { return m_guid; }
    // The PDB 2.00 signature; zero unless NB10.
    uint32_t GetSignature() const { return m_signature; }
    uint32_t GetAge() const { return m_age; }
    // The PDB path as recorded, bytes unchanged; empty for NB09 and NB11.
    const std::string& GetPdbName() const { return m_pdbName; }

    // Longest PDB path accepted, in bytes before the terminator.
    static constexpr size_t kMaxPdbName = 1024;

private:
    void Clear();
    bool ParseRsds(CByteReader& reader);
    bool ParseNb10(CByteReader& reader);
    bool ParseEmbedded(const CByteReader& record);

    Kind m_kind;
    std::array<uint8_t, 16> m_guid;
    uint32_t m_signature;
    uint32_t m_age;
    std::string m_pdbName;
};
