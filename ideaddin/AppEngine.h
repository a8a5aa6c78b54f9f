#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "CriticalSection.h"
#include "HookLoader.h"
#include "SymbolHandler.h"

// The user's settings.
struct AppConfiguration
{
    bool Enabled = true;
    bool ReportProgress = true;
    // The symbol path comes from _NT_SYMBOL_PATH instead of SymPath.
    bool UseNtSymPath = true;
    std::string SymPath;
    // Where symbol files are copied for the debugger (INI key VCSymDir).
    std::string DestDir;
    // File names that the symbol server must not fetch (symsrv.ini).
    std::vector<std::string> ExclusionList;
    // Fetch a new program's symbol files ahead of the debugger ([Settings]
    // Prefetch), at most PrefetchParallel at once ([Settings] PrefetchParallel,
    // 0: the server's default). Not part of the settings dialog.
    bool Prefetch = true;
    unsigned PrefetchParallel = 0;
};

// Traces every member of the settings and each exclusion entry.
void TraceAppConfiguration(const AppConfiguration& config);

// The debug-event handler that Init registers with the hook library: on the
// debugger's thread, each create-process and load-DLL event with a file
// handle becomes one symbol request, finished before the debugger goes on.
// Always TRUE; the event is left as it is.
BOOL WINAPI WFDOHandler(LPDEBUG_EVENT pDE, DWORD Timeout);

// The add-in's application core, one per process: it owns the settings, the
// symbol handler and the hook loader. Init reads the settings (qx3.ini or
// qx3user.ini, and the exclusion list of symsrv.ini beside the add-in),
// starts the symbol handler with them and installs WFDOHandler; settings
// changes are saved and take effect at once. Init, Close and the
// configuration calls are serialised by the engine lock, which is taken
// before the hook library's and the symbol handler's locks, never after.
class CAppEngine
{
public:
    static CAppEngine& GetInstance();

    bool Init();
    void Close();
    // False before Init.
    bool GetConfiguration(AppConfiguration& config);
    // Saves and applies; a failed save is left in CErrorReport and the new
    // settings apply all the same. Ignored before Init.
    void SetConfiguration(const AppConfiguration& config);

    // Whether a thread of the symbol handler still runs code of this module:
    // while initialised, and after a Close that left a busy thread behind.
    bool IsWorkerAlive();

    // Whether the add-in's toolbar button has been added, kept in the user INI.
    static bool IsToolbarAdded();
    static void SetToolbarAdded(bool added);

private:
    friend BOOL WINAPI WFDOHandler(LPDEBUG_EVENT pDE, DWORD Timeout);

    CAppEngine();
    ~CAppEngine();
    CAppEngine(const CAppEngine&) = delete;
    CAppEngine& operator=(const CAppEngine&) = delete;

    bool ReadConfiguration();
    bool SaveConfiguration();
    void ConfigureSymbolHandler();

    CCriticalSection m_lock;
    bool m_initialized;
    CHookLoader m_hookLoader;
    CSymbolHandler m_symbolHandler;
    AppConfiguration m_config;
};
