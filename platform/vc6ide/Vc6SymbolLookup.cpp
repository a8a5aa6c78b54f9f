#include "Vc6SymbolLookup.h"

#include <algorithm>

#include "DbgFile.h"
#include "PdbFile.h"
#include "PeImage.h"
#include "ScopedHandle.h"
#include "ScopedRegKey.h"

namespace
{

const char kDirectoriesKey[] =
    "SOFTWARE\\Microsoft\\DevStudio\\6.0\\Build System\\Components\\Platforms\\Win32 (x86)\\Directories";
// Symbol files larger than this are not read.
const DWORD kMaxSymbolFile = 256 * 1024 * 1024;

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& data)
{
    CScopedHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsValid())
        return false;
    DWORD high = 0;
    const DWORD size = GetFileSize(file.Get(), &high);
    if (size == INVALID_FILE_SIZE || high != 0 || size > kMaxSymbolFile)
        return false;
    data.resize(size);
    DWORD read = 0;
    return size == 0 || (ReadFile(file.Get(), data.data(), size, &read, nullptr) && read == size);
}

// The directory part of a path, with its trailing backslash; empty when it has none.
std::string DirectoryOf(const std::string& path)
{
    const size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string FileNameOf(const std::string& path)
{
    const size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string Join(const std::string& dir, const std::string& name)
{
    if (dir.empty() || dir.back() == '\\' || dir.back() == '/')
        return dir + name;
    return dir + "\\" + name;
}

bool IsMatchingPdb(const std::string& path, uint32_t signature, uint32_t age)
{
    std::vector<uint8_t> data;
    CPdbFile pdb;
    return ReadWholeFile(path, data) && pdb.Parse(data.data(), data.size()) && pdb.GetMsfVersion() == 2 &&
           pdb.GetSignature() == signature && pdb.GetAge() == age;
}

} // namespace

std::vector<std::string> CVc6SymbolLookup::ReadPdbDirs()
{
    std::vector<std::string> dirs;
    CScopedRegKey key;
    if (key.Open(HKEY_CURRENT_USER, kDirectoriesKey, KEY_QUERY_VALUE) != ERROR_SUCCESS)
        return dirs;
    DWORD size = 0;
    if (RegQueryValueExA(key.Get(), "Pdb Dirs", nullptr, nullptr, nullptr, &size) != ERROR_SUCCESS || size == 0)
        return dirs;
    std::string text(size, '\0');
    if (RegQueryValueExA(key.Get(), "Pdb Dirs", nullptr, nullptr, reinterpret_cast<BYTE*>(&text[0]), &size) !=
        ERROR_SUCCESS)
        return dirs;
    text.resize(std::min<size_t>(size, text.find('\0')));
    size_t start = 0;
    while (start <= text.size())
    {
        size_t end = text.find(';', start);
        if (end == std::string::npos)
            end = text.size();
        if (end > start)
            dirs.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return dirs;
}

std::string CVc6SymbolLookup::Find(const std::string& imagePath, const uint8_t* image, size_t size) const
{
    CPeImage pe;
    if (!pe.Parse(image, size))
        return std::string();
    const std::string imageDir = DirectoryOf(imagePath);
    const CCodeViewRecord& codeView = pe.GetCodeView();
    switch (codeView.GetKind())
    {
    case CCodeViewRecord::Nb09:
    case CCodeViewRecord::Nb11:
        return imagePath;
    case CCodeViewRecord::Nb10:
        return FindPdb(codeView.GetPdbName(), {imageDir}, codeView.GetSignature(), codeView.GetAge());
    case CCodeViewRecord::Rsds:
        return std::string();
    default:
        break;
    }
    if (!pe.IsDebugStripped())
        return std::string();
    std::string dbgName = pe.GetMiscDbgName();
    if (dbgName.empty())
    {
        const std::string name = FileNameOf(imagePath);
        dbgName = name.substr(0, name.find_last_of('.')) + ".dbg";
    }
    std::string pdb;
    const std::string dbg = FindDbg(FileNameOf(dbgName), imageDir, pe.GetTimeDateStamp(), pe.GetSizeOfImage(), pdb);
    return pdb.empty() ? dbg : pdb;
}

std::string CVc6SymbolLookup::FindPdb(const std::string& recordedPath, const std::vector<std::string>& nearDirs,
                                      uint32_t signature, uint32_t age) const
{
    const std::string name = FileNameOf(recordedPath);
    if (name.empty())
        return std::string();
    std::vector<std::string> candidates = {recordedPath};
    for (const std::string& dir : nearDirs)
        candidates.push_back(Join(dir, name));
    for (const std::string& dir : m_pdbDirs)
        candidates.push_back(Join(dir, name));
    for (const std::string& candidate : candidates)
    {
        if (IsMatchingPdb(candidate, signature, age))
            return candidate;
    }
    return std::string();
}

std::string CVc6SymbolLookup::FindDbg(const std::string& name, const std::string& imageDir, uint32_t timeDateStamp,
                                      uint32_t sizeOfImage, std::string& pdb) const
{
    std::vector<std::string> candidates = {Join(imageDir, name)};
    for (const std::string& dir : m_pdbDirs)
        candidates.push_back(Join(dir, name));
    for (const std::string& candidate : candidates)
    {
        std::vector<uint8_t> data;
        CDbgFile dbg;
        if (!ReadWholeFile(candidate, data) || !dbg.Parse(data.data(), data.size()) ||
            dbg.GetTimeDateStamp() != timeDateStamp || dbg.GetSizeOfImage() != sizeOfImage)
            continue;
        const CCodeViewRecord& codeView = dbg.GetCodeView();
        if (codeView.GetKind() == CCodeViewRecord::Nb10)
        {
            // The DBG's symbols are in a PDB, which must be found too.
            pdb = FindPdb(codeView.GetPdbName(), {DirectoryOf(candidate), imageDir}, codeView.GetSignature(),
                          codeView.GetAge());
            if (pdb.empty())
                continue;
        }
        else if (codeView.GetKind() == CCodeViewRecord::Rsds)
            continue;
        return candidate;
    }
    return std::string();
}
