#include "HookLoader.h"

#include "ModulePath.h"
#include "PathSplit.h"
#include "Trace.h"
#include "TraceScope.h"

// The linker's symbol for the start of the image that holds this code: the
// add-in's own module.
extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace
{

template <typename Proc> Proc GetExport(HMODULE module, const char* name)
{
    return reinterpret_cast<Proc>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

} // namespace

std::string GetHookDllName()
{
    CTraceScope scope("GetHookDllName()\n", 0);
    HMODULE self = reinterpret_cast<HMODULE>(&__ImageBase);
    TraceMessage(TRACE_INFO, 0, "hInst: %08Ix\n", reinterpret_cast<ULONG_PTR>(self));
    std::string fileName;
    if (!GetModulePathPart(fileName, MODULE_PATH_FULL, self))
    {
        TraceMessage(TRACE_INFO, 0, "GetModuleFileName() failed. Error: %u\n", static_cast<unsigned>(GetLastError()));
        return std::string();
    }
    TraceMessage(TRACE_INFO, 0, "FileName: %s\n", fileName.c_str());
    const PathParts parts = SplitPath(fileName);
    TraceMessage(TRACE_INFO, 0, "Drive: %s  Path: %s\n", parts.drive.c_str(), parts.dir.c_str());

    std::string hookDll = parts.drive + parts.dir;
    if (hookDll.empty() || hookDll.back() != '\\')
        hookDll += '\\';
    hookDll += "qx3trap.dll";
    TraceMessage(TRACE_INFO, 0, "Hook DLL filename: %s\n", hookDll.c_str());
    return hookDll;
}

CHookLoader::CHookLoader()
    : m_library(nullptr), m_init(nullptr), m_setHook(nullptr)
{
    CTraceScope scope("CHookLoader::CHookLoader()\n", 0);
}

CHookLoader::~CHookLoader()
{
    CTraceScope scope("CHookLoader::~CHookLoader()\n", 0);
}

bool CHookLoader::Init()
{
    CTraceScope scope("CHookLoader::Init()\n", 0);
    if (m_library != nullptr)
    {
        TraceMessage(TRACE_WARNING, 0, "%s", "Already initialized.\n");
        return true;
    }

    const std::string path = GetHookDllName();
    TraceMessage(TRACE_INFO, 0, "Loading DLL: %s\n", path.c_str());
    HMODULE library = LoadLibraryA(path.c_str());
    if (library == nullptr)
    {
        TraceMessage(TRACE_ERROR, 0, "LoadLibrary() failed. Error: %u\n", static_cast<unsigned>(GetLastError()));
        return false;
    }
    TraceMessage(TRACE_INFO, 0, "hLib: %08Ix\n", reinterpret_cast<ULONG_PTR>(library));
    TraceMessage(TRACE_INFO, 0, "%s", "Obtaining function pointers...\n");

    // On a failure from here on the library stays loaded: it may already have
    // hooked something. Only the handle is forgotten.
    m_init = GetExport<HookInitProc>(library, "Init");
    if (m_init == nullptr)
    {
        TraceMessage(TRACE_ERROR, 0, "GetProcAddress(Init) failed. Error: %u\n", static_cast<unsigned>(GetLastError()));
        return false;
    }
    TraceMessage(TRACE_INFO, 0, "Init pointer: %p\n", reinterpret_cast<void*>(m_init));
    m_setHook = GetExport<HookSetHookProc>(library, "SetHook");
    if (m_setHook == nullptr)
    {
        TraceMessage(TRACE_ERROR, 0, "GetProcAddress(SetHook) failed. Error: %u\n",
                     static_cast<unsigned>(GetLastError()));
        return false;
    }
    TraceMessage(TRACE_INFO, 0, "SetHook pointer: %p\n", reinterpret_cast<void*>(m_setHook));

    TraceMessage(TRACE_INFO, 0, "%s", "Calling Init()...\n");
    if (!m_init())
    {
        TraceMessage(TRACE_INFO, 0, "%s", "Init() failed.\n");
        return false;
    }
    m_library = library;
    TraceMessage(TRACE_INFO, 0, "%s", "Complete.\n");
    return true;
}

bool CHookLoader::SetHookHandler(DWORD hookId, HookHandlerProc handler)
{
    CTraceScope scope("CHookLoader::SetHookHandler()\n", 0);
    TraceMessage(TRACE_INFO, 0, "HookId: %u  HookHandler: %p\n", static_cast<unsigned>(hookId),
                 reinterpret_cast<void*>(handler));
    if (m_library == nullptr)
    {
        TraceMessage(TRACE_ERROR, 0, "%s", "Library is not loaded.\n");
        return false;
    }
    if (m_setHook == nullptr)
    {
        TraceMessage(TRACE_ERROR, 0, "%s", "SetHookPtr function is not available.\n");
        return false;
    }
    const BOOL result = m_setHook(hookId, handler);
    TraceMessage(TRACE_INFO, 0, "SetHook returned %s\n", result ? "TRUE" : "FALSE");
    return result != FALSE;
}
