#include "SymbolServerFixture.h"

#include "ScopedHandle.h"

void SymbolServerFixture::SetUp()
{
    ASSERT_FALSE(SamplesDir().empty()) << "QX3_SAMPLES names the sample directory";
    ASSERT_HRESULT_SUCCEEDED(m_apartment.Result());
}

std::string SymbolServerFixture::StorePath()
{
    return "srv*" + SamplesDir() + "\\store";
}

HANDLE SymbolServerFixture::OpenImage(const std::string& name)
{
    return CreateFileA(SampleImage(name).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

DWORD SymbolServerFixture::KillTheServer()
{
    const std::vector<DWORD> ids = ServerProcessIds();
    if (ids.size() != 1)
        return 0;
    CScopedHandle server(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, ids.front()));
    if (!server.IsValid() || !TerminateProcess(server.Get(), 9))
        return 0;
    WaitForSingleObject(server.Get(), 30000);
    // Windows forgets the class registration of a server that died. Wine 8's
    // rpcss keeps it and hands the dead class object to every later
    // activation; ending the service makes it forget, and COM starts the
    // service again with its next call.
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service =
        manager != nullptr ? OpenServiceA(manager, "RpcSs", SERVICE_STOP | SERVICE_QUERY_STATUS) : nullptr;
    SERVICE_STATUS_PROCESS running = {};
    DWORD size = 0;
    if (service != nullptr && QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&running),
                                                   sizeof(running), &size))
    {
        CScopedHandle rpcss(OpenProcess(SYNCHRONIZE, FALSE, running.dwProcessId));
        SERVICE_STATUS status = {};
        if (rpcss.IsValid() && ControlService(service, SERVICE_CONTROL_STOP, &status))
            WaitForSingleObject(rpcss.Get(), 30000);
    }
    if (service != nullptr)
        CloseServiceHandle(service);
    if (manager != nullptr)
        CloseServiceHandle(manager);
    return ids.front();
}
