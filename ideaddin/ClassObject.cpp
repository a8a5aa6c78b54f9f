#include "ClassObject.h"

#include "ComModule.h"

STDMETHODIMP CClassObject::QueryInterface(REFIID Iid, void** Object)
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

STDMETHODIMP_(ULONG) CClassObject::AddRef()
{
    return 2;
}

STDMETHODIMP_(ULONG) CClassObject::Release()
{
    return 1;
}

STDMETHODIMP CClassObject::CreateInstance(IUnknown* Outer, REFIID Iid, void** Object)
{
    if (Object == nullptr)
        return E_POINTER;
    *Object = nullptr;
    return m_create(Outer, Iid, Object);
}

STDMETHODIMP CClassObject::LockServer(BOOL Lock)
{
    if (Lock)
        GetComModule().Lock();
    else
        GetComModule().Unlock();
    return S_OK;
}
