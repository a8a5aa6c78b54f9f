#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "MsdevHost.h"
#include "TestSupport.h"

// qx3ide.dll as the stand-in IDE finds it: copied with qx3trap.dll and
// help.html into a directory of the test program's own (so that its qx3.ini
// and symsrv.ini are the test's), registered from there and enabled in the
// IDE's add-in list. One per test program, made on first use.
class CQuillmarAddIn
{
public:
    static CQuillmarAddIn& Get();

    bool IsReady() const { return m_module != nullptr && m_registered; }
    HMODULE Module() const { return m_module; }
    std::string File(const std::string& name) const { return m_dir.File(name); }

    HRESULT Register();
    HRESULT Unregister();
    HRESULT CanUnloadNow();

    // Back to a first start: the add-in alone in the IDE's add-in list, no
    // user INI, nothing beside the add-in but its own files and help.html, no
    // "Pdb Dirs" value, _NT_SYMBOL_PATH unset.
    void Reset();

private:
    CQuillmarAddIn();
    HRESULT CallExport(const char* name);

    CTempDir m_dir;
    HMODULE m_module = nullptr;
    bool m_registered = false;
};

// The ProgID under which the IDE's add-in list names the add-in.
extern const char kQuillmarProgId[];

// A stand-in IDE on the test's thread whose dialog steps wait 5 s at most.
class CQuillmarHost : public CMsdevHost
{
public:
    CQuillmarHost() { Script().SetDialogTimeout(5000); }
};

// Tests of the add-in: the thread is a single-threaded apartment, and every
// test starts from CQuillmarAddIn::Reset.
class QuillmarTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite();
    static void TearDownTestSuite();
    void SetUp() override;

    static CQuillmarAddIn& AddIn() { return CQuillmarAddIn::Get(); }
};

// The IDE's "Pdb Dirs" value; false when it is missing.
bool ReadPdbDirs(std::string& value);
bool WritePdbDirs(const std::string& value);
void DeletePdbDirs();
