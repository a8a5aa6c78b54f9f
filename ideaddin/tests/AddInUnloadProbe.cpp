// Loads qx3ide.dll from the directory named on the command line, has the
// stand-in IDE's application object refuse the connection (SetAddInInfo
// fails), optionally disconnects ("disconnect"), releases the add-in and
// unloads the module as COM would. Exit code: 0 unloaded, 1 the module
// refuses to unload, 2 it stays mapped, 3 the connection succeeded, 4 the
// add-in could not be created. A hang is the fault this probe is for: the
// caller runs it with a time limit.
#include <windows.h>
#include <objbase.h>

#include <string>

#include "IdeAddInLib.h"
#include "MsdevAddInInterface.h"
#include "MsdevApplication.h"
#include "MsdevOutput.h"
#include "ScopedComPtr.h"

namespace
{

typedef HRESULT(STDAPICALLTYPE* GetClassObjectProc)(REFCLSID, REFIID, void**);
typedef HRESULT(STDAPICALLTYPE* CanUnloadNowProc)();

template <typename Proc>
Proc Export(HMODULE module, const char* name)
{
    return reinterpret_cast<Proc>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// Connects once, refused, and lets go of the add-in; 0 or the exit code.
int ConnectRefused(HMODULE module, bool disconnect)
{
    // Made first: the add-in goes before the application object does.
    CMsdevOutput output;
    CMsdevApplication application(output);
    const GetClassObjectProc getClassObject = Export<GetClassObjectProc>(module, "DllGetClassObject");
    CScopedComPtr<IClassFactory> factory;
    CScopedComPtr<IDSAddIn> addIn;
    if (getClassObject == nullptr ||
        FAILED(getClassObject(CLSID_IdeAddIn, IID_IClassFactory, factory.ReceiveVoid())) ||
        FAILED(factory->CreateInstance(nullptr, IID_IDSAddIn, addIn.ReceiveVoid())))
        return 4;
    application.AllowCookie(1);
    application.SetFailure("SetAddInInfo", E_FAIL);
    VARIANT_BOOL connected = VARIANT_FALSE;
    addIn->OnConnection(&application, VARIANT_TRUE, 1, &connected);
    if (connected != VARIANT_FALSE)
        return 3;
    if (disconnect)
        addIn->OnDisconnection(VARIANT_FALSE);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2 || FAILED(OleInitialize(nullptr)))
        return 4;
    const std::string path = std::string(argv[1]) + "\\qx3ide.dll";
    HMODULE module = LoadLibraryA(path.c_str());
    if (module == nullptr)
        return 4;
    const int refused = ConnectRefused(module, argc > 2 && std::string(argv[2]) == "disconnect");
    if (refused != 0)
        return refused;
    const CanUnloadNowProc canUnloadNow = Export<CanUnloadNowProc>(module, "DllCanUnloadNow");
    if (canUnloadNow == nullptr || canUnloadNow() != S_OK)
        return 1;
    FreeLibrary(module);
    const bool mapped = GetModuleHandleA(path.c_str()) != nullptr;
    OleUninitialize();
    return mapped ? 2 : 0;
}
