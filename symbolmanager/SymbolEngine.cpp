#include "SymbolEngine.h"

#include <cstddef>
#include <mutex>

#include "FileHandleUtils.h"
#include "PathSplit.h"
#include "ScopedHandle.h"
#include "Trace.h"
#include "TraceScope.h"

namespace
{

// The module record as far as the version that ends with the SourceIndexed
// and Publics flags; newer headers append fields the engine does not read.
constexpr DWORD kModuleRecordSize = offsetof(IMAGEHLP_MODULE64, MachineType);
static_assert(kModuleRecordSize == 1672, "IMAGEHLP_MODULE64 up to Publics is 1672 bytes");

bool IsUsableHandle(HANDLE handle)
{
    return handle != nullptr && handle != INVALID_HANDLE_VALUE;
}

bool IsAllZero(const GUID& guid)
{
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(&guid);
    for (size_t i = 0; i < sizeof(guid); ++i)
    {
        if (bytes[i] != 0)
            return false;
    }
    return true;
}

// A name field of the module record: a fixed array that the library fills
// but need not terminate when the name takes all of it.
template <size_t Size>
std::string RecordText(const CHAR (&Field)[Size])
{
    size_t length = 0;
    while (length < Size && Field[length] != '\0')
        ++length;
    return std::string(Field, length);
}

// Both request forms need a symbol path and a destination.
bool CheckRequestPaths(const std::string& SymPath, const std::string& DestPath)
{
    if (SymPath.empty())
    {
        TraceMessage(TRACE_ERROR, 0, "%s", "Symbol path is empty.\n");
        return false;
    }
    if (DestPath.empty())
    {
        TraceMessage(TRACE_ERROR, 0, "%s", "Destination path is empty.\n");
        return false;
    }
    return true;
}

} // namespace

CSymbolEngine::CSymbolEngine() : m_initialized(false), m_process(GetCurrentProcess())
{
    CTraceScope scope("CSymbolEngine::CSymbolEngine()\n", 0);
}

CSymbolEngine::~CSymbolEngine()
{
    CTraceScope scope("CSymbolEngine::~CSymbolEngine()\n", 0);
    LogMessages.clear();
}

bool CSymbolEngine::Init()
{
    CTraceScope scope("CSymbolEngine::Init()\n", 0);
    std::lock_guard<CCriticalSection> lock(m_lock);
    TraceMessage(TRACE_INFO, 0, "%s", "Instance locked.\n");

    if (m_initialized)
    {
        TraceMessage(TRACE_WARNING, 0, "%s", "Object is already initialized.\n");
        return true;
    }
    if (!SymInitialize(m_process, nullptr, FALSE))
    {
        TraceMessage(TRACE_ERROR, 0, "SymInitialize() failed. Error: %u\n", static_cast<unsigned>(GetLastError()));
        return false;
    }
    if (!SymRegisterCallback64(m_process, DebugInfoCallback, static_cast<ULONG64>(reinterpret_cast<ULONG_PTR>(this))))
    {
        TraceMessage(TRACE_ERROR, 0, "SymRegisterCallback64() failed. Error: %u\n",
                     static_cast<unsigned>(GetLastError()));
        return false;
    }
    m_initialized = true;
    TraceMessage(TRACE_INFO, 0, "%s", "Complete.\n");
    return true;
}

void CSymbolEngine::Close()
{
    CTraceScope scope("CSymbolEngine::Close()\n", 0);
    std::lock_guard<CCriticalSection> lock(m_lock);
    TraceMessage(TRACE_INFO, 0, "%s", "Instance locked.\n");

    if (!m_initialized)
    {
        TraceMessage(TRACE_INFO, 0, "%s", "Object is not initialized.\n");
        return;
    }
    if (!SymCleanup(m_process))
        TraceMessage(TRACE_ERROR, 0, "SymCleanup() failed. Error: %u\n", static_cast<unsigned>(GetLastError()));
    m_initialized = false;
    TraceMessage(TRACE_INFO, 0, "%s", "Complete.\n");
}

