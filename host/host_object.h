// What every host-kit object shares: failures a test arms for chosen
// operations, call counting, and ISupportErrorInfo. An operation is named by
// the interface it was called through and its slot (3 = first method).
//
// An armed failure makes the operation set the thread's error information
// (CreateErrorInfo with the interface id, Source and Description, then
// SetErrorInfo) and return the chosen HRESULT without touching any
// out-value. FailNext fires once, FailAlways until ClearFailures.
#pragma once

#include <initializer_list>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "frame/com_object.h"
#include "frame/host_interfaces.h"

enum class HostErrorInfoSupport {
    Supported,  // InterfaceSupportsErrorInfo: S_OK for the object's interfaces
    Refused,    // ISupportErrorInfo answers S_FALSE for everything
    Absent,     // QueryInterface for ISupportErrorInfo fails
};

class CHostObjectSupport {
public:
    void FailNext(REFIID iid, int slot, HRESULT hr, std::wstring_view source = {}, std::wstring_view description = {});
    void FailAlways(REFIID iid, int slot, HRESULT hr, std::wstring_view source = {},
                    std::wstring_view description = {});
    void ClearFailures();
    // How often the operation was called (failed calls included).
    ULONG CallCount(REFIID iid, int slot) const;

    void SetErrorInfoSupport(HostErrorInfoSupport support) noexcept { m_errorInfoSupport = support; }
    HostErrorInfoSupport GetErrorInfoSupport() const noexcept { return m_errorInfoSupport; }

    // Helpers for the operations (public so the per-interface faces of a
    // stream object can use them).
    HRESULT Enter(REFIID iid, int slot) noexcept;

    template <class T>
    HRESULT GetValue(REFIID iid, int slot, const T& field, T* out) noexcept
    {
        const HRESULT hr = Enter(iid, slot);
        if (FAILED(hr)) {
            return hr;
        }
        if (out == nullptr) {
            return E_POINTER;
        }
        *out = field;
        return S_OK;
    }
    template <class T>
    HRESULT PutValue(REFIID iid, int slot, T& field, T value) noexcept
    {
        const HRESULT hr = Enter(iid, slot);
        if (SUCCEEDED(hr)) {
            field = value;
        }
        return hr;
    }
    HRESULT GetText(REFIID iid, int slot, const std::wstring& field, BSTR* out) noexcept;
    HRESULT PutText(REFIID iid, int slot, std::wstring& field, BSTR value) noexcept;
    HRESULT GetVariant(REFIID iid, int slot, const VARIANT& field, VARIANT* out) noexcept;
    HRESULT PutVariant(REFIID iid, int slot, CComVariant& field, const VARIANT& value) noexcept;
    template <class I>
    HRESULT GetPointer(REFIID iid, int slot, const CComPtr<I>& field, I** out) noexcept
    {
        const HRESULT hr = Enter(iid, slot);
        if (FAILED(hr)) {
            return hr;
        }
        return field.CopyTo(out);
    }
    template <class I>
    HRESULT PutPointer(REFIID iid, int slot, CComPtr<I>& field, I* value) noexcept
    {
        const HRESULT hr = Enter(iid, slot);
        if (SUCCEEDED(hr)) {
            field = value;
        }
        return hr;
    }

protected:
    CHostObjectSupport() = default;
    ~CHostObjectSupport() = default;

    HRESULT SupportsErrorInfo(REFIID iid, std::initializer_list<const IID*> own) const noexcept;
    bool OffersErrorInfoInterface() const noexcept { return m_errorInfoSupport != HostErrorInfoSupport::Absent; }

private:
    struct Failure {
        IID iid;
        int slot;
        HRESULT hr;
        std::wstring source;
        std::wstring description;
        bool always;
    };
    struct Calls {
        IID iid;
        int slot;
        ULONG count;
    };

    void Arm(REFIID iid, int slot, HRESULT hr, std::wstring_view source, std::wstring_view description, bool always);

    mutable std::mutex m_lock;
    std::vector<Failure> m_failures;
    std::vector<Calls> m_calls;
    HostErrorInfoSupport m_errorInfoSupport = HostErrorInfoSupport::Supported;
};

// Declares a put/get pair of a value property at the given slots.
#define HOST_VALUE_PROPERTY(Type, Name, Iid, GetSlot, PutSlot, Field)                                   \
    STDMETHODIMP get_##Name(Type* value) noexcept override { return Host().GetValue(Iid, GetSlot, Host().Field, value); } \
    STDMETHODIMP put_##Name(Type value) noexcept override { return Host().PutValue(Iid, PutSlot, Host().Field, value); }

#define HOST_TEXT_PROPERTY(Name, Iid, GetSlot, PutSlot, Field)                                           \
    STDMETHODIMP get_##Name(BSTR* value) noexcept override { return Host().GetText(Iid, GetSlot, Host().Field, value); } \
    STDMETHODIMP put_##Name(BSTR value) noexcept override { return Host().PutText(Iid, PutSlot, Host().Field, value); }
