#include "SymbolManagerObject.h"

#include "AnsiText.h"

#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "FileHandleUtils.h"
#include "PrefetchSession.h"
#include "ScopedHandle.h"
#include "ServerModule.h"
#include "StringVecToString.h"
#include "SymbolEngineInstance.h"
#include "SymbolPrefetch.h"
#include "Trace.h"
#include "TraceScope.h"

namespace
{

bool IsNoHandle(DWORD FileHandle)
{
    return FileHandle == 0 || FileHandle == 0xFFFFFFFFu;
}

void TraceString(const char* Format, const char* NullFormat, const wchar_t* Wide, const std::string& Narrow)
{
    if (Wide == nullptr)
        TraceMessage(TRACE_INFO, 0, "%s", NullFormat);
    else
        TraceMessage(TRACE_INFO, 0, Format, Narrow.c_str());
}

// The image's path from a completed request's log, whose first line is
// "QUILLM: File: " and the path.
std::string ImageOfLog(const std::vector<std::string>& lines)
{
    static const char kPrefix[] = "QUILLM: File: ";
    const size_t prefix = sizeof(kPrefix) - 1;
    if (lines.empty() || lines.front().compare(0, prefix, kPrefix) != 0)
        return std::string();
    std::string image = lines.front().substr(prefix);
    if (!image.empty() && image.back() == '\n')
        image.pop_back();
    return image;
}

} // namespace

HRESULT CSymbolManager::CreateInstance(IUnknown* Outer, REFIID Iid, void** Object)
{
    if (Object == nullptr)
        return E_POINTER;
    *Object = nullptr;
    // COM's aggregation rule: the outer object asks for the inner identity.
    if (Outer != nullptr && !IsEqualIID(Iid, IID_IUnknown))
        return CLASS_E_NOAGGREGATION;
    CSymbolManager* object = new (std::nothrow) CSymbolManager(Outer);
    if (object == nullptr)
        return E_OUTOFMEMORY;
    object->m_inner.AddRef();
    const HRESULT result = object->m_inner.QueryInterface(Iid, Object);
    object->m_inner.Release();
    return result;
}

CSymbolManager::CSymbolManager(IUnknown* Outer) : m_refCount(0), m_inner(*this), m_outer(Outer)
{
    TraceMessage(TRACE_INFO, 0, "%s", "CSymbolManager::CSymbolManager()\n");
    if (m_outer == nullptr)
        m_outer = &m_inner;
    GetServerModule().Lock();
}

CSymbolManager::~CSymbolManager()
{
    // The prefetch's threads end before the server may.
    m_prefetch.reset();
    GetServerModule().Unlock();
}

STDMETHODIMP CSymbolManager::QueryInterface(REFIID Iid, void** Object)
{
    return m_outer->QueryInterface(Iid, Object);
}

STDMETHODIMP_(ULONG) CSymbolManager::AddRef()
{
    return m_outer->AddRef();
}

STDMETHODIMP_(ULONG) CSymbolManager::Release()
{
    return m_outer->Release();
}

STDMETHODIMP CSymbolManager::CInnerUnknown::QueryInterface(REFIID Iid, void** Object)
{
    if (Object == nullptr)
        return E_POINTER;
    if (IsEqualIID(Iid, IID_IUnknown))
        *Object = static_cast<IUnknown*>(this);
    else if (IsEqualIID(Iid, IID_ISymbolManager))
        *Object = static_cast<ISymbolManager*>(&m_owner);
    else if (IsEqualIID(Iid, IID_ISymbolPrefetch))
        *Object = static_cast<ISymbolPrefetch*>(&m_owner);
    else
    {
        *Object = nullptr;
        return E_NOINTERFACE;
    }
    static_cast<IUnknown*>(*Object)->AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) CSymbolManager::CInnerUnknown::AddRef()
{
    return static_cast<ULONG>(InterlockedIncrement(&m_owner.m_refCount));
}

STDMETHODIMP_(ULONG) CSymbolManager::CInnerUnknown::Release()
{
    const LONG count = InterlockedDecrement(&m_owner.m_refCount);
    if (count == 0)
        delete &m_owner;
    return static_cast<ULONG>(count);
}

