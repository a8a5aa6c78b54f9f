// qx3fetch.exe: the windowless COM local server of the SymbolManager class.
// COM starts it (with its Embedding switch) when a client creates a
// SymbolManager object; run by hand, "/RegServer" or "/UnregServer" as the
// last thing on its command line registers or unregisters it.
#include <windows.h>
#include <objbase.h>

#include "ModuleTrace.h"
#include "ServerModule.h"
#include "SymbolEngineInstance.h"
#include "SymbolManager.h"
#include "SymbolManagerObject.h"
#include "Trace.h"
#include "resource.h"

extern const char g_ModuleLogName[] = "qx3fetch.log";

namespace
{

// SYMOPT_DEBUG and SYMOPT_EXACT_SYMBOLS: the library's diagnostics become part
// of each log, and only symbols that match the image exactly are accepted.
const DWORD kServerSymOptions = 0x80000400u;

// A server that finds another one serving waits this long for it to end
// before it leaves the session to that one.
const DWORD kServerSlotWaitMs = 4000;

const CClassTableEntry g_classTable[] = {
    {&CLSID_SymbolManager, IDR_SYMBOLMANAGER, CSymbolManager::CreateInstance},
};

enum class CommandLineSwitch
{
    None,
    RegServer,
    UnregServer,
};

// The first "-" or "/" whose whole remainder of the line is one of the
// switches; a separator followed by anything else is skipped.
CommandLineSwitch FindSwitch(const char* CommandLine)
{
    for (const char* position = CommandLine; *position != '\0'; position = CharNextA(position))
    {
        if (*position != '-' && *position != '/')
            continue;
        const char* token = position + 1;
        if (lstrcmpiA(token, "UnregServer") == 0)
            return CommandLineSwitch::UnregServer;
        if (lstrcmpiA(token, "RegServer") == 0)
            return CommandLineSwitch::RegServer;
    }
    return CommandLineSwitch::None;
}

// Publishes the class objects and serves until the monitor thread posts the
// quit message; returns at once when they cannot be published.
void Serve(CServerModule& module)
{
    TraceMessage(TRACE_INFO, 0, "%s", "Starting the monitor thread...\n");
    module.StartMonitor();

    TraceMessage(TRACE_INFO, 0, "%s", "Registering class objects...\n");
    HRESULT result = module.RegisterClassObjects(CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE | REGCLS_SUSPENDED);
    if (FAILED(result))
    {
        TraceMessage(TRACE_ERROR, 0, "_Module.RegisterClassObjects() failed. Error: %lx\n",
                     static_cast<unsigned long>(result));
        return;
    }
    result = CoResumeClassObjects();
    if (FAILED(result))
    {
        TraceMessage(TRACE_ERROR, 0, "CoResumeClassObjects() failed. Error: %lx\n", static_cast<unsigned long>(result));
        return;
    }

    TraceMessage(TRACE_INFO, 0, "%s", "Starting the message loop...\n");
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0)
        DispatchMessageA(&message);

    TraceMessage(TRACE_INFO, 0, "%s", "Revoking class objects...\n");
    module.RevokeClassObjects();
    module.ReleaseServerSlot();
    TraceMessage(TRACE_INFO, 0, "%s", "Waiting for threads to finish...\n");
    Sleep(1000);
}

void RunServer()
{
    TraceMessage(TRACE_INFO, 0, "%s", "Initializing the symbol engine...\n");
    CSymbolEngine& engine = GetSymbolEngine();
    engine.AddSymOptions(kServerSymOptions);
    if (!engine.Init())
        TraceMessage(TRACE_ERROR, 0, "%s", "CSymbolEngine::Init() failed.\n");

    // Wine may start two servers for two simultaneous first activations;
    // only the holder of the session's slot publishes its class object.
    CServerModule& module = GetServerModule();
    if (module.AcquireServerSlot(kServerSlotWaitMs))
        Serve(module);

    // Every way out of serving closes the engine; the module's Term then
    // stops the monitor thread, whatever it was waiting for.
    TraceMessage(TRACE_INFO, 0, "%s", "Deinitializing the symbol engine...\n");
    engine.Close();
}

} // namespace

int WINAPI WinMain(HINSTANCE Instance, HINSTANCE, LPSTR, int)
{
    InitModuleTrace(Instance);
    TraceMessage(TRACE_INFO, 0, "%s", "Entering WinMain()...\n");
    TraceMessage(TRACE_INFO, 0, "%s", "Initializing COM...\n");
    const char* commandLine = GetCommandLineA();

    const HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (FAILED(com))
    {
        TraceMessage(TRACE_ERROR, 0, "CoInitialize() failed. Error: %lx\n", static_cast<unsigned long>(com));
        return 0;
    }

    TraceMessage(TRACE_INFO, 0, "%s", "Initializing ATL module...\n");
    CServerModule& module = GetServerModule();
    module.Init(g_classTable, sizeof(g_classTable) / sizeof(g_classTable[0]), Instance, LIBID_SYMBOLMANAGERLib);

    int exitCode = 0;
    TraceMessage(TRACE_INFO, 0, "%s", "Parsing the command line...\n");
    switch (FindSwitch(commandLine))
    {
    case CommandLineSwitch::UnregServer:
        TraceMessage(TRACE_INFO, 0, "%s", "Unregistering...\n");
        module.UpdateRegistryFromResource(IDR_QX3FETCH, false);
        module.UnregisterServer(true);
        break;
    case CommandLineSwitch::RegServer:
        TraceMessage(TRACE_INFO, 0, "%s", "Registering...\n");
        module.UpdateRegistryFromResource(IDR_QX3FETCH, true);
        exitCode = static_cast<int>(module.RegisterServer(true));
        break;
    case CommandLineSwitch::None:
        RunServer();
        break;
    }

    TraceMessage(TRACE_INFO, 0, "%s", "Deinitializing ATL module...\n");
    module.Term();
    TraceMessage(TRACE_INFO, 0, "%s", "Deinitializing COM...\n");
    CoUninitialize();
    TraceMessage(TRACE_INFO, 0, "%s", "Exiting WinMain()...\n");
    return exitCode;
}
