// qx3ide.dll: the Quillmar add-in of the Visual C++ 6.0 IDE, an in-process
// COM server of one class, IdeAddIn. The module's entry starts the trace log
// and the COM module; its four exports are those of every in-process server.
#include <windows.h>
#include <objbase.h>

#include "AppEngine.h"
#include "ComModule.h"
#include "IdeAddIn.h"
#include "ModuleTrace.h"
#include "Trace.h"
#include "resource.h"

extern const char g_ModuleLogName[] = "qx3ide.log";

namespace
{

const CObjectMapEntry kObjectMap[] = {
    {&CLSID_IdeAddIn, IDR_IDEADDIN, &CIdeAddIn::CreateInstance},
};

} // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH)
    {
        InitModuleTrace(instance);
        TraceMessage(TRACE_INFO, 0, "%s", "DllMain(DLL_PROCESS_ATTACH)\n");
        GetComModule().Init(kObjectMap, sizeof(kObjectMap) / sizeof(kObjectMap[0]), instance, LIBID_IDEADDINLib);
        DisableThreadLibraryCalls(instance);
    }
    else if (reason == DLL_PROCESS_DETACH)
    {
        GetComModule().Term();
        TraceMessage(TRACE_INFO, 0, "%s", "DllMain(DLL_PROCESS_DETACH)\n");
    }
    return TRUE;
}

STDAPI DllCanUnloadNow()
{
    // A thread of this module still running would be waited for by the
    // static destructors in the unloading, under the loader lock it needs to
    // end: the module stays while one runs.
    if (GetComModule().GetLockCount() != 0 || CAppEngine::GetInstance().IsWorkerAlive())
        return S_FALSE;
    return S_OK;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** object)
{
    return GetComModule().GetClassObject(clsid, iid, object);
}

STDAPI DllRegisterServer()
{
    const HRESULT result = GetComModule().RegisterServer();
    TraceMessage(TRACE_INFO, 0, "DllRegisterServer returned %lx\n", static_cast<unsigned long>(result));
    return result;
}

STDAPI DllUnregisterServer()
{
    const HRESULT result = GetComModule().UnregisterServer();
    TraceMessage(TRACE_INFO, 0, "DllUnregisterServer returned %lx\n", static_cast<unsigned long>(result));
    return result;
}
