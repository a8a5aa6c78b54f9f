#pragma once
#include <windows.h>
#include <dbghelp.h>

#include <string>

#include "SymbolSearch.h"

// SymFindFileInPath's description of a file (its name, an identity given as
// a GUID or a 32-bit value with a second value, and flags saying which)
// turned into one search of the symbol path: the store key, and the check
// that the file found has that identity. A PDB is known by GUID or signature
// and age, anything else (a DBG file, an image) by TimeDateStamp and
// SizeOfImage. The caller's callback, when there is one, sees each matching
// file and may ask for the search to go on.
class CSymbolFileFinder
{
public:
    // False for a name that is not a plain file name, a missing identity, or
    // a GUID given for a file that is no PDB.
    static bool MakeRequest(PCSTR fileName, PVOID id, DWORD two, DWORD flags, PFINDFILEINPATHCALLBACK callback,
                            PVOID context, CSymbolSearch::Request& request);

    // The check of a candidate image: TimeDateStamp and SizeOfImage.
    static CSymbolSearch::Verifier ImageVerifier(uint32_t timeDateStamp, uint32_t sizeOfImage);
};
