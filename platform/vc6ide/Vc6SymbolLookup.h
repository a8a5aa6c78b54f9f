#pragma once
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Looks for an image's symbols the way the Visual C++ 6.0 debugger does. It
// reads CodeView in the image itself (NB09, NB11), PDB 2.00 files named by
// an NB10 record, and the DBG file of a stripped image (with the PDB 2.00
// that the DBG's NB10 record may name). A PDB is looked for at the path the
// record gives, then in the image's directory, then in each directory of the
// IDE's "Pdb Dirs"; a DBG in the image's directory and then in "Pdb Dirs". A
// file counts only when its signature and age (a DBG: the image's time stamp
// and size) match. A PDB 7.00 (RSDS record) never counts: the debugger cannot
// read that format.
class CVc6SymbolLookup
{
public:
    explicit CVc6SymbolLookup(const std::vector<std::string>& pdbDirs) : m_pdbDirs(pdbDirs) {}

    // The IDE's "Pdb Dirs" list, split at ";", empty entries dropped.
    static std::vector<std::string> ReadPdbDirs();

    // The file whose symbols the debugger uses for the image at imagePath
    // (its bytes given): the image itself for embedded CodeView, else the
    // PDB or DBG found. Empty when there are none that match.
    std::string Find(const std::string& imagePath, const uint8_t* image, size_t size) const;

private:
    std::string FindPdb(const std::string& recordedPath, const std::vector<std::string>& nearDirs, uint32_t signature,
                        uint32_t age) const;
    std::string FindDbg(const std::string& name, const std::string& imageDir, uint32_t timeDateStamp,
                        uint32_t sizeOfImage, std::string& pdb) const;

    std::vector<std::string> m_pdbDirs;
};