bool CSymbolEngine::GetSymbols(const std::string& FileName, const std::string& SymPath, const std::string& DestPath,
                               bool UseFileExt, bool& Found, std::vector<std::string>& LogLines)
{
    CTraceScope scope("CSymbolEngine::GetSymbols()\n", 0);
    TraceMessage(TRACE_INFO, 0, "FileName: %s\n", FileName.c_str());
    TraceMessage(TRACE_INFO, 0, "SymPath: %s\n", SymPath.c_str());
    TraceMessage(TRACE_INFO, 0, "DestPath: %s\n", DestPath.c_str());
    TraceMessage(TRACE_INFO, 0, "UseFileExt: %s\n", BoolText(UseFileExt));

    LogLines.clear();
    Found = false;
    if (FileName.empty())
    {
        TraceMessage(TRACE_ERROR, 0, "%s", "File name is empty.\n");
        return false;
    }
    if (!CheckRequestPaths(SymPath, DestPath))
        return false;

    std::lock_guard<CCriticalSection> lock(m_lock);
    if (!IsReady())
        return false;

    LogMessages.clear();
    LogMessages.push_back("QUILLM: File: " + FileName + "\n");
    if (!RunRequest(nullptr, FileName, SymPath, DestPath, UseFileExt, Found))
        return false;

    HandOverLog(LogLines);
    TraceMessage(TRACE_INFO, 0, "%s", "Complete.\n");
    return true;
}

bool CSymbolEngine::GetSymbols(DWORD FileHandle, DWORD ProcessId, const std::string& SymPath,
                               const std::string& DestPath, bool UseFileExt, bool& Found,
                               std::vector<std::string>& LogLines)
{
    CTraceScope scope("CSymbolEngine::GetSymbols()\n", 0);
    TraceMessage(TRACE_INFO, 0, "FileHandle: %x\n", static_cast<unsigned>(FileHandle));
    TraceMessage(TRACE_INFO, 0, "ProcessId: %u\n", static_cast<unsigned>(ProcessId));
    TraceMessage(TRACE_INFO, 0, "SymPath: %s\n", SymPath.c_str());
    TraceMessage(TRACE_INFO, 0, "DestPath: %s\n", DestPath.c_str());
    TraceMessage(TRACE_INFO, 0, "UseFileExt: %s\n", BoolText(UseFileExt));

    LogLines.clear();
    Found = false;
    if (FileHandle == 0 || FileHandle == 0xFFFFFFFFu)
    {
        TraceMessage(TRACE_ERROR, 0, "%s", "File handle is invalid.\n");
        return false;
    }
    if (!CheckRequestPaths(SymPath, DestPath))
        return false;

    std::lock_guard<CCriticalSection> lock(m_lock);
    if (!IsReady())
        return false;

    LogMessages.clear();
    TraceMessage(TRACE_INFO, 0, "%s", "Getting the file handle...\n");
    HANDLE duplicate = nullptr;
    if (!DuplicateHandleFromProcess(ProcessId, FileHandle, duplicate))
    {
        TraceMessage(TRACE_ERROR, 0, "%s", "DuplicateHandleFromProcess() failed.\n");
        return false;
    }
    CScopedHandle localHandle(duplicate);

    TraceMessage(TRACE_INFO, 0, "File handle: %x\n", static_cast<unsigned>(reinterpret_cast<ULONG_PTR>(duplicate)));
    TraceMessage(TRACE_INFO, 0, "%s", "Getting the file name...\n");
    std::string fileName;
    if (!GetFileNameFromHandle(localHandle.Get(), fileName) || fileName.empty())
    {
        TraceMessage(TRACE_WARNING, 0, "%s", "GetFileNameFromHandle() failed.\n");
        fileName.clear();
    }
    LogMessages.push_back("QUILLM: File: " + fileName + "\n");

    const bool result = RunRequest(localHandle.Get(), fileName, SymPath, DestPath, UseFileExt, Found);

    if (!localHandle.Close())
        TraceMessage(TRACE_ERROR, 0, "CloseHandle() failed. Error: %u\n", static_cast<unsigned>(GetLastError()));

    HandOverLog(LogLines);
    TraceMessage(TRACE_INFO, 0, "%s", "Complete.\n");
    return result;
}

bool CSymbolEngine::IsReady()
{
    TraceMessage(TRACE_INFO, 0, "%s", "Instance locked.\n");
    if (!m_initialized)
    {
        TraceMessage(TRACE_ERROR, 0, "%s", "Object is not initialized.\n");
        return false;
    }
    return true;
}

