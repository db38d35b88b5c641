#include "frame/CClassObject.h"

#include "frame/com_object.h"

#include <new>

namespace frame {

CClassObject* CClassObject::Create(PfnCreateObject create) noexcept
{
    CClassObject* object = new (std::nothrow) CClassObject(create);
    if (object != nullptr)
        object->m_refCount.store(1);
    return object;
}

HRESULT CClassObject::QueryInterface(REFIID iid, void** ppv) noexcept
{
    if (ppv == nullptr)
        return E_POINTER;
    if (InlineIsEqualGUID(iid, IID_IUnknown) || InlineIsEqualGUID(iid, IID_IClassFactory)) {
        *ppv = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

ULONG CClassObject::AddRef() noexcept
{
    const LONG count = m_refCount.fetch_add(1) + 1;
    if (count == 2)
        g_module.Lock();
    return static_cast<ULONG>(count);
}

ULONG CClassObject::Release() noexcept
{
    const LONG count = m_refCount.fetch_sub(1) - 1;
    if (count == 1)
        g_module.Unlock();
    if (count == 0)
        delete this;
    return static_cast<ULONG>(count);
}

HRESULT CClassObject::CreateInstance(IUnknown* outer, REFIID iid, void** ppv) noexcept
{
    const HRESULT hr = ComCheckCreateArguments(outer, iid, ppv);
    if (FAILED(hr))
        return hr;
    return m_create(outer, iid, ppv);
}

HRESULT CClassObject::LockServer(BOOL lock) noexcept
{
    if (lock)
        g_module.Lock();
    else
        g_module.Unlock();
    return S_OK;
}

}  // namespace frame
