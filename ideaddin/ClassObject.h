#pragma once
#include <windows.h>
#include <unknwn.h>

// Creates one COM object, aggregated when Outer is given.
typedef HRESULT (*CreateObjectFunction)(IUnknown* Outer, REFIID Iid, void** Object);

// The class object of one class of the add-in module: every CreateInstance
// makes a new object through the creation routine, and LockServer counts as
// a lock on the module. The module owns it from the first request until the
// module ends, so the references that clients take and give back do not
// decide its life.
class CClassObject : public IClassFactory
{
public:
    explicit CClassObject(CreateObjectFunction Create) : m_create(Create) {}
    virtual ~CClassObject() = default;
    CClassObject(const CClassObject&) = delete;
    CClassObject& operator=(const CClassObject&) = delete;

    STDMETHODIMP QueryInterface(REFIID Iid, void** Object) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP CreateInstance(IUnknown* Outer, REFIID Iid, void** Object) override;
    STDMETHODIMP LockServer(BOOL Lock) override;

private:
    CreateObjectFunction m_create;
};
