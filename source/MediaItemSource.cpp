#include "source/MediaItemSource.h"

#include "frame/ErrorBoundary.h"
#include "frame/HostCalls.h"

namespace source {

IUnknown* SourceObject(const VARIANT& source) noexcept
{
    if (source.vt == VT_UNKNOWN)
        return source.punkVal;
    if (source.vt == VT_DISPATCH)
        return static_cast<IUnknown*>(source.pdispVal);
    return nullptr;
}

CComPtr<IHostMediaItem> QueryMediaItem(IUnknown* object)
{
    CComPtr<IHostMediaItem> item;
    const HRESULT hr = object->QueryInterface(IID_IHostMediaItem, reinterpret_cast<void**>(&item));
    if (FAILED(hr))
        frame::RaiseHr(hr);
    if (!item)
        frame::RaiseHr(E_POINTER);
    return item;
}

std::wstring ReadMediaItemPath(IHostMediaItem* item)
{
    CComVariant path;
    (void)item->get_Path(&path);
    path.ChangeType(VT_BSTR);
    return frame::BstrText(path.bstrVal);
}

}  // namespace source
