// The host's settings tree: source -> key collection -> keys -> value
// collection -> values. Lookups by name are exact (case counts) and take a
// VARIANT of type VT_BSTR; any other type, or a name that is not there, gives
// E_INVALIDARG and leaves the out-pointer untouched. An entry added with
// AddNull answers S_OK with a null object, for testing callers' checks.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "host/host_object.h"

class CHostSettingsValue : public CComObjectRoot<CHostSettingsValue>,
                           public CHostObjectSupport,
                           public IHostSettingsValue,
                           public ISupportErrorInfo {
public:
    using InterfaceMap = ComInterfaceMap<ComInterfaceEntry<IHostSettingsValue, IID_IHostSettingsValue>,
                                         ComInterfaceEntry<ISupportErrorInfo, IID_ISupportErrorInfo>>;
    bool IsInterfaceAvailable(REFIID iid) const noexcept;

    STDMETHODIMP get_Name(BSTR* name) noexcept override { return GetText(IID_IHostSettingsValue, 3, m_name, name); }
    STDMETHODIMP get_Text(BSTR* text) noexcept override { return GetText(IID_IHostSettingsValue, 4, m_text, text); }
    STDMETHODIMP put_Text(BSTR text) noexcept override { return PutText(IID_IHostSettingsValue, 5, m_text, text); }
    STDMETHODIMP InterfaceSupportsErrorInfo(REFIID iid) noexcept override;

    std::wstring m_name;
    std::wstring m_text;
};

// A named collection of objects of class T answering interface I.
template <class T, class I, const IID& CollectionIid>
class CHostNamedCollection : public CHostObjectSupport {
public:
    // The object under `name` (null when absent or added with AddNull).
    CComObject<T>* Find(std::wstring_view name) const
    {
        for (const Entry& entry : m_entries) {
            if (entry.first == name) {
                return entry.second;
            }
        }
        return nullptr;
    }
    void AddNull(std::wstring_view name) { m_entries.emplace_back(std::wstring(name), nullptr); }
    void Add(std::wstring_view name, CComObject<T>* object) { m_entries.emplace_back(std::wstring(name), object); }

protected:
    HRESULT CountImpl(LONG* count) noexcept
    {
        return GetValue(CollectionIid, 3, static_cast<LONG>(m_entries.size()), count);
    }
    HRESULT ItemAtImpl(LONG index, I** item) noexcept
    {
        const HRESULT hr = Enter(CollectionIid, 4);
        if (FAILED(hr)) {
            return hr;
        }
        if (item == nullptr) {
            return E_POINTER;
        }
        if (index < 0 || static_cast<std::size_t>(index) >= m_entries.size()) {
            return E_INVALIDARG;
        }
        return Hand(m_entries[static_cast<std::size_t>(index)].second, item);
    }
    HRESULT ItemImpl(const VARIANT& name, I** item) noexcept
    {
        const HRESULT hr = Enter(CollectionIid, 5);
        if (FAILED(hr)) {
            return hr;
        }
        if (item == nullptr) {
            return E_POINTER;
        }
        if (name.vt != VT_BSTR) {
            return E_INVALIDARG;
        }
        const std::wstring_view wanted(name.bstrVal == nullptr ? L"" : name.bstrVal, SysStringLen(name.bstrVal));
        for (const Entry& entry : m_entries) {
            if (entry.first == wanted) {
                return Hand(entry.second, item);
            }
        }
        return E_INVALIDARG;
    }

private:
    using Entry = std::pair<std::wstring, CComPtr<CComObject<T>>>;

    static HRESULT Hand(CComObject<T>* object, I** item) noexcept
    {
        *item = object;
        if (object != nullptr) {
            object->AddRef();
        }
        return S_OK;
    }

    std::vector<Entry> m_entries;
};

