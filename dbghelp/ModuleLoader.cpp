#include "ModuleLoader.h"

#include <cstdio>
#include <cstring>

#include "DbgFile.h"
#include "FilePath.h"
#include "MappedFile.h"
#include "PdbFile.h"
#include "SymbolStoreKey.h"

namespace
{
const uint64_t kMaxSymbolFileSize = CModuleLoader::kMaxSymbolFileBytes;

// The CodeView signatures as IMAGEHLP_MODULE64::CVSig holds them.
DWORD CodeViewSignature(CCodeViewRecord::Kind kind)
{
    switch (kind)
    {
    case CCodeViewRecord::Rsds:
        return 0x53445352; // "RSDS"
    case CCodeViewRecord::Nb10:
        return 0x3031424E; // "NB10"
    case CCodeViewRecord::Nb09:
        return 0x3930424E; // "NB09"
    case CCodeViewRecord::Nb11:
        return 0x3131424E; // "NB11"
    default:
        return 0;
    }
}

void CopyText(char* target, size_t capacity, const std::string& text)
{
    const size_t length = text.size() < capacity - 1 ? text.size() : capacity - 1;
    memcpy(target, text.data(), length);
    target[length] = '\0';
}

// The matching file, else (without EXACT) the mismatched one marked unmatched.
bool ChooseFile(const CSymbolSearch::Result& result, bool exact, std::string& path, bool& unmatched)
{
    unmatched = false;
    if (!result.matched.empty())
    {
        path = result.matched;
        return true;
    }
    if (!exact && !result.mismatched.empty())
    {
        path = result.mismatched;
        unmatched = true;
        return true;
    }
    return false;
}

std::string ToText(uint32_t value)
{
    char text[16];
    snprintf(text, sizeof(text), "%lu", static_cast<unsigned long>(value));
    return text;
}

std::string UnreadableReason(DWORD error)
{
    switch (error)
    {
    case ERROR_FILE_TOO_LARGE:
        return "larger than any symbol file this library opens";
    case ERROR_HANDLE_EOF:
        return "the file is empty";
    default:
        return "cannot be opened (error " + ToText(error) + ")";
    }
}
} // namespace

CModuleLoader::CModuleLoader(const CSymbolSearch::Settings& settings)
    : m_search(settings), m_diagnostic(settings.diagnostic)
{
}

void CModuleLoader::Emit(const std::string& line)
{
    if (m_diagnostic)
        m_diagnostic(line);
}

bool CModuleLoader::ParseImage(const uint8_t* data, size_t size)
{
    return m_image.Parse(data, size) && m_image.GetSizeOfImage() != 0;
}

CSymbolSearch::Verifier CModuleLoader::PdbVerifier(bool guidSigned, const std::array<uint8_t, 16>& guid,
                                                   uint32_t signature, uint32_t age)
{
    return [guidSigned, guid, signature, age](const std::string& candidate)
    {
        CSymbolSearch::Verdict verdict;
        CMappedFile file;
        CPdbFile pdb;
        if (!file.OpenByName(candidate, kMaxSymbolFileSize))
        {
            verdict.reason = UnreadableReason(file.GetError());
            return verdict;
        }
        if (!pdb.Parse(file.Data(), file.Size()))
        {
            verdict.reason = pdb.GetError();
            return verdict;
        }
        verdict.kind = CSymbolSearch::Verdict::Mismatch;
        if (guidSigned && (!pdb.HasGuid() || pdb.GetGuid() != guid))
            verdict.reason = "GUID";
        else if (!guidSigned && pdb.GetSignature() != signature)
            verdict.reason = "signature";
        else if (pdb.GetMatchingAge() != age)
            verdict.reason = "age (" + ToText(pdb.GetMatchingAge()) + ", image " + ToText(age) + ")";
        else
            verdict.kind = CSymbolSearch::Verdict::Match;
        return verdict;
    };
}

CSymbolSearch::Verifier CModuleLoader::DbgVerifier(uint32_t timeDateStamp, uint32_t sizeOfImage)
{
    return [timeDateStamp, sizeOfImage](const std::string& candidate)
    {
        CSymbolSearch::Verdict verdict;
        CMappedFile file;
        CDbgFile dbg;
        if (!file.OpenByName(candidate, kMaxSymbolFileSize))
        {
            verdict.reason = UnreadableReason(file.GetError());
            return verdict;
        }
        if (!dbg.Parse(file.Data(), file.Size()))
            return verdict;
        verdict.kind = CSymbolSearch::Verdict::Mismatch;
        if (dbg.GetTimeDateStamp() != timeDateStamp)
            verdict.reason = "time stamp";
        else if (dbg.GetSizeOfImage() != sizeOfImage)
            verdict.reason = "image size";
        else
            verdict.kind = CSymbolSearch::Verdict::Match;
        return verdict;
    };
}

