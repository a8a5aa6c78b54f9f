#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "MsdevAddInInterface.h"
#include "MsdevApplication.h"
#include "MsdevOutput.h"

// The add-ins of the stand-in IDE, as the IDE keeps them: each enabled entry
// under HKEY_CURRENT_USER\Software\Microsoft\DevStudio\6.0\AddIns (a key
// named by the add-in's ProgID whose default value is "1") is created
// through COM and connected with a cookie of its own; commands are run by
// name through the command dispatch their add-in registered.
class CMsdevAddIns
{
public:
    CMsdevAddIns(CMsdevApplication& application, CMsdevOutput& output);
    ~CMsdevAddIns();
    CMsdevAddIns(const CMsdevAddIns&) = delete;
    CMsdevAddIns& operator=(const CMsdevAddIns&) = delete;

    // Marks an add-in enabled or not in the IDE's list, as the IDE's
    // customisation page does; false when the registry refuses.
    static bool Enable(const std::string& progId, bool enable);
    // Empties the IDE's add-in list.
    static void ClearList();

    // Creates and connects every enabled add-in that is not connected yet.
    // Returns how many connected now.
    size_t ConnectAll(bool firstTime);
    // Disconnects and releases every connected add-in.
    void DisconnectAll(bool lastTime);
    size_t ConnectedCount() const { return m_connected.size(); }

    // Runs a command by name; false when there is no such command or its
    // method cannot be invoked. The method's own result is recorded.
    bool RunCommand(const std::string& name);

private:
    struct AddIn
    {
        std::string ProgId;
        long Cookie;
        devshl::IDSAddIn* Object;
    };

    std::vector<std::string> EnabledAddIns() const;
    bool IsConnected(const std::string& progId) const;

    CMsdevApplication& m_application;
    CMsdevOutput& m_output;
    std::vector<AddIn> m_connected;
    long m_nextCookie = 1;
};