void CSymbolEngine::HandOverLog(std::vector<std::string>& LogLines)
{
    TraceMessage(TRACE_INFO, 0, "Log messages: %u\n", static_cast<unsigned>(LogMessages.size()));
    LogLines = LogMessages;
}

bool CSymbolEngine::RunRequest(HANDLE FileHandle, const std::string& FileName, const std::string& SymPath,
                               const std::string& DestPath, bool UseFileExt, bool& Found)
{
    TraceMessage(TRACE_INFO, 0, "%s", "Checking symbols in the destination...\n");
    Append("QUILLM: Checking symbols...\n");
    if (!CheckSymbols(FileHandle, FileName, DestPath, Found))
    {
        TraceMessage(TRACE_ERROR, 0, "%s", "CheckSymbols() failed.\n");
        return false;
    }
    if (Found)
    {
        TraceMessage(TRACE_INFO, 0, "%s", "Symbols are already available.\n");
        Append("QUILLM: Symbols are already available.\n");
        return true;
    }

    TraceMessage(TRACE_INFO, 0, "%s", "Downloading symbols...\n");
    Append("QUILLM: Downloading symbols...\n");
    if (!DownloadSymbols(FileHandle, FileName, SymPath, DestPath, UseFileExt, Found))
    {
        TraceMessage(TRACE_ERROR, 0, "%s", "DownloadSymbols() failed.\n");
        return false;
    }
    TraceMessage(TRACE_INFO, 0, "Found: %s\n", BoolText(Found));
    return true;
}

DWORD CSymbolEngine::GetSymOptions()
{
    return SymGetOptions();
}

void CSymbolEngine::SetSymOptions(DWORD Options)
{
    SymSetOptions(Options);
}

void CSymbolEngine::AddSymOptions(DWORD Options)
{
    SymSetOptions(SymGetOptions() | Options);
}

void CSymbolEngine::OnEngineNotify(const std::string& Message)
{
    CTraceScope scope("CSymbolEngine::OnEngineNotify()\n", 0);
    TraceMessage(TRACE_INFO, 0, "Message: %s\n", Message.c_str());
    LogMessages.push_back(Message);
}

bool CSymbolEngine::CheckSymbols(HANDLE FileHandle, const std::string& FileName, const std::string& TestPath,
                                 bool& Found)
{
    CTraceScope scope("CSymbolEngine::CheckSymbols()\n", 0);
    TraceMessage(TRACE_INFO, 0, "FileHandle: %x\n", static_cast<unsigned>(reinterpret_cast<ULONG_PTR>(FileHandle)));
    TraceMessage(TRACE_INFO, 0, "FileName: %s\n", FileName.c_str());
    TraceMessage(TRACE_INFO, 0, "TestPath: %s\n", TestPath.c_str());

    Found = false;
    if (!IsUsableHandle(FileHandle) && FileName.empty())
    {
        TraceMessage(TRACE_ERROR, 0, "%s", "File is not specified.\n");
        return false;
    }
    if (TestPath.empty())
    {
        TraceMessage(TRACE_ERROR, 0, "%s", "Destination path is not specified.\n");
        return false;
    }
    if (!LoadAndCheck(FileHandle, FileName, TestPath, false, std::string(), false, Found))
        return false;
    TraceMessage(TRACE_INFO, 0, "%s", "Complete.\n");
    return true;
}

bool CSymbolEngine::DownloadSymbols(HANDLE FileHandle, const std::string& FileName, const std::string& SymPath,
                                    const std::string& DestPath, bool UseFileExt, bool& Found)
{
    CTraceScope scope("CSymbolEngine::DownloadSymbols()\n", 0);
    TraceMessage(TRACE_INFO, 0, "FileHandle: %x\n", static_cast<unsigned>(reinterpret_cast<ULONG_PTR>(FileHandle)));
    TraceMessage(TRACE_INFO, 0, "FileName: %s\n", FileName.c_str());
    TraceMessage(TRACE_INFO, 0, "SymPath: %s\n", SymPath.c_str());
    TraceMessage(TRACE_INFO, 0, "DestPath: %s\n", DestPath.c_str());
    TraceMessage(TRACE_INFO, 0, "UseFileExt: %s\n", BoolText(UseFileExt));

    Found = false;
    if (!IsUsableHandle(FileHandle) && FileName.empty())
    {
        TraceMessage(TRACE_ERROR, 0, "%s", "File is not specified.\n");
        return false;
    }
    if (SymPath.empty())
    {
        TraceMessage(TRACE_ERROR, 0, "%s", "Symbol path is not specified.\n");
        return false;
    }
    if (DestPath.empty())
    {
        TraceMessage(TRACE_ERROR, 0, "%s", "Destination path is not specified.\n");
        return false;
    }
    if (!LoadAndCheck(FileHandle, FileName, SymPath, true, DestPath, UseFileExt, Found))
        return false;
    TraceMessage(TRACE_INFO, 0, "%s", "Complete.\n");
    return true;
}

