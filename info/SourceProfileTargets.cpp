#include "info/SourceProfileTargets.h"

#include "frame/ErrorBoundary.h"
#include "frame/HostCalls.h"
#include "frame/TextCompare.h"
#include "info/ProfileCatalogue.h"
#include "platform/file.h"
#include "source/Classifier.h"
#include "source/MediaItemSource.h"
#include "source/SourceFileTest.h"
#include "source/SourceProfiles.h"

namespace info {
namespace {

const wchar_t* MimeTypeForPackets(bool is192) noexcept
{
    return is192 ? source::MIME_TYPE_TTS : source::MIME_TYPE_MPEG;
}

void AddPathSourceTargets(CTargetList& targets, const VARIANT& source)
{
    const std::wstring path = frame::BstrText(source.bstrVal);
    if (!source::IsTransportStreamFile(path))
        return;
    bool is192 = false;
    // The file passed the same probe a moment ago; one that changed since
    // simply gets no entry.
    if (!source::ProbePacketSize(path, is192))
        return;
    targets.AddTarget(MimeTypeForPackets(is192), L"", false);
}

// The file's size as the file system reports it; E_INVALIDARG when it cannot
// be opened or measured.
LONGLONG MeasureFileSize(const std::wstring& path)
{
    platform::CFile file;
    if (!file.Open(path.c_str(), platform::EFileMode::READ_SHARED))
        frame::RaiseHr(E_INVALIDARG);
    const std::int64_t size = file.Size();
    if (size < 0)
        frame::RaiseHr(E_INVALIDARG);
    return size;
}

void AddMediaItemTargets(CTargetList& targets, const VARIANT& source, int profileMode)
{
    IUnknown* object = source::SourceObject(source);
    if (object == nullptr)
        frame::RaiseHr(E_INVALIDARG);
    const CComPtr<IHostMediaItem> item = source::QueryMediaItem(object);
    const std::wstring path = source::ReadMediaItemPath(item);

    bool is192 = false;
    if (!source::ProbePacketSize(path, is192))
        frame::RaiseHr(E_INVALIDARG);

    LONGLONG size = -1;
    frame::CheckHost(item->get_Size(&size), item, IID_IHostMediaItem);
    if (size < 0) {
        // The classifier needs the size; the host learns it as a side effect.
        // A host that refuses to store it only leaves the item unclassified.
        (void)item->put_Size(MeasureFileSize(path));
    }

    LONG duration = -1;
    frame::CheckHost(item->get_Duration(&duration), item, IID_IHostMediaItem);

    bool videoOk = false;
    bool audioOk = false;
    int code = source::SOURCE_PROFILE_NONE;
    const bool classified = source::ClassifyMediaItem(item, &videoOk, &audioOk, &code);
    if (!classified || code < source::SOURCE_PROFILE_FIRST || code > source::SOURCE_PROFILE_LAST) {
        targets.AddTarget(MimeTypeForPackets(is192), L"", duration != -1);
        return;
    }
    const bool vendorAvc = source::IsAvcSource(code) && IsVendorProfileMode(profileMode);
    for (const source::SProfileEntry& entry : source::EntriesForSourceProfile(code)) {
        if (vendorAvc)
            targets.AddVendorTarget(entry.mimeType, L"", entry.profileName, true);
        else
            targets.AddTarget(entry.mimeType, entry.profileName, true);
    }
}

// The alternative profile name of a description, and whether it offers the
// extension at all.
bool ReadAlternativeName(IHostTargetDescription* target, std::wstring& name)
{
    name.clear();
    CComPtr<IHostTargetDescriptionExt> extension;
    if (FAILED(target->QueryInterface(IID_IHostTargetDescriptionExt, reinterpret_cast<void**>(&extension))) ||
        !extension)
        return false;
    name = ReadHostText(extension.p, IID_IHostTargetDescriptionExt, &IHostTargetDescriptionExt::get_AlternativeProfileName);
    return true;
}

bool SameFlag(IHostTargetDescription* requested, IHostTargetDescription* element,
              HRESULT (STDMETHODCALLTYPE IHostTargetDescription::*getter)(VARIANT_BOOL*))
{
    return ReadHostFlag(requested, IID_IHostTargetDescription, getter) ==
           ReadHostFlag(element, IID_IHostTargetDescription, getter);
}

}  // namespace

bool IsSourceVariant(const VARIANT& source) noexcept
{
    return source.vt == VT_BSTR || source.vt == VT_UNKNOWN || source.vt == VT_DISPATCH;
}

CResultList BuildSourceProfiles(const VARIANT& source, int profileMode, const std::wstring& parserPath)
{
    CTargetList targets(parserPath);
    if (source.vt == VT_BSTR)
        AddPathSourceTargets(targets, source);
    else
        AddMediaItemTargets(targets, source, profileMode);
    return OrderTargets(targets.List());
}

bool MatchSourceProfile(const CResultList& profiles, IHostTargetDescription* requested)
{
    const ULONG count = profiles.GetCount();
    for (ULONG i = 0; i < count; ++i) {
        const CComVariant element(profiles.GetAt(i));
        if ((element.vt != VT_UNKNOWN && element.vt != VT_DISPATCH) || element.punkVal == nullptr)
            continue;
        CComPtr<IHostTargetDescription> offered;
        if (FAILED(element.punkVal->QueryInterface(IID_IHostTargetDescription, reinterpret_cast<void**>(&offered))) ||
            !offered)
            continue;

        std::wstring requestedAlternative;
        std::wstring offeredAlternative;
        const bool requestedHasExtension = ReadAlternativeName(requested, requestedAlternative);
        const bool offeredHasExtension = ReadAlternativeName(offered, offeredAlternative);

        if (ReadHostText(requested, IID_IHostTargetDescription, &IHostTargetDescription::get_ProfileName) !=
            ReadHostText(offered.p, IID_IHostTargetDescription, &IHostTargetDescription::get_ProfileName))
            continue;
        if (!frame::EqualsNoCase(
                ReadHostText(requested, IID_IHostTargetDescription, &IHostTargetDescription::get_MimeType),
                ReadHostText(offered.p, IID_IHostTargetDescription, &IHostTargetDescription::get_MimeType)))
            continue;
        if (!SameFlag(requested, offered, &IHostTargetDescription::get_TargetFlag2) ||
            !SameFlag(requested, offered, &IHostTargetDescription::get_TargetFlag3) ||
            !SameFlag(requested, offered, &IHostTargetDescription::get_TargetFlag1))
            continue;

        if (requestedHasExtension || offeredHasExtension)
            return requestedAlternative == offeredAlternative;
        return true;
    }
    return false;
}

}  // namespace info
