#include "ClassFactory.h"

STDMETHODIMP CClassFactory::QueryInterface(REFIID Iid, void** Object)
{
    if (Object == nullptr)
        return E_POINTER;
    if (IsEqualIID(Iid, IID_IUnknown) || IsEqualIID(Iid, IID_IClassFactory))
    {
        *Object = static_cast<IClassFactory*>(this);
        return S_OK;
    }
    *Object = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) CClassFactory::AddRef()
{
    return 2;
}

STDMETHODIMP_(ULONG) CClassFactory::Release()
{
    return 1;
}

STDMETHODIMP CClassFactory::CreateInstance(IUnknown* Outer, REFIID Iid, void** Object)
{
    if (Object == nullptr)
        return E_POINTER;
    *Object = nullptr;
    return m_create(Outer, Iid, Object);
}

STDMETHODIMP CClassFactory::LockServer(BOOL Lock)
{
    if (Lock)
        m_server.Lock();
    else
        m_server.Unlock();
    return S_OK;
}