bool CSymbolEngine::LoadAndCheck(HANDLE FileHandle, const std::string& FileName, const std::string& SearchPath,
                                 bool Copy, const std::string& DestPath, bool UseFileExt, bool& Found)
{
    TraceMessage(TRACE_INFO, 0, "%s", "Setting symbol path...\n");
    if (!SymSetSearchPath(m_process, SearchPath.c_str()))
    {
        TraceMessage(TRACE_ERROR, 0, "SymSetSearchPath() failed. Error: %u\n", static_cast<unsigned>(GetLastError()));
        return false;
    }

    TraceMessage(TRACE_INFO, 0, "%s", "Loading symbols...\n");
    const DWORD64 base =
        SymLoadModule64(m_process, FileHandle, FileName.empty() ? nullptr : FileName.c_str(), nullptr, 0, 0);
    if (base == 0)
    {
        TraceMessage(TRACE_INFO, 0, "SymLoadModule64 failed. Error: %u\n", static_cast<unsigned>(GetLastError()));
        return true;
    }

    TraceMessage(TRACE_INFO, 0, "Symbols loaded. BaseAddr: %08I64x\n", base);
    if (CheckSymbolFormat(base))
    {
        TraceMessage(TRACE_INFO, 0, "%s", "Symbol format is correct.\n");
        if (Copy)
            CopySymbols(base, FileName, DestPath, UseFileExt, Found);
        else
            Found = true;
    }
    TraceMessage(TRACE_INFO, 0, "%s", "Unloading symbols...\n");
    if (!SymUnloadModule64(m_process, base))
        TraceMessage(TRACE_ERROR, 0, "SymUnloadModule64() failed. Error: %u\n", static_cast<unsigned>(GetLastError()));
    return true;
}

bool CSymbolEngine::QueryModule(DWORD64 ModBase, IMAGEHLP_MODULE64& Module)
{
    ZeroMemory(&Module, sizeof(Module));
    Module.SizeOfStruct = kModuleRecordSize;
    if (!SymGetModuleInfo64(m_process, ModBase, &Module))
    {
        TraceMessage(TRACE_ERROR, 0, "SymGetModuleInfo() failed. Error: %u\n", static_cast<unsigned>(GetLastError()));
        return false;
    }
    return true;
}

bool CSymbolEngine::CheckSymbolFormat(DWORD64 ModBase)
{
    CTraceScope scope("CSymbolEngine::CheckSymbolFormat()\n", 0);
    TraceMessage(TRACE_INFO, 0, "ModBase: %08I64x\n", ModBase);

    if (ModBase == 0)
    {
        TraceMessage(TRACE_ERROR, 0, "%s", "Module base is zero.\n");
        return false;
    }
    TraceMessage(TRACE_INFO, 0, "%s", "Getting symbol information...\n");
    IMAGEHLP_MODULE64 module;
    if (!QueryModule(ModBase, module))
        return false;

    if (module.DbgUnmatched)
    {
        TraceMessage(TRACE_ERROR, 0, "%s", "Symbols unmatched(DBG).\n");
        return false;
    }
    if (module.PdbUnmatched)
    {
        TraceMessage(TRACE_ERROR, 0, "%s", "Symbols unmatched(PDB).\n");
        return false;
    }
    switch (module.SymType)
    {
    case SymNone:
        TraceMessage(TRACE_INFO, 0, "%s", "No symbols loaded(SymNone).\n");
        return false;
    case SymExport:
        TraceMessage(TRACE_ERROR, 0, "%s", "Export symbols.\n");
        return false;
    case SymDeferred:
        TraceMessage(TRACE_ERROR, 0, "%s", "Deferred symbols.\n");
        return false;
    case SymPdb:
        // A PDB identified by a GUID rather than a 32-bit signature is a
        // newer format than the Visual C++ 6.0 debugger reads.
        if (module.PdbSig == 0 && !IsAllZero(module.PdbSig70))
            Append("QUILLM: Symbol format can be incompatible with Visual C++ 6.0.\n");
        break;
    default:
        break;
    }
    TraceMessage(TRACE_INFO, 0, "%s", "Symbol format is correct.\n");
    return true;
}

