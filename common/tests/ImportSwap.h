#pragma once
#include <windows.h>

// Points this test program's import of one function at a replacement for the
// life of the object, so that a test can have a platform or library call fail
// (or answer oddly) inside code linked into the program. Calls made from
// other modules are not affected.
class CImportSwap
{
public:
    CImportSwap(const char* dll, const char* function, const void* replacement);
    ~CImportSwap();
    CImportSwap(const CImportSwap&) = delete;
    CImportSwap& operator=(const CImportSwap&) = delete;

    // False when the program does not import the function.
    bool IsActive() const { return m_slot != nullptr; }
    // The function the import led to before, for replacements that call it.
    template <typename Function>
    Function Original() const
    {
        return reinterpret_cast<Function>(reinterpret_cast<void*>(m_original));
    }

private:
    static void Store(ULONG_PTR* slot, ULONG_PTR value);

    ULONG_PTR* m_slot = nullptr;
    ULONG_PTR m_original = 0;
};