class CHostSettingsValueCollection
    : public CComObjectRoot<CHostSettingsValueCollection>,
      public CHostNamedCollection<CHostSettingsValue, IHostSettingsValue, IID_IHostSettingsValueCollection>,
      public IHostSettingsValueCollection,
      public ISupportErrorInfo {
public:
    using InterfaceMap =
        ComInterfaceMap<ComInterfaceEntry<IHostSettingsValueCollection, IID_IHostSettingsValueCollection>,
                        ComInterfaceEntry<ISupportErrorInfo, IID_ISupportErrorInfo>>;
    bool IsInterfaceAvailable(REFIID iid) const noexcept;

    STDMETHODIMP get_Count(LONG* count) noexcept override { return CountImpl(count); }
    STDMETHODIMP get_ItemAt(LONG index, IHostSettingsValue** value) noexcept override { return ItemAtImpl(index, value); }
    STDMETHODIMP get_Item(VARIANT name, IHostSettingsValue** value) noexcept override { return ItemImpl(name, value); }
    STDMETHODIMP InterfaceSupportsErrorInfo(REFIID iid) noexcept override;
};

class CHostSettingsKey : public CComObjectRoot<CHostSettingsKey>,
                         public CHostObjectSupport,
                         public IHostSettingsKey,
                         public ISupportErrorInfo {
public:
    using InterfaceMap = ComInterfaceMap<ComInterfaceEntry<IHostSettingsKey, IID_IHostSettingsKey>,
                                         ComInterfaceEntry<ISupportErrorInfo, IID_ISupportErrorInfo>>;
    bool IsInterfaceAvailable(REFIID iid) const noexcept;

    STDMETHODIMP get_Name(BSTR* name) noexcept override { return GetText(IID_IHostSettingsKey, 3, m_name, name); }
    STDMETHODIMP get_Values(IHostSettingsValueCollection** values) noexcept override;
    STDMETHODIMP InterfaceSupportsErrorInfo(REFIID iid) noexcept override;

    std::wstring m_name;
    CComPtr<CComObject<CHostSettingsValueCollection>> m_values;  // may be null
};

class CHostSettingsKeyCollection
    : public CComObjectRoot<CHostSettingsKeyCollection>,
      public CHostNamedCollection<CHostSettingsKey, IHostSettingsKey, IID_IHostSettingsKeyCollection>,
      public IHostSettingsKeyCollection,
      public ISupportErrorInfo {
public:
    using InterfaceMap =
        ComInterfaceMap<ComInterfaceEntry<IHostSettingsKeyCollection, IID_IHostSettingsKeyCollection>,
                        ComInterfaceEntry<ISupportErrorInfo, IID_ISupportErrorInfo>>;
    bool IsInterfaceAvailable(REFIID iid) const noexcept;

    STDMETHODIMP get_Count(LONG* count) noexcept override { return CountImpl(count); }
    STDMETHODIMP get_ItemAt(LONG index, IHostSettingsKey** key) noexcept override { return ItemAtImpl(index, key); }
    STDMETHODIMP get_Item(VARIANT name, IHostSettingsKey** key) noexcept override { return ItemImpl(name, key); }
    STDMETHODIMP InterfaceSupportsErrorInfo(REFIID iid) noexcept override;
};

class CHostSettingsSource : public CComObjectRoot<CHostSettingsSource>,
                            public CHostObjectSupport,
                            public IHostSettingsSource,
                            public ISupportErrorInfo {
public:
    using InterfaceMap = ComInterfaceMap<ComInterfaceEntry<IHostSettingsSource, IID_IHostSettingsSource>,
                                         ComInterfaceEntry<ISupportErrorInfo, IID_ISupportErrorInfo>>;
    bool IsInterfaceAvailable(REFIID iid) const noexcept;

    STDMETHODIMP get_Keys(IHostSettingsKeyCollection** keys) noexcept override;
    STDMETHODIMP InterfaceSupportsErrorInfo(REFIID iid) noexcept override;

    // The key under `name`, and its value under `value` (null when absent).
    CComObject<CHostSettingsKey>* Key(std::wstring_view name) const;
    CComObject<CHostSettingsValue>* Value(std::wstring_view key, std::wstring_view value) const;

    CComPtr<CComObject<CHostSettingsKeyCollection>> m_keys;  // may be null
};

// A settings tree in one expression: {{key, {{value name, text}, ...}}, ...}.
using HostSettingsValues = std::vector<std::pair<std::wstring, std::wstring>>;
using HostSettingsTree = std::vector<std::pair<std::wstring, HostSettingsValues>>;

// Builds the objects of a tree; raises CAtlException when one cannot be made.
CComPtr<CComObject<CHostSettingsSource>> CreateHostSettings(const HostSettingsTree& tree);