bool CModuleLoader::FindPdb(const CCodeViewRecord& record, const std::string& extension, bool exact, std::string& path,
                            bool& unmatched)
{
    CSymbolSearch::Request request;
    request.fileName = CFilePath::FileName(record.GetPdbName());
    request.storeKey = record.GetKind() == CCodeViewRecord::Rsds
                           ? CSymbolStoreKey::ForGuid(record.GetGuid(), record.GetAge())
                           : CSymbolStoreKey::ForSignature(record.GetSignature(), record.GetAge());
    request.imageExtension = extension;
    request.recordedPath = record.GetPdbName();
    request.verify = PdbVerifier(record.GetKind() == CCodeViewRecord::Rsds, record.GetGuid(), record.GetSignature(),
                                 record.GetAge());
    return ChooseFile(m_search.Find(request), exact, path, unmatched);
}

bool CModuleLoader::FindDbg(const std::string& imageName, const std::string& extension, bool exact, std::string& path,
                            bool& unmatched, CCodeViewRecord& codeView, bool& hasCoff)
{
    CSymbolSearch::Request request;
    request.fileName = CFilePath::FileName(m_image.GetMiscDbgName());
    if (request.fileName.empty())
    {
        if (imageName.empty())
            return false;
        request.fileName = CFilePath::BaseName(imageName) + ".dbg";
    }
    request.storeKey = CSymbolStoreKey::ForImage(m_image.GetTimeDateStamp(), m_image.GetSizeOfImage());
    request.imageExtension = extension;
    request.recordedPath = m_image.GetMiscDbgName();
    request.verify = DbgVerifier(m_image.GetTimeDateStamp(), m_image.GetSizeOfImage());
    if (!ChooseFile(m_search.Find(request), exact, path, unmatched))
        return false;

    // Read again for its contents: the file was checked, but may have changed.
    CMappedFile file;
    CDbgFile dbg;
    if (!file.OpenByName(path, kMaxSymbolFileSize) || !dbg.Parse(file.Data(), file.Size()))
    {
        Emit("DBGHELP: " + path + " - unreadable or corrupt\n");
        return false;
    }
    codeView = dbg.GetCodeView();
    hasCoff = dbg.HasCoff();
    return true;
}

void CModuleLoader::SetPdbIdentity(const CCodeViewRecord& record, IMAGEHLP_MODULE64& module)
{
    module.PdbAge = record.GetAge();
    if (record.GetKind() == CCodeViewRecord::Rsds)
    {
        memcpy(&module.PdbSig70, record.GetGuid().data(), sizeof(module.PdbSig70));
        module.PdbSig = 0;
    }
    else
    {
        // As the platform reports a PDB 2.00: the signature in PdbSig and in
        // the first field of the GUID, whose other bytes stay zero.
        module.PdbSig = record.GetSignature();
        memset(&module.PdbSig70, 0, sizeof(module.PdbSig70));
        module.PdbSig70.Data1 = record.GetSignature();
    }
}

