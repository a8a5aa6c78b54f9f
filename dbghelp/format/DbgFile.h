#pragma once

#include <cstddef>
#include <cstdint>

#include "ByteReader.h"
#include "CodeViewRecord.h"

// A separate debug (DBG) file split from a stripped image: its identity
// (TimeDateStamp and SizeOfImage, which must equal the image's), whether it
// holds COFF symbols, and its CodeView record, which is either CodeView data
// in the DBG itself (NB09, NB11) or a reference to a PDB (NB10, RSDS).
class CDbgFile
{
public:
    CDbgFile();

    // Parses the whole file in data. On failure returns false and leaves the object empty.
    bool Parse(const uint8_t* data, size_t size);

    uint32_t GetTimeDateStamp() const { return m_timeDateStamp; }
    uint32_t GetSizeOfImage() const { return m_sizeOfImage; }
    bool HasCoff() const { return m_hasCoff; }
    bool HasCodeView() const { return m_codeView.GetKind() != CCodeViewRecord::None; }
    const CCodeViewRecord& GetCodeView() const { return m_codeView; }

private:
    void Clear();
    bool ReadDebugDirectory(const CByteReader& file, const CByteReader& directory);

    uint32_t m_timeDateStamp;
    uint32_t m_sizeOfImage;
    bool m_hasCoff;
    CCodeViewRecord m_codeView;
};
