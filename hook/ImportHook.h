#pragma once
#include <windows.h>

#include "ImportPatch.h"

// One redirected import of a loaded module: installed (or not) by the
// constructor, put back by the destructor unless detached. Its owner creates
// it on the heap and deletes it.
class CImportHook
{
public:
    // Redirects the module's import of functionName from dllName to
    // replacement at once. When the slot already leads to replacement (the
    // module was hooked before and loaded again without being unloaded), the
    // saved address is the function itself, looked up by name in dllName, so
    // that the replacement never passes calls on to itself.
    CImportHook(HMODULE module, const char* dllName, const char* functionName, void* replacement);
    // Writes the saved address back into the slot when installed and not detached.
    ~CImportHook();
    CImportHook(const CImportHook&) = delete;
    CImportHook& operator=(const CImportHook&) = delete;

    // The error is 0 and there is a saved address.
    bool IsInstalled() const { return m_error == ERROR_SUCCESS && m_saved != nullptr; }
    // 0 after a successful installation (also when the module does not import
    // the function), else the Windows error of the failure.
    DWORD GetError() const { return m_error; }
    // What the slot held before: the address the replacement passes calls on to.
    void* GetSavedAddress() const { return m_saved; }
    // From now on the destructor writes nothing: the module may have been
    // unloaded and its slot's address reused.
    void Detach() { m_detached = true; }

private:
    DWORD m_error;
    void* m_saved;
    ImportSlot* m_slot;
    bool m_detached;
};
