#include "SymbolFileFinder.h"

#include <array>
#include <cstring>

#include "FilePath.h"
#include "MappedFile.h"
#include "ModuleLoader.h"
#include "PeImage.h"
#include "SymbolStoreKey.h"

namespace
{
// Images are mapped whole; none is larger than this.
const uint64_t kMaxImageBytes = 0x10000000ull;

bool IsExtension(const std::string& name, const char* extension)
{
    return lstrcmpiA(CFilePath::ExtensionNoDot(name).c_str(), extension) == 0;
}
} // namespace

CSymbolSearch::Verifier CSymbolFileFinder::ImageVerifier(uint32_t timeDateStamp, uint32_t sizeOfImage)
{
    return [timeDateStamp, sizeOfImage](const std::string& candidate)
    {
        CSymbolSearch::Verdict verdict;
        CMappedFile file;
        CPeImage image;
        if (!file.OpenByName(candidate, kMaxImageBytes) || !image.Parse(file.Data(), file.Size()))
            return verdict;
        verdict.kind = CSymbolSearch::Verdict::Mismatch;
        if (image.GetTimeDateStamp() != timeDateStamp)
            verdict.reason = "time stamp";
        else if (image.GetSizeOfImage() != sizeOfImage)
            verdict.reason = "image size";
        else
            verdict.kind = CSymbolSearch::Verdict::Match;
        return verdict;
    };
}

bool CSymbolFileFinder::MakeRequest(PCSTR fileName, PVOID id, DWORD two, DWORD flags,
                                    PFINDFILEINPATHCALLBACK callback, PVOID context, CSymbolSearch::Request& request)
{
    request = CSymbolSearch::Request();
    if (fileName == nullptr || !CFilePath::IsSafeFileName(fileName))
        return false;
    request.fileName = fileName;
    const bool pdb = IsExtension(request.fileName, "pdb");

    CSymbolSearch::Verifier verify;
    if ((flags & SSRVOPT_GUIDPTR) != 0)
    {
        if (id == nullptr || !pdb)
            return false;
        std::array<uint8_t, 16> guid;
        memcpy(guid.data(), id, guid.size());
        request.storeKey = CSymbolStoreKey::ForGuid(guid, two);
        verify = CModuleLoader::PdbVerifier(true, guid, 0, two);
    }
    else
    {
        // SSRVOPT_DWORDPTR: id points at the value; otherwise (SSRVOPT_DWORD,
        // the platform's default) id is the value itself.
        DWORD value = 0;
        if ((flags & SSRVOPT_DWORDPTR) != 0)
        {
            if (id == nullptr)
                return false;
            memcpy(&value, id, sizeof(value));
        }
        else
        {
            value = static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(id));
        }
        if (pdb)
        {
            request.storeKey = CSymbolStoreKey::ForSignature(value, two);
            verify = CModuleLoader::PdbVerifier(false, {}, value, two);
        }
        else
        {
            request.storeKey = CSymbolStoreKey::ForImage(value, two);
            verify = IsExtension(request.fileName, "dbg") ? CModuleLoader::DbgVerifier(value, two)
                                                           : ImageVerifier(value, two);
        }
    }

    // The caller's callback answers TRUE to have the search go on past a match.
    request.verify = [verify, callback, context](const std::string& candidate)
    {
        CSymbolSearch::Verdict verdict = verify(candidate);
        if (verdict.kind == CSymbolSearch::Verdict::Match && callback != nullptr && callback(candidate.c_str(), context))
        {
            verdict.kind = CSymbolSearch::Verdict::Mismatch;
            verdict.reason = "refused by the caller";
        }
        return verdict;
    };
    return true;
}
