// Error information: the object CreateErrorInfo makes (it answers both
// ICreateErrorInfo and IErrorInfo) and the per-thread slot SetErrorInfo fills
// and GetErrorInfo empties. Each thread sees only what it set itself.
#include <new>
#include <string>

#include "runtime_object.h"

namespace {

class CErrorInfoObject final : public IErrorInfo, public ICreateErrorInfo, private CRuntimeRefCount<CErrorInfoObject> {
    friend class CRuntimeRefCount<CErrorInfoObject>;

public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppvObject) noexcept override
    {
        if (ppvObject == nullptr) {
            return E_POINTER;
        }
        if (riid == IID_IUnknown || riid == IID_IErrorInfo) {
            *ppvObject = static_cast<IErrorInfo*>(this);
        } else if (riid == IID_ICreateErrorInfo) {
            *ppvObject = static_cast<ICreateErrorInfo*>(this);
        } else {
            *ppvObject = nullptr;
            return E_NOINTERFACE;
        }
        AddRefImpl();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() noexcept override { return AddRefImpl(); }
    STDMETHODIMP_(ULONG) Release() noexcept override { return ReleaseImpl(); }

    STDMETHODIMP GetGUID(GUID* pGUID) noexcept override
    {
        if (pGUID == nullptr) {
            return E_INVALIDARG;
        }
        *pGUID = m_guid;
        return S_OK;
    }
    STDMETHODIMP GetSource(BSTR* pBstrSource) noexcept override { return Get(m_source, pBstrSource); }
    STDMETHODIMP GetDescription(BSTR* pBstrDescription) noexcept override
    {
        return Get(m_description, pBstrDescription);
    }
    STDMETHODIMP GetHelpFile(BSTR* pBstrHelpFile) noexcept override { return Get(m_helpFile, pBstrHelpFile); }
    STDMETHODIMP GetHelpContext(DWORD* pdwHelpContext) noexcept override
    {
        if (pdwHelpContext == nullptr) {
            return E_INVALIDARG;
        }
        *pdwHelpContext = m_helpContext;
        return S_OK;
    }

    STDMETHODIMP SetGUID(REFGUID rguid) noexcept override
    {
        m_guid = rguid;
        return S_OK;
    }
    STDMETHODIMP SetSource(LPOLESTR szSource) noexcept override { return Set(m_source, szSource); }
    STDMETHODIMP SetDescription(LPOLESTR szDescription) noexcept override
    {
        return Set(m_description, szDescription);
    }
    STDMETHODIMP SetHelpFile(LPOLESTR szHelpFile) noexcept override { return Set(m_helpFile, szHelpFile); }
    STDMETHODIMP SetHelpContext(DWORD dwHelpContext) noexcept override
    {
        m_helpContext = dwHelpContext;
        return S_OK;
    }

private:
    // A text that was never set reads back as a null BSTR, as on Windows.
    struct Text {
        bool present = false;
        std::wstring value;
    };

    static HRESULT Get(const Text& text, BSTR* out) noexcept
    {
        if (out == nullptr) {
            return E_INVALIDARG;
        }
        *out = nullptr;
        if (!text.present) {
            return S_OK;
        }
        *out = SysAllocStringLen(text.value.data(), static_cast<UINT>(text.value.size()));
        return *out == nullptr ? E_OUTOFMEMORY : S_OK;
    }

    static HRESULT Set(Text& text, const OLECHAR* value) noexcept
    {
        try {
            text.present = value != nullptr;
            text.value = value == nullptr ? L"" : value;
            return S_OK;
        } catch (...) {
            return E_OUTOFMEMORY;
        }
    }

    GUID m_guid = GUID_NULL;
    Text m_source;
    Text m_description;
    Text m_helpFile;
    DWORD m_helpContext = 0;
};

struct ThreadErrorSlot {
    IErrorInfo* info = nullptr;
    ~ThreadErrorSlot()
    {
        if (info != nullptr) {
            info->Release();
        }
    }
};

thread_local ThreadErrorSlot t_errorSlot;

}  // namespace

HRESULT CreateErrorInfo(ICreateErrorInfo** pperrinfo) noexcept
{
    if (pperrinfo == nullptr) {
        return E_INVALIDARG;
    }
    *pperrinfo = new (std::nothrow) CErrorInfoObject();
    return *pperrinfo == nullptr ? E_OUTOFMEMORY : S_OK;
}

HRESULT SetErrorInfo(ULONG dwReserved, IErrorInfo* perrinfo) noexcept
{
    if (dwReserved != 0) {
        return E_INVALIDARG;
    }
    if (perrinfo != nullptr) {
        perrinfo->AddRef();
    }
    IErrorInfo* previous = t_errorSlot.info;
    t_errorSlot.info = perrinfo;
    if (previous != nullptr) {
        previous->Release();
    }
    return S_OK;
}

HRESULT GetErrorInfo(ULONG dwReserved, IErrorInfo** pperrinfo) noexcept
{
    if (dwReserved != 0 || pperrinfo == nullptr) {
        return E_INVALIDARG;
    }
    *pperrinfo = t_errorSlot.info;
    t_errorSlot.info = nullptr;
    return *pperrinfo == nullptr ? S_FALSE : S_OK;
}
