#pragma once
#include <windows.h>

#include <memory>
#include <string>

#include "CriticalSection.h"
// widl's header for the ISymbolManager interface (from idl/SymbolManager.idl).
#include "SymbolManager.h"

class CSymbolPrefetch;

// The SymbolManager COM object: converts one GetSymbols request to the narrow
// strings of the symbol engine, runs it through the process's single engine
// and hands the joined log back as one UTF-16 string in task memory. Keeps no
// state between calls; its life counts as a lock on the server. Through
// ISymbolPrefetch it also fetches a program's symbol files ahead of the
// debugger (CSymbolPrefetch), one program at a time per object, and records
// which images that program's session asked for.
class CSymbolManager : public ISymbolManager, public ISymbolPrefetch
{
public:
    // The class table's creation routine: a new object, aggregated when Outer
    // is given (then only IID_IUnknown may be asked for).
    static HRESULT CreateInstance(IUnknown* Outer, REFIID Iid, void** Object);

    // IUnknown, delegated to the controlling unknown.
    STDMETHODIMP QueryInterface(REFIID Iid, void** Object) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    // ISymbolManager
    STDMETHODIMP GetSymbols(DWORD FileHandle, DWORD ProcessId, LPWSTR FileName, LPWSTR SymbolPath, LPWSTR DestPath,
                            BOOL UseFileExt, BOOL* pFound, LPWSTR* pLog) override;

    // ISymbolPrefetch
    STDMETHODIMP Prefetch(DWORD FileHandle, DWORD ProcessId, LPWSTR ProgramPath, LPWSTR SymbolPath,
                          LPWSTR DestPath, DWORD UseFileExt, LPWSTR HistoryFile, DWORD MaxParallel) override;
    STDMETHODIMP CancelPrefetch() override;

    // Fetches running at once when the caller names no number, and at most.
    static constexpr DWORD kDefaultParallel = 8;
    static constexpr DWORD kMaxParallel = 32;

private:
    // The object's own identity: answers IUnknown and ISymbolManager and owns
    // the reference count, also when an outer object aggregates this one.
    class CInnerUnknown : public IUnknown
    {
    public:
        explicit CInnerUnknown(CSymbolManager& Owner) : m_owner(Owner) {}
        STDMETHODIMP QueryInterface(REFIID Iid, void** Object) override;
        STDMETHODIMP_(ULONG) AddRef() override;
        STDMETHODIMP_(ULONG) Release() override;

    private:
        CSymbolManager& m_owner;
    };

    explicit CSymbolManager(IUnknown* Outer);
    virtual ~CSymbolManager();
    CSymbolManager(const CSymbolManager&) = delete;
    CSymbolManager& operator=(const CSymbolManager&) = delete;

    volatile LONG m_refCount;
    CInnerUnknown m_inner;
    IUnknown* m_outer;
    // The object's own lock; GetSymbols needs none, the engine serialises.
    // It guards m_prefetch.
    CCriticalSection m_objectLock;
    std::unique_ptr<CSymbolPrefetch> m_prefetch;
};
