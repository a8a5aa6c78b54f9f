#pragma once

#include <string>
#include <vector>

#include "FormatBuilders.h"
#include "TestSupport.h"

// Writes a small image named name into dir: PE32 or PE32+, importing
// imports, its PDB named pdbName (NB10, signature signature) when given.
inline std::string WriteImage(const CTempDir& dir, const std::string& name, const std::vector<std::string>& imports,
                              const std::string& pdbName = "", uint32_t signature = 1, bool pe32Plus = false)
{
    PeSpec spec;
    spec.magic = pe32Plus ? 0x20b : 0x10b;
    spec.imports = imports;
    if (!pdbName.empty())
        spec.debug.push_back(DebugEntrySpec{2, MakeNb10(signature, 1, pdbName)});
    const Bytes bytes = BuildPe(spec).bytes;
    const std::string path = dir.File(name);
    WriteFileBytes(path, std::string(bytes.begin(), bytes.end()));
    return path;
}
