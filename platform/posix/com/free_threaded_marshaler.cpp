// The free-threaded marshaler: an aggregatable object whose non-delegating
// IUnknown answers IUnknown and IMarshal. Its IMarshal face delegates
// QueryInterface, AddRef and Release to the controlling unknown, so the outer
// object's identity and lifetime hold. Nothing marshals in-process here, so
// the marshalling operations answer E_NOTIMPL.
#include <new>

#include "runtime_object.h"

namespace {

class CFreeThreadedMarshaler final : public IUnknown, private CRuntimeRefCount<CFreeThreadedMarshaler> {
    friend class CRuntimeRefCount<CFreeThreadedMarshaler>;

public:
    explicit CFreeThreadedMarshaler(IUnknown* outer) noexcept
        : m_face(this), m_controlling(outer != nullptr ? outer : this)
    {
    }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppvObject) noexcept override
    {
        if (ppvObject == nullptr) {
            return E_POINTER;
        }
        if (riid == IID_IUnknown) {
            *ppvObject = static_cast<IUnknown*>(this);
        } else if (riid == IID_IMarshal) {
            *ppvObject = static_cast<IMarshal*>(&m_face);
        } else {
            *ppvObject = nullptr;
            return E_NOINTERFACE;
        }
        static_cast<IUnknown*>(*ppvObject)->AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() noexcept override { return AddRefImpl(); }
    STDMETHODIMP_(ULONG) Release() noexcept override { return ReleaseImpl(); }

private:
    class CMarshalFace final : public IMarshal {
    public:
        explicit CMarshalFace(CFreeThreadedMarshaler* owner) noexcept : m_owner(owner) {}

        STDMETHODIMP QueryInterface(REFIID riid, void** ppvObject) noexcept override
        {
            return m_owner->m_controlling->QueryInterface(riid, ppvObject);
        }
        STDMETHODIMP_(ULONG) AddRef() noexcept override { return m_owner->m_controlling->AddRef(); }
        STDMETHODIMP_(ULONG) Release() noexcept override { return m_owner->m_controlling->Release(); }

        STDMETHODIMP GetUnmarshalClass(REFIID, void*, DWORD, void*, DWORD, CLSID*) noexcept override
        {
            return E_NOTIMPL;
        }
        STDMETHODIMP GetMarshalSizeMax(REFIID, void*, DWORD, void*, DWORD, DWORD*) noexcept override
        {
            return E_NOTIMPL;
        }
        STDMETHODIMP MarshalInterface(IStream*, REFIID, void*, DWORD, void*, DWORD) noexcept override
        {
            return E_NOTIMPL;
        }
        STDMETHODIMP UnmarshalInterface(IStream*, REFIID, void**) noexcept override { return E_NOTIMPL; }
        STDMETHODIMP ReleaseMarshalData(IStream*) noexcept override { return E_NOTIMPL; }
        STDMETHODIMP DisconnectObject(DWORD) noexcept override { return S_OK; }

    private:
        CFreeThreadedMarshaler* m_owner;
    };

    CMarshalFace m_face;
    IUnknown* m_controlling;  // not counted: the aggregate's outer owns us
};

}  // namespace

HRESULT CoCreateFreeThreadedMarshaler(LPUNKNOWN punkOuter, LPUNKNOWN* ppunkMarshal) noexcept
{
    if (ppunkMarshal == nullptr) {
        return E_INVALIDARG;
    }
    *ppunkMarshal = new (std::nothrow) CFreeThreadedMarshaler(punkOuter);
    return *ppunkMarshal == nullptr ? E_OUTOFMEMORY : S_OK;
}