void CSymbolEngine::CopySymbols(DWORD64 ModBase, const std::string& ExeName, const std::string& DestPath,
                                bool UseFileExt, bool& Found)
{
    CTraceScope scope("CSymbolEngine::CopySymbols()\n", 0);
    TraceMessage(TRACE_INFO, 0, "ModBase: %08I64x\n", ModBase);
    TraceMessage(TRACE_INFO, 0, "ExeName: %s\n", ExeName.c_str());
    TraceMessage(TRACE_INFO, 0, "DestPath: %s\n", DestPath.c_str());
    TraceMessage(TRACE_INFO, 0, "UseFileExt: %s\n", BoolText(UseFileExt));

    Found = false;
    if (ModBase == 0)
    {
        TraceMessage(TRACE_ERROR, 0, "%s", "Module base is zero.\n");
        return;
    }
    if (DestPath.empty())
    {
        TraceMessage(TRACE_ERROR, 0, "%s", "Destination path is empty.\n");
        return;
    }
    IMAGEHLP_MODULE64 module;
    if (!QueryModule(ModBase, module))
        return;

    TraceMessage(TRACE_INFO, 0, "Symbol type: %d\n", static_cast<int>(module.SymType));
    switch (module.SymType)
    {
    case SymNone:
        TraceMessage(TRACE_INFO, 0, "%s", "No symbols loaded.\n");
        return;
    case SymCoff:
        TraceMessage(TRACE_INFO, 0, "%s", "COFF symbols loaded.\n");
        Found = true;
        break;
    case SymCv:
        TraceMessage(TRACE_INFO, 0, "%s", "CodeView symbols loaded.\n");
        Found = true;
        break;
    case SymPdb:
        TraceMessage(TRACE_INFO, 0, "%s", "PDB symbols loaded.\n");
        Found = true;
        break;
    case SymSym:
        TraceMessage(TRACE_INFO, 0, "%s", "SYM symbols loaded.\n");
        Found = true;
        break;
    case SymDia:
        TraceMessage(TRACE_INFO, 0, "%s", "DIA symbols loaded.\n");
        Found = true;
        break;
    case SymVirtual:
        TraceMessage(TRACE_INFO, 0, "%s", "Virtual symbols loaded.\n");
        Found = true;
        break;
    default:
        TraceMessage(TRACE_ERROR, 0, "%s", "Unexpected symbol format.\n");
        return;
    }

    const std::string loadedImageName = RecordText(module.LoadedImageName);
    if (module.SymType == SymPdb)
    {
        const std::string loadedPdbName = RecordText(module.LoadedPdbName);
        TraceMessage(TRACE_INFO, 0, "%s", "Symbol format: PDB\n");
        TraceMessage(TRACE_INFO, 0, "LoadedImageName: %s\n", loadedImageName.c_str());
        TraceMessage(TRACE_INFO, 0, "LoadedPdbName: %s\n", loadedPdbName.c_str());
        // A DBG file that refers to a PDB: the debugger needs both.
        const bool viaDbg = EqualNoCase(SplitPath(loadedImageName).ext, ".dbg");
        if (viaDbg)
            TraceMessage(TRACE_INFO, 0, "%s", "DBG file should be copied too.\n");
        TraceMessage(TRACE_INFO, 0, "%s", "Copying symbol files...\n");
        if (viaDbg)
            CopySymbolFile(ExeName, loadedImageName, DestPath, UseFileExt);
        CopySymbolFile(ExeName, loadedPdbName, DestPath, UseFileExt);
    }
    else if (module.SymType == SymCv)
    {
        TraceMessage(TRACE_INFO, 0, "%s", "Symbol format: DBG\n");
        // Equal names: the CodeView data sits in the image itself.
        if (!EqualNoCase(RecordText(module.ImageName), loadedImageName))
        {
            TraceMessage(TRACE_INFO, 0, "%s", "Copying symbol file...\n");
            CopySymbolFile(ExeName, loadedImageName, DestPath, UseFileExt);
        }
    }
    TraceMessage(TRACE_INFO, 0, "%s", "Complete.\n");
}

