#pragma once
#include <windows.h>

#include <string>

#include "TestSupport.h"

// A directory of the test's own that stands for the add-in's: a module loaded
// from it is named the add-in's module, so qx3.ini and symsrv.ini are looked
// for there. The test's own user INI (qx3user.ini in the application-data
// directory) is removed before and after. Everything is undone on destruction.
class CAddInDirectory
{
public:
    CAddInDirectory();
    ~CAddInDirectory();
    CAddInDirectory(const CAddInDirectory&) = delete;
    CAddInDirectory& operator=(const CAddInDirectory&) = delete;

    bool IsReady() const { return m_module != nullptr; }
    std::string File(const std::string& name) const { return m_dir.File(name); }

private:
    CTempDir m_dir;
    HMODULE m_module = nullptr;
};

// The user's application-data directory, the "Quillmar" directory in it and the user INI.
std::string AppDataDir();
std::string UserIniDir();
std::string UserIniFile();
// Removes the user INI and its directory.
void RemoveUserIni();
// The "symbols" directory in the Windows directory: the default destination.
std::string WindowsSymbolsDir();
