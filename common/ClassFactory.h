#pragma once
#include <windows.h>
#include <unknwn.h>

#include "ServerLock.h"

// Creates one COM object, aggregated when Outer is given.
typedef HRESULT (*CreateObjectFunction)(IUnknown* Outer, REFIID Iid, void** Object);

// The standard class object of a COM server, local or in-process: every
// CreateInstance makes a new object through the class's creation routine, and
// LockServer counts as a lock on the server. Its owner keeps it until COM can
// no longer call it, so its own references do not keep the server running.
class CClassFactory : public IClassFactory
{
public:
    CClassFactory(CreateObjectFunction Create, CServerLock& Server) : m_create(Create), m_server(Server) {}
    virtual ~CClassFactory() = default;
    CClassFactory(const CClassFactory&) = delete;
    CClassFactory& operator=(const CClassFactory&) = delete;

    STDMETHODIMP QueryInterface(REFIID Iid, void** Object) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP CreateInstance(IUnknown* Outer, REFIID Iid, void** Object) override;
    STDMETHODIMP LockServer(BOOL Lock) override;

private:
    CreateObjectFunction m_create;
    CServerLock& m_server;
};
