#include "info/CMpeg2TSConverterInfo.h"

#include "frame/ErrorBoundary.h"
#include "info/HostObjects.h"
#include "info/MediaProperties.h"
#include "info/SourceProfileTargets.h"
#include "transcoder/CMpeg2TSConverter.h"

#include <utility>

namespace info {
namespace {

using MediaTranscoderLib::IVskMediaTranscoder;

constexpr wchar_t SETTINGS_KEY_PROFILE[] = L"Profile";
constexpr wchar_t SETTINGS_VALUE_TYPE[] = L"Type";
constexpr wchar_t SETTINGS_KEY_EXTENSION_PATH[] = L"SpecifiedExtensionPath";
constexpr wchar_t SETTINGS_VALUE_PARSER[] = L"VskMpegParser";
constexpr wchar_t PROFILE_TYPE_DLNA[] = L"DLNA";
constexpr wchar_t PROFILE_TYPE_VENDOR[] = L"OVELPN";

// The entry `name` of a settings collection. A lookup that fails means the
// entry is not there (null); one that succeeds without an object is a broken
// host and raises.
template <class Item, class Collection>
CComPtr<Item> FindSetting(Collection* collection, const wchar_t* name)
{
    const CComVariant key(name);
    CComPtr<Item> item;
    if (FAILED(collection->get_Item(key, &item)))
        return nullptr;
    if (!item)
        frame::RaiseHr(E_POINTER);
    return item;
}

// The text of value `valueName` under `key`; false when the value is not
// there. A key that cannot hand out its values, or a value that cannot give
// its text, raises.
bool ReadSettingText(IHostSettingsKey* key, const wchar_t* valueName, std::wstring& text)
{
    CComPtr<IHostSettingsValueCollection> values;
    frame::CheckHost(key->get_Values(&values), key, IID_IHostSettingsKey);
    if (!values)
        frame::RaiseHr(E_POINTER);
    const CComPtr<IHostSettingsValue> value = FindSetting<IHostSettingsValue>(values.p, valueName);
    if (!value)
        return false;
    text = ReadHostText(value.p, IID_IHostSettingsValue, &IHostSettingsValue::get_Text);
    return true;
}

int ProfileModeFromText(const std::wstring& text) noexcept
{
    if (text == PROFILE_TYPE_DLNA)
        return PROFILE_MODE_DLNA;
    if (text == PROFILE_TYPE_VENDOR)
        return PROFILE_MODE_VENDOR;
    return PROFILE_MODE_DLNA;
}

}  // namespace

HRESULT CMpeg2TSConverterInfo::LoadSettingsBody(IHostSettingsSource* settings)
{
    const CComPtr<IHostSettingsSource> source(settings);
    CComPtr<IHostSettingsKeyCollection> keys;
    frame::CheckHost(source->get_Keys(&keys), source, IID_IHostSettingsSource);
    if (!keys)
        frame::RaiseHr(E_POINTER);

    if (const CComPtr<IHostSettingsKey> profile = FindSetting<IHostSettingsKey>(keys.p, SETTINGS_KEY_PROFILE)) {
        std::wstring type;
        if (ReadSettingText(profile, SETTINGS_VALUE_TYPE, type))
            m_profileMode = ProfileModeFromText(type);
    }
    if (const CComPtr<IHostSettingsKey> extension = FindSetting<IHostSettingsKey>(keys.p, SETTINGS_KEY_EXTENSION_PATH)) {
        std::wstring path;
        if (ReadSettingText(extension, SETTINGS_VALUE_PARSER, path))
            m_parserPath = std::move(path);
    }
    return S_OK;
}

STDMETHODIMP CMpeg2TSConverterInfo::LoadSettings(IHostSettingsSource* settings) noexcept
{
    if (settings == nullptr)
        return S_OK;
    return frame::CallAtBoundary(INFO_BOUNDARY_SOURCE, INFO_LINE_LOAD_SETTINGS,
                                 [&] { return LoadSettingsBody(settings); });
}

STDMETHODIMP CMpeg2TSConverterInfo::GetSupportedProfiles(SAFEARRAY** profiles) noexcept
{
    if (profiles == nullptr)
        return E_POINTER;
    return frame::CallAtBoundary(INFO_BOUNDARY_SOURCE, INFO_LINE_GET_SUPPORTED_PROFILES, [&] {
        CTargetList targets(m_parserPath);
        AddCatalogue(targets, m_profileMode);
        CResultList ordered = OrderTargets(targets.List());
        *profiles = ordered.Detach();
        return S_OK;
    });
}

STDMETHODIMP CMpeg2TSConverterInfo::GetSourceProfiles(VARIANT source, SAFEARRAY** profiles) noexcept
{
    if (!IsSourceVariant(source))
        return E_INVALIDARG;
    if (profiles == nullptr)
        return E_POINTER;
    return frame::CallAtBoundary(INFO_BOUNDARY_SOURCE, INFO_LINE_GET_SOURCE_PROFILES, [&] {
        CResultList list = BuildSourceProfiles(source, m_profileMode, m_parserPath);
        *profiles = list.Detach();
        return S_OK;
    });
}

STDMETHODIMP CMpeg2TSConverterInfo::IsProfileSupported(VARIANT source, IHostTargetDescription* target,
                                                       VARIANT_BOOL* supported) noexcept
{
    if (!IsSourceVariant(source))
        return E_INVALIDARG;
    if (target == nullptr || supported == nullptr)
        return E_POINTER;
    return frame::CallAtBoundary(INFO_BOUNDARY_SOURCE, INFO_LINE_IS_PROFILE_SUPPORTED, [&] {
        // Through the operation itself, so the host sees one answer for both.
        SAFEARRAY* raw = nullptr;
        const HRESULT hr = GetSourceProfiles(source, &raw);
        if (FAILED(hr))
            frame::RaiseHr(hr);
        CResultList profiles;
        try {
            profiles.Attach(raw);
        } catch (...) {
            SafeArrayDestroy(raw);
            throw;
        }
        const bool matched = MatchSourceProfile(profiles, target);
        *supported = matched ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
    });
}

STDMETHODIMP CMpeg2TSConverterInfo::GetMediaProperties(VARIANT source, IHostTargetDescription* target,
                                                       SAFEARRAY** properties) noexcept
{
    if (properties == nullptr || target == nullptr)
        return E_POINTER;
    return frame::CallAtBoundary(INFO_BOUNDARY_SOURCE, INFO_LINE_GET_MEDIA_PROPERTIES, [&] {
        // The profile name is read as well, so a target that cannot give it
        // fails here as it would anywhere else; only the MIME type matters.
        const std::wstring mimeType = ReadHostText(target, IID_IHostTargetDescription, &IHostTargetDescription::get_MimeType);
        (void)ReadHostText(target, IID_IHostTargetDescription, &IHostTargetDescription::get_ProfileName);
        CResultList list = BuildMediaProperties(source, mimeType);
        *properties = list.Detach();
        return S_OK;
    });
}

STDMETHODIMP CMpeg2TSConverterInfo::CreateTranscoder(IVskMediaTranscoder** converter) noexcept
{
    if (converter == nullptr)
        return E_POINTER;
    return frame::CallAtBoundary(INFO_BOUNDARY_SOURCE, INFO_LINE_CREATE_TRANSCODER, [&] {
        // E_OUTOFMEMORY when the object or the copy of the directory text
        // cannot be made.
        const HRESULT hr = transcoder::CreateMpeg2TSConverter(m_parserPath, converter);
        if (FAILED(hr))
            frame::RaiseHr(hr);
        return S_OK;
    });
}

}  // namespace info