STDMETHODIMP CSymbolManager::GetSymbols(DWORD FileHandle, DWORD ProcessId, LPWSTR FileName, LPWSTR SymbolPath,
                                        LPWSTR DestPath, BOOL UseFileExt, BOOL* pFound, LPWSTR* pLog)
{
    CTraceScope scope("CSymbolManager::GetSymbols()\n", 0);
    // Only an in-process caller can pass no slots at all; across processes the
    // proxy always supplies them.
    if (pFound == nullptr || pLog == nullptr)
    {
        if (pFound != nullptr)
            *pFound = FALSE;
        if (pLog != nullptr)
            *pLog = nullptr;
        return E_POINTER;
    }
    *pFound = FALSE;
    *pLog = nullptr;

    TraceMessage(TRACE_INFO, 0, "FileHandle: %lx\n", static_cast<unsigned long>(FileHandle));
    TraceMessage(TRACE_INFO, 0, "ProcessId: %lx\n", static_cast<unsigned long>(ProcessId));
    const std::string fileName = WideToAnsi(FileName);
    const std::string symbolPath = WideToAnsi(SymbolPath);
    const std::string destPath = WideToAnsi(DestPath);
    TraceString("FileName: %s\n", "FileName: <null>\n", FileName, fileName);
    TraceString("SymbolPath: %s\n", "SymbolPath: <null>\n", SymbolPath, symbolPath);
    TraceString("DestPath: %s\n", "DestPath: <null>\n", DestPath, destPath);
    TraceMessage(TRACE_INFO, 0, "UseFileExt: %s\n", UseFileExt ? "TRUE" : "FALSE");

    TraceMessage(TRACE_INFO, 0, "%s", "Checking parameters...\n");
    if (IsNoHandle(FileHandle) && FileName == nullptr)
    {
        TraceMessage(TRACE_ERROR, 0, "%s", "File information is not specified.\n");
        return E_INVALIDARG;
    }

    TraceMessage(TRACE_INFO, 0, "%s", "Calling the symbol engine...\n");
    bool found = false;
    std::vector<std::string> lines;
    const bool completed =
        IsNoHandle(FileHandle)
            ? GetSymbolEngine().GetSymbols(fileName, symbolPath, destPath, UseFileExt != FALSE, found, lines)
            : GetSymbolEngine().GetSymbols(FileHandle, ProcessId, symbolPath, destPath, UseFileExt != FALSE, found,
                                           lines);
    if (!completed)
    {
        TraceMessage(TRACE_INFO, 0, "%s", "CSymbolEngine::GetSymbols() failed.\n");
        return E_FAIL;
    }
    *pFound = found ? TRUE : FALSE;
    {
        std::lock_guard<CCriticalSection> lock(m_objectLock);
        if (m_prefetch)
            m_prefetch->RecordLoaded(ImageOfLog(lines));
    }

    std::string text;
    StringVecToString(lines, text);
    if (!text.empty())
    {
        const size_t bytes = 2 * text.size() + 2;
        wchar_t* log = static_cast<wchar_t*>(CoTaskMemAlloc(bytes));
        if (log == nullptr)
        {
            TraceMessage(TRACE_ERROR, 0, "Memory allocation failed. Size: %d \n", static_cast<int>(bytes));
            return E_OUTOFMEMORY;
        }
        // Each byte of the narrow text gives at most one UTF-16 unit, so the
        // buffer always holds the text and its terminator.
        const int units = MultiByteToWideChar(CP_ACP, 0, text.c_str(), static_cast<int>(text.size() + 1), log,
                                              static_cast<int>(text.size() + 1));
        if (units <= 0)
        {
            // Reporting success with a missing log would break the caller's
            // contract (S_OK always carries a log).
            CoTaskMemFree(log);
            *pFound = FALSE;
            return E_FAIL;
        }
        *pLog = log;
    }
    TraceMessage(TRACE_INFO, 0, "%s", "Complete.\n");
    return S_OK;
}

STDMETHODIMP CSymbolManager::Prefetch(DWORD FileHandle, DWORD ProcessId, LPWSTR ProgramPath, LPWSTR SymbolPath,
                                      LPWSTR DestPath, DWORD UseFileExt, LPWSTR HistoryFile, DWORD MaxParallel)
{
    CTraceScope scope("CSymbolManager::Prefetch()\n", 0);
    TraceMessage(TRACE_INFO, 0, "FileHandle: %lx\n", static_cast<unsigned long>(FileHandle));
    TraceMessage(TRACE_INFO, 0, "ProcessId: %lx\n", static_cast<unsigned long>(ProcessId));
    std::string program = WideToAnsi(ProgramPath);
    if (!IsNoHandle(FileHandle))
    {
        // The name is all the prefetch needs; the handle is closed at once.
        HANDLE duplicate = nullptr;
        program.clear();
        if (DuplicateHandleFromProcess(ProcessId, FileHandle, duplicate))
        {
            CScopedHandle local(duplicate);
            GetFileNameFromHandle(local.Get(), program);
        }
    }
    const std::string symbolPath = WideToAnsi(SymbolPath);
    const std::string historyFile = WideToAnsi(HistoryFile);
    CSymbolPrefetch::Destination destination;
    destination.path = WideToAnsi(DestPath);
    destination.useFileExt = UseFileExt != 0;
    TraceMessage(TRACE_INFO, 0, "ProgramPath: %s\n", program.c_str());
    TraceMessage(TRACE_INFO, 0, "SymbolPath: %s\n", symbolPath.c_str());
    TraceMessage(TRACE_INFO, 0, "DestPath: %s\n", destination.path.c_str());
    TraceMessage(TRACE_INFO, 0, "UseFileExt: %s\n", BoolText(destination.useFileExt));
    TraceMessage(TRACE_INFO, 0, "HistoryFile: %s\n", historyFile.c_str());
    TraceMessage(TRACE_INFO, 0, "MaxParallel: %lu\n", static_cast<unsigned long>(MaxParallel));
    if (program.empty() || symbolPath.empty())
    {
        TraceMessage(TRACE_ERROR, 0, "%s", "File information is not specified.\n");
        return E_INVALIDARG;
    }
    std::lock_guard<CCriticalSection> lock(m_objectLock);
    if (!m_prefetch)
    {
        const DWORD parallel =
            MaxParallel == 0 ? kDefaultParallel : (MaxParallel > kMaxParallel ? kMaxParallel : MaxParallel);
        const CPrefetchSession session;
        m_prefetch.reset(new CSymbolPrefetch(parallel,
                                             [session](const std::string& path, const CSymbolPrefetch::Target& target)
                                             { session.Fetch(path, target); }));
    }
    m_prefetch->Start(program, symbolPath, destination, historyFile);
    TraceMessage(TRACE_INFO, 0, "%s", "Complete.\n");
    return S_OK;
}

STDMETHODIMP CSymbolManager::CancelPrefetch()
{
    CTraceScope scope("CSymbolManager::CancelPrefetch()\n", 0);
    std::lock_guard<CCriticalSection> lock(m_objectLock);
    if (m_prefetch)
        m_prefetch->Stop();
    return S_OK;
}
