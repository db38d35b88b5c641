#include "host/host_settings.h"

namespace {

template <class T>
CComPtr<CComObject<T>> MakeObject()
{
    CComPtr<CComObject<T>> object;
    AtlCheck(CComCreator<T>::Create(object));
    return object;
}

}  // namespace

bool CHostSettingsValue::IsInterfaceAvailable(REFIID iid) const noexcept
{
    return iid != IID_ISupportErrorInfo || OffersErrorInfoInterface();
}

STDMETHODIMP CHostSettingsValue::InterfaceSupportsErrorInfo(REFIID iid) noexcept
{
    return SupportsErrorInfo(iid, {&IID_IHostSettingsValue});
}

bool CHostSettingsValueCollection::IsInterfaceAvailable(REFIID iid) const noexcept
{
    return iid != IID_ISupportErrorInfo || OffersErrorInfoInterface();
}

STDMETHODIMP CHostSettingsValueCollection::InterfaceSupportsErrorInfo(REFIID iid) noexcept
{
    return SupportsErrorInfo(iid, {&IID_IHostSettingsValueCollection});
}

bool CHostSettingsKey::IsInterfaceAvailable(REFIID iid) const noexcept
{
    return iid != IID_ISupportErrorInfo || OffersErrorInfoInterface();
}

STDMETHODIMP CHostSettingsKey::get_Values(IHostSettingsValueCollection** values) noexcept
{
    const HRESULT hr = Enter(IID_IHostSettingsKey, 4);
    if (FAILED(hr)) {
        return hr;
    }
    if (values == nullptr) {
        return E_POINTER;
    }
    *values = m_values;
    if (*values != nullptr) {
        (*values)->AddRef();
    }
    return S_OK;
}

STDMETHODIMP CHostSettingsKey::InterfaceSupportsErrorInfo(REFIID iid) noexcept
{
    return SupportsErrorInfo(iid, {&IID_IHostSettingsKey});
}

bool CHostSettingsKeyCollection::IsInterfaceAvailable(REFIID iid) const noexcept
{
    return iid != IID_ISupportErrorInfo || OffersErrorInfoInterface();
}

STDMETHODIMP CHostSettingsKeyCollection::InterfaceSupportsErrorInfo(REFIID iid) noexcept
{
    return SupportsErrorInfo(iid, {&IID_IHostSettingsKeyCollection});
}

bool CHostSettingsSource::IsInterfaceAvailable(REFIID iid) const noexcept
{
    return iid != IID_ISupportErrorInfo || OffersErrorInfoInterface();
}

STDMETHODIMP CHostSettingsSource::get_Keys(IHostSettingsKeyCollection** keys) noexcept
{
    const HRESULT hr = Enter(IID_IHostSettingsSource, 3);
    if (FAILED(hr)) {
        return hr;
    }
    if (keys == nullptr) {
        return E_POINTER;
    }
    *keys = m_keys;
    if (*keys != nullptr) {
        (*keys)->AddRef();
    }
    return S_OK;
}

STDMETHODIMP CHostSettingsSource::InterfaceSupportsErrorInfo(REFIID iid) noexcept
{
    return SupportsErrorInfo(iid, {&IID_IHostSettingsSource});
}

CComObject<CHostSettingsKey>* CHostSettingsSource::Key(std::wstring_view name) const
{
    return m_keys == nullptr ? nullptr : m_keys->Find(name);
}

CComObject<CHostSettingsValue>* CHostSettingsSource::Value(std::wstring_view key, std::wstring_view value) const
{
    CComObject<CHostSettingsKey>* found = Key(key);
    if (found == nullptr || found->m_values == nullptr) {
        return nullptr;
    }
    return found->m_values->Find(value);
}

CComPtr<CComObject<CHostSettingsSource>> CreateHostSettings(const HostSettingsTree& tree)
{
    auto source = MakeObject<CHostSettingsSource>();
    source->m_keys = MakeObject<CHostSettingsKeyCollection>();
    for (const auto& [keyName, values] : tree) {
        auto key = MakeObject<CHostSettingsKey>();
        key->m_name = keyName;
        key->m_values = MakeObject<CHostSettingsValueCollection>();
        for (const auto& [valueName, text] : values) {
            auto value = MakeObject<CHostSettingsValue>();
            value->m_name = valueName;
            value->m_text = text;
            key->m_values->Add(valueName, value);
        }
        source->m_keys->Add(keyName, key);
    }
    return source;
}