bool CSymbolEngine::CopySymbolFile(const std::string& ExeName, const std::string& FileName, const std::string& DestPath,
                                   bool UseFileExt)
{
    CTraceScope scope("CSymbolEngine::CopySymbolFile()\n", 0);
    TraceMessage(TRACE_INFO, 0, "ExeName: %s\n", ExeName.c_str());
    TraceMessage(TRACE_INFO, 0, "FileName: %s\n", FileName.c_str());
    TraceMessage(TRACE_INFO, 0, "DestPath: %s\n", DestPath.c_str());
    TraceMessage(TRACE_INFO, 0, "UseFileExt: %s\n", BoolText(UseFileExt));

    if (FileName.empty())
    {
        TraceMessage(TRACE_ERROR, 0, "%s", "Symbol file name is not specified.\n");
        Append("QUILLM: Cannot copy the file (invalid parameter).\n");
        return false;
    }
    if (DestPath.empty())
    {
        TraceMessage(TRACE_ERROR, 0, "%s", "Destination path is not specified.\n");
        Append("QUILLM: Cannot copy the file (invalid parameter).\n");
        return false;
    }

    std::string directory = DestPath;
    if (directory.back() != '\\')
        directory += '\\';
    if (UseFileExt)
    {
        if (ExeName.empty())
        {
            TraceMessage(TRACE_INFO, 0, "%s", "Exe name is not available. Cannot determine file extension.\n");
            Append("QUILLM: Cannot copy the file (invalid executable name).\n");
            return false;
        }
        const std::string ext = SplitPath(ExeName).ext;
        if (ext.size() > 1)
            directory += ext.substr(1) + "\\";
    }

    TraceMessage(TRACE_INFO, 0, "Dest directory: %s\n", directory.c_str());
    if (!MakeSureDirectoryPathExists(directory.c_str()))
    {
        TraceMessage(TRACE_ERROR, 0, "MakeSureDirectoryPathExists() failed. Error: %u\n",
                     static_cast<unsigned>(GetLastError()));
        Append("QUILLM: Destination path is inaccessible.\n");
        return false;
    }

    const PathParts source = SplitPath(FileName);
    const std::string target = directory + source.fname + source.ext;
    TraceMessage(TRACE_INFO, 0, "Dest filename: %s\n", target.c_str());
    if (EqualNoCase(target, FileName))
    {
        Append("QUILLM: File is up-to-date.\n");
        TraceMessage(TRACE_INFO, 0, "%s", "File is up-to-date in the destination.\n");
        return true;
    }

    TraceMessage(TRACE_INFO, 0, "%s", "Copying the file...\n");
    LogMessages.push_back("QUILLM: Copying to " + target + "\n");
    if (!CopyFileA(FileName.c_str(), target.c_str(), FALSE))
    {
        TraceMessage(TRACE_ERROR, 0, "CopyFile() failed. Error: %u\n", static_cast<unsigned>(GetLastError()));
        Append("QUILLM: Cannot copy the file.\n");
        return false;
    }
    TraceMessage(TRACE_INFO, 0, "%s", "Complete.\n");
    return true;
}

void CSymbolEngine::Append(const char* Line)
{
    LogMessages.emplace_back(Line);
}

BOOL CALLBACK DebugInfoCallback(HANDLE, ULONG ActionCode, ULONG64 CallbackData, ULONG64 UserContext)
{
    CTraceScope scope("DebugInfoCallback()\n", 0);
    TraceMessage(TRACE_INFO, 0, "ActionCode: %u  CallbackData: %I64x\n", static_cast<unsigned>(ActionCode),
                 CallbackData);

    CSymbolEngine* engine = reinterpret_cast<CSymbolEngine*>(static_cast<ULONG_PTR>(UserContext));
    if (engine == nullptr)
    {
        TraceMessage(TRACE_ERROR, 0, "%s", "Engine pointer is null.\n");
        return FALSE;
    }
    if (ActionCode == CBA_DEBUG_INFO && CallbackData != 0)
    {
        engine->OnEngineNotify(reinterpret_cast<const char*>(static_cast<ULONG_PTR>(CallbackData)));
        return TRUE;
    }
    return FALSE;
}
