#include "info/HostObjects.h"

#include "frame/ErrorBoundary.h"

namespace info {

void CreateHostObject(REFCLSID clsid, REFIID iid, void** object)
{
    *object = nullptr;
    CComPtr<IUnknown> unknown;
    HRESULT hr = CoCreateInstance(clsid, nullptr, HOST_CREATE_CONTEXT, IID_IUnknown, reinterpret_cast<void**>(&unknown));
    if (hr == E_NOINTERFACE || (SUCCEEDED(hr) && !unknown))
        frame::RaiseHr(E_POINTER);
    if (FAILED(hr))
        frame::RaiseHr(hr);
    // A host class that needs no running state answers S_OK or does not care;
    // what matters is that the object then answers the interface.
    OleRun(unknown);
    void* wanted = nullptr;
    hr = unknown->QueryInterface(iid, &wanted);
    if (hr == E_NOINTERFACE || (SUCCEEDED(hr) && wanted == nullptr))
        frame::RaiseHr(E_POINTER);
    if (FAILED(hr))
        frame::RaiseHr(hr);
    *object = wanted;
}

void AppendToList(CResultList& list, IUnknown* object)
{
    CComVariant element(object);
    list.Add(element);
}

IUnknown* ListObjectAt(const CResultList& list, ULONG index)
{
    const VARIANT& element = list.GetAt(index);
    if (element.vt != VT_UNKNOWN && element.vt != VT_DISPATCH)
        return nullptr;
    return element.punkVal;
}

}  // namespace info
