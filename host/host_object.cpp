#include "host/host_object.h"

#include <algorithm>

void CHostObjectSupport::Arm(REFIID iid, int slot, HRESULT hr, std::wstring_view source,
                             std::wstring_view description, bool always)
{
    std::lock_guard guard(m_lock);
    m_failures.push_back(Failure{iid, slot, hr, std::wstring(source), std::wstring(description), always});
}

void CHostObjectSupport::FailNext(REFIID iid, int slot, HRESULT hr, std::wstring_view source,
                                  std::wstring_view description)
{
    Arm(iid, slot, hr, source, description, false);
}

void CHostObjectSupport::FailAlways(REFIID iid, int slot, HRESULT hr, std::wstring_view source,
                                    std::wstring_view description)
{
    Arm(iid, slot, hr, source, description, true);
}

void CHostObjectSupport::ClearFailures()
{
    std::lock_guard guard(m_lock);
    m_failures.clear();
}

ULONG CHostObjectSupport::CallCount(REFIID iid, int slot) const
{
    std::lock_guard guard(m_lock);
    for (const Calls& calls : m_calls) {
        if (calls.iid == iid && calls.slot == slot) {
            return calls.count;
        }
    }
    return 0;
}

HRESULT CHostObjectSupport::Enter(REFIID iid, int slot) noexcept
{
    HRESULT hr = S_OK;
    std::wstring source;
    std::wstring description;
    try {
        std::lock_guard guard(m_lock);
        auto calls = std::find_if(m_calls.begin(), m_calls.end(),
                                  [&](const Calls& c) { return c.iid == iid && c.slot == slot; });
        if (calls == m_calls.end()) {
            m_calls.push_back(Calls{iid, slot, 1});
        } else {
            ++calls->count;
        }
        auto failure = std::find_if(m_failures.begin(), m_failures.end(),
                                    [&](const Failure& f) { return f.iid == iid && f.slot == slot; });
        if (failure == m_failures.end()) {
            return S_OK;
        }
        hr = failure->hr;
        source = failure->source;
        description = failure->description;
        if (!failure->always) {
            m_failures.erase(failure);
        }
    } catch (...) {
        return E_OUTOFMEMORY;
    }
    ICreateErrorInfo* create = nullptr;
    if (SUCCEEDED(CreateErrorInfo(&create)) && create != nullptr) {
        create->SetGUID(iid);
        create->SetSource(source.data());
        create->SetDescription(description.data());
        IErrorInfo* info = nullptr;
        if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info))) && info != nullptr) {
            SetErrorInfo(0, info);
            info->Release();
        }
        create->Release();
    }
    return hr;
}

HRESULT CHostObjectSupport::GetText(REFIID iid, int slot, const std::wstring& field, BSTR* out) noexcept
{
    const HRESULT hr = Enter(iid, slot);
    if (FAILED(hr)) {
        return hr;
    }
    if (out == nullptr) {
        return E_POINTER;
    }
    BSTR text = SysAllocStringLen(field.data(), static_cast<UINT>(field.size()));
    if (text == nullptr) {
        return E_OUTOFMEMORY;
    }
    *out = text;
    return S_OK;
}

HRESULT CHostObjectSupport::PutText(REFIID iid, int slot, std::wstring& field, BSTR value) noexcept
{
    const HRESULT hr = Enter(iid, slot);
    if (FAILED(hr)) {
        return hr;
    }
    try {
        field.assign(value == nullptr ? L"" : value, SysStringLen(value));
    } catch (...) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT CHostObjectSupport::GetVariant(REFIID iid, int slot, const VARIANT& field, VARIANT* out) noexcept
{
    const HRESULT hr = Enter(iid, slot);
    if (FAILED(hr)) {
        return hr;
    }
    if (out == nullptr) {
        return E_POINTER;
    }
    VARIANT copy;
    VariantInit(&copy);
    const HRESULT copied = VariantCopy(&copy, const_cast<VARIANT*>(&field));
    if (FAILED(copied)) {
        return copied;
    }
    *out = copy;
    return S_OK;
}

HRESULT CHostObjectSupport::PutVariant(REFIID iid, int slot, CComVariant& field, const VARIANT& value) noexcept
{
    const HRESULT hr = Enter(iid, slot);
    if (FAILED(hr)) {
        return hr;
    }
    return VariantCopy(&field, const_cast<VARIANT*>(&value));
}

HRESULT CHostObjectSupport::SupportsErrorInfo(REFIID iid, std::initializer_list<const IID*> own) const noexcept
{
    if (m_errorInfoSupport != HostErrorInfoSupport::Supported) {
        return S_FALSE;
    }
    for (const IID* candidate : own) {
        if (*candidate == iid) {
            return S_OK;
        }
    }
    return S_FALSE;
}
