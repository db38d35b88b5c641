#include "info/ProfileCatalogue.h"

#include "frame/ErrorBoundary.h"
#include "frame/ParserLibrary.h"
#include "source/SourceProfiles.h"

#include <array>
#include <utility>
#include <vector>

namespace info {
namespace {

constexpr const wchar_t* MPEG = source::MIME_TYPE_MPEG;
constexpr const wchar_t* TTS = source::MIME_TYPE_TTS;
constexpr const wchar_t* MPHL = source::MIME_TYPE_MPHL_188;

struct SCatalogueRow {
    const wchar_t* profileName;
    const wchar_t* mimeType;
    bool wantFlag2;
};

// The MPEG-2 rows that precede the AVC block.
constexpr std::array<SCatalogueRow, 15> CATALOGUE_HEAD = {{
    {L"MPEG_TS_SD_NA", TTS, true},
    {L"MPEG_TS_SD_NA_T", TTS, true},
    {L"MPEG_TS_SD_NA_ISO", MPEG, true},
    {L"MPEG_TS_HD_NA", TTS, true},
    {L"MPEG_TS_HD_NA_T", TTS, true},
    {L"MPEG_TS_HD_NA_ISO", MPEG, true},
    {L"MPEG_TS_SD_KO", TTS, true},
    {L"MPEG_TS_SD_KO_T", TTS, true},
    {L"MPEG_TS_SD_KO_ISO", MPEG, true},
    {L"MPEG_TS_HD_KO", TTS, true},
    {L"MPEG_TS_HD_KO_T", TTS, true},
    {L"MPEG_TS_HD_KO_ISO", MPEG, true},
    {L"MPEG_TS_SD_EU", TTS, true},
    {L"MPEG_TS_SD_EU_T", TTS, true},
    {L"MPEG_TS_SD_EU_ISO", MPEG, true},
}};

// The AVC block as DLNA mode names it.
constexpr std::array<SCatalogueRow, 6> CATALOGUE_AVC_DLNA = {{
    {L"AVC_TS_HD_60_AC3", TTS, true},
    {L"AVC_TS_HD_60_AC3_ISO", MPEG, true},
    {L"AVC_TS_HD_50_AC3", TTS, true},
    {L"AVC_TS_HD_50_AC3_ISO", MPEG, true},
    {L"AVC_TS_HD_24_AC3", TTS, true},
    {L"AVC_TS_HD_24_AC3_ISO", MPEG, true},
}};

// The AVC block of vendor mode: these are alternative names (the profile name
// stays empty), and the time-stamped forms are listed too.
constexpr std::array<SCatalogueRow, 9> CATALOGUE_AVC_VENDOR = {{
    {L"AVC_TS_HD_60_AC3", TTS, true},
    {L"AVC_TS_HD_60_AC3_T", TTS, true},
    {L"AVC_TS_HD_60_AC3_ISO", MPEG, true},
    {L"AVC_TS_HD_50_AC3", TTS, true},
    {L"AVC_TS_HD_50_AC3_T", TTS, true},
    {L"AVC_TS_HD_50_AC3_ISO", MPEG, true},
    {L"AVC_TS_HD_24_AC3", TTS, true},
    {L"AVC_TS_HD_24_AC3_T", TTS, true},
    {L"AVC_TS_HD_24_AC3_ISO", MPEG, true},
}};

// The rows after the AVC block. The last two differ from the two before them
// only in never offering time seeking.
constexpr std::array<SCatalogueRow, 7> CATALOGUE_TAIL = {{
    {L"MPEG_TS_HD_60_L2_ISO", MPEG, true},
    {L"MPEG_TS_HD_50_L2_ISO", MPEG, true},
    {L"", MPHL, true},
    {L"", TTS, true},
    {L"", MPEG, true},
    {L"", TTS, false},
    {L"", MPEG, false},
}};

constexpr VARIANT_BOOL ToVariantBool(bool value) noexcept
{
    return value ? VARIANT_TRUE : VARIANT_FALSE;
}

}  // namespace

CTargetList::CTargetList(std::wstring parserPath) : m_parserPath(std::move(parserPath))
{
    m_list.Create(0);
}

CComPtr<IHostTargetDescription> CTargetList::Build(std::wstring_view mimeType, std::wstring_view profileName,
                                                   bool wantFlag2, bool flag3, bool flag1)
{
    bool flag2 = wantFlag2;
    if (!flag1 && !frame::IsParserLibraryAvailable(m_parserPath))
        flag2 = false;

    CComPtr<IHostTargetDescription> target =
        CreateHostObject<IHostTargetDescription>(CLSID_HostTargetDescription, IID_IHostTargetDescription);
    const CComBSTR name(profileName);
    frame::CheckHost(target->put_ProfileName(name), target, IID_IHostTargetDescription);
    const CComBSTR mime(mimeType);
    frame::CheckHost(target->put_MimeType(mime), target, IID_IHostTargetDescription);
    frame::CheckHost(target->put_TargetFlag2(ToVariantBool(flag2)), target, IID_IHostTargetDescription);
    frame::CheckHost(target->put_TargetFlag3(ToVariantBool(flag3)), target, IID_IHostTargetDescription);
    frame::CheckHost(target->put_TargetFlag1(ToVariantBool(flag1)), target, IID_IHostTargetDescription);
    return target;
}

void CTargetList::AddTarget(std::wstring_view mimeType, std::wstring_view profileName, bool wantFlag2, bool flag3,
                            bool flag1)
{
    const CComPtr<IHostTargetDescription> target = Build(mimeType, profileName, wantFlag2, flag3, flag1);
    AppendToList(m_list, target);
}

void CTargetList::AddVendorTarget(std::wstring_view mimeType, std::wstring_view profileName,
                                  std::wstring_view alternativeName, bool wantFlag2, bool flag3, bool flag1)
{
    const CComPtr<IHostTargetDescription> target = Build(mimeType, profileName, wantFlag2, flag3, flag1);
    CComPtr<IHostTargetDescriptionExt> extension;
    if (SUCCEEDED(target.QueryInterface(IID_IHostTargetDescriptionExt, &extension)) && extension) {
        // The host may refuse the name; the description is still usable then.
        const CComBSTR alternative(alternativeName);
        (void)extension->put_AlternativeProfileName(alternative);
    }
    AppendToList(m_list, target);
}

void AddCatalogue(CTargetList& targets, int profileMode)
{
    for (const SCatalogueRow& row : CATALOGUE_HEAD)
        targets.AddTarget(row.mimeType, row.profileName, row.wantFlag2);
    if (IsVendorProfileMode(profileMode)) {
        for (const SCatalogueRow& row : CATALOGUE_AVC_VENDOR)
            targets.AddVendorTarget(row.mimeType, L"", row.profileName, row.wantFlag2);
    } else {
        for (const SCatalogueRow& row : CATALOGUE_AVC_DLNA)
            targets.AddTarget(row.mimeType, row.profileName, row.wantFlag2);
    }
    for (const SCatalogueRow& row : CATALOGUE_TAIL)
        targets.AddTarget(row.mimeType, row.profileName, row.wantFlag2);
}

CResultList OrderTargets(const CResultList& list)
{
    constexpr std::size_t GROUP_COUNT = 4;
    std::array<std::vector<ULONG>, GROUP_COUNT> groups;
    const ULONG count = list.GetCount();
    for (ULONG i = 0; i < count; ++i) {
        IUnknown* element = ListObjectAt(list, i);
        if (element == nullptr)
            frame::RaiseHr(E_POINTER);
        CComPtr<IHostTargetDescription> target;
        const HRESULT hr = element->QueryInterface(IID_IHostTargetDescription, reinterpret_cast<void**>(&target));
        if (FAILED(hr))
            frame::RaiseHr(hr);
        if (!target)
            frame::RaiseHr(E_POINTER);
        const bool named = !ReadHostText(target.p, IID_IHostTargetDescription, &IHostTargetDescription::get_ProfileName).empty();
        const bool flag1 =
            ReadHostFlag(target.p, IID_IHostTargetDescription, &IHostTargetDescription::get_TargetFlag1) == VARIANT_TRUE;
        const std::size_t group = (named ? 0 : 2) + (flag1 ? 1 : 0);
        groups[group].push_back(i);
    }

    CResultList ordered;
    ordered.Create(count);
    ULONG next = 0;
    for (const std::vector<ULONG>& group : groups) {
        for (const ULONG index : group)
            ordered.SetAt(next++, list.GetAt(index));
    }
    return ordered;
}

}  // namespace info