void CModuleLoader::Resolve(const std::string& imageName, const std::string& moduleName, DWORD64 base, DWORD size,
                            DWORD options, IMAGEHLP_MODULE64& module)
{
    memset(&module, 0, sizeof(module));
    module.SizeOfStruct = sizeof(module);
    module.BaseOfImage = base;
    module.ImageSize = size != 0 ? size : m_image.GetSizeOfImage();
    module.TimeDateStamp = m_image.GetTimeDateStamp();
    module.CheckSum = m_image.GetCheckSum();
    module.MachineType = m_image.GetMachine();
    CopyText(module.ModuleName, sizeof(module.ModuleName), moduleName);
    CopyText(module.ImageName, sizeof(module.ImageName), imageName);
    module.SymType = SymNone;

    const bool exact = (options & SYMOPT_EXACT_SYMBOLS) != 0;
    std::string extension = CFilePath::ExtensionNoDot(imageName);
    if (extension.empty())
        extension = (m_image.GetCharacteristics() & IMAGE_FILE_DLL) != 0 ? "dll" : "exe";
    const std::string& ownName = imageName;
    std::string loadedFrom;

    // A stripped image's debug data lives in its DBG file.
    if (m_image.IsDebugStripped() || !m_image.GetMiscDbgName().empty())
    {
        std::string dbgPath;
        bool dbgUnmatched = false;
        CCodeViewRecord codeView;
        bool hasCoff = false;
        if (FindDbg(imageName, extension, exact, dbgPath, dbgUnmatched, codeView, hasCoff))
        {
            std::string pdbPath;
            bool pdbUnmatched = false;
            if (codeView.RefersToPdb() && FindPdb(codeView, extension, exact, pdbPath, pdbUnmatched))
            {
                module.SymType = SymPdb;
                CopyText(module.LoadedPdbName, sizeof(module.LoadedPdbName), pdbPath);
                module.PdbUnmatched = pdbUnmatched;
                SetPdbIdentity(codeView, module);
                loadedFrom = pdbPath;
            }
            else if (codeView.GetKind() == CCodeViewRecord::Nb09 || codeView.GetKind() == CCodeViewRecord::Nb11)
            {
                module.SymType = SymCv;
                loadedFrom = dbgPath;
            }
            else if (hasCoff)
            {
                module.SymType = SymCoff;
                loadedFrom = dbgPath;
            }
            if (module.SymType != SymNone)
            {
                CopyText(module.LoadedImageName, sizeof(module.LoadedImageName), dbgPath);
                module.DbgUnmatched = dbgUnmatched;
                module.CVSig = CodeViewSignature(codeView.GetKind());
                CopyText(module.CVData, sizeof(module.CVData), codeView.GetPdbName());
            }
        }
    }

    const CCodeViewRecord& ownCodeView = m_image.GetCodeView();
    if (module.SymType == SymNone && ownCodeView.RefersToPdb())
    {
        std::string pdbPath;
        bool pdbUnmatched = false;
        if (FindPdb(ownCodeView, extension, exact, pdbPath, pdbUnmatched))
        {
            module.SymType = SymPdb;
            CopyText(module.LoadedPdbName, sizeof(module.LoadedPdbName), pdbPath);
            module.PdbUnmatched = pdbUnmatched;
            SetPdbIdentity(ownCodeView, module);
            loadedFrom = pdbPath;
        }
    }
    if (module.SymType == SymNone &&
        (ownCodeView.GetKind() == CCodeViewRecord::Nb09 || ownCodeView.GetKind() == CCodeViewRecord::Nb11))
        module.SymType = SymCv;
    if (module.SymType == SymNone && m_image.HasCoffSymbols())
        module.SymType = SymCoff;
    if (module.SymType == SymNone && !exact && m_image.HasExports())
        module.SymType = SymExport;

    if (module.LoadedImageName[0] == '\0' && module.SymType != SymNone)
    {
        CopyText(module.LoadedImageName, sizeof(module.LoadedImageName), ownName);
        if (loadedFrom.empty())
            loadedFrom = ownName;
    }
    if (module.SymType == SymPdb && module.LoadedImageName[0] != '\0' && module.CVSig == 0)
    {
        module.CVSig = CodeViewSignature(ownCodeView.GetKind());
        CopyText(module.CVData, sizeof(module.CVData), ownCodeView.GetPdbName());
    }
    if (module.SymType == SymCv && module.CVSig == 0)
        module.CVSig = CodeViewSignature(ownCodeView.GetKind());
    module.LineNumbers = module.SymType == SymPdb || module.SymType == SymCv;
    module.GlobalSymbols = module.SymType != SymNone;
    module.TypeInfo = module.SymType == SymPdb || module.SymType == SymCv;
    module.Publics = module.SymType == SymPdb;

    const char* kind = "no symbols";
    switch (module.SymType)
    {
    case SymPdb:
        kind = "PDB symbols";
        break;
    case SymCv:
        kind = "CodeView symbols";
        break;
    case SymCoff:
        kind = "COFF symbols";
        break;
    case SymExport:
        kind = "export symbols";
        break;
    default:
        break;
    }
    std::string line = "DBGHELP: " + moduleName + " - " + kind;
    if (module.SymType != SymNone && module.SymType != SymExport && !loadedFrom.empty())
        line += " loaded from " + loadedFrom;
    if (module.PdbUnmatched || module.DbgUnmatched)
        line += " (mismatched)";
    Emit(line + "\n");
}
