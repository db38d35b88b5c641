#include "info/MediaProperties.h"

#include "frame/ErrorBoundary.h"
#include "frame/HostCalls.h"
#include "frame/TextCompare.h"
#include "platform/file.h"
#include "source/MediaItemSource.h"
#include "source/SourceProfiles.h"

namespace info {
namespace {

constexpr LONG UNKNOWN_VALUE = -1;

constexpr wchar_t PROPERTY_DURATION[] = L"duration";
constexpr wchar_t PROPERTY_SIZE[] = L"size";
constexpr wchar_t PROPERTY_BITRATE[] = L"bitrate";
constexpr wchar_t PROPERTY_RESOLUTION[] = L"resolution";
constexpr wchar_t PROPERTY_AUDIO_CHANNELS[] = L"nrAudioChannels";
constexpr wchar_t PROPERTY_SAMPLE_FREQUENCY[] = L"sampleFrequency";

// At least `digits` digits, zero-padded.
std::wstring Padded(std::uint32_t value, std::size_t digits)
{
    std::wstring text = std::to_wstring(value);
    if (text.size() < digits)
        text.insert(0, digits - text.size(), L'0');
    return text;
}

void AddProperty(CResultList& list, const wchar_t* name, const std::wstring& value)
{
    const CComPtr<IHostMediaProperty> property =
        CreateHostObject<IHostMediaProperty>(CLSID_HostMediaProperty, IID_IHostMediaProperty);
    const CComBSTR nameText(name);
    frame::CheckHost(property->put_Name(nameText), property, IID_IHostMediaProperty);
    const CComBSTR valueText(value);
    frame::CheckHost(property->put_Value(valueText), property, IID_IHostMediaProperty);
    AppendToList(list, property);
}

bool IsPathMimeType(const std::wstring& mimeType) noexcept
{
    return frame::EqualsNoCase(mimeType, source::MIME_TYPE_MPEG) || frame::EqualsNoCase(mimeType, source::MIME_TYPE_TTS);
}

bool IsItemMimeType(const std::wstring& mimeType) noexcept
{
    return IsPathMimeType(mimeType) || frame::EqualsNoCase(mimeType, source::MIME_TYPE_MPHL_188);
}

void AddPathProperties(CResultList& list, const VARIANT& source)
{
    const std::wstring path = frame::BstrText(source.bstrVal);
    std::int64_t size = -1;
    {
        platform::CFile file;
        if (!file.Open(path.c_str(), platform::EFileMode::READ_SHARED))
            return;
        size = file.Size();
    }
    // A size the system could not report is no size at all.
    if (size >= 0)
        AddProperty(list, PROPERTY_SIZE, FormatInt64(size));
}

// Resolution from whichever video description the stream offers, MPEG-2 first.
template <class Description>
void AddResolution(CResultList& list, Description* video)
{
    LONG width = UNKNOWN_VALUE;
    LONG height = UNKNOWN_VALUE;
    const HRESULT widthResult = video->get_Width(&width);
    const HRESULT heightResult = video->get_Height(&height);
    if (SUCCEEDED(widthResult) && SUCCEEDED(heightResult) && width != UNKNOWN_VALUE && height != UNKNOWN_VALUE)
        AddProperty(list, PROPERTY_RESOLUTION, FormatResolution(width, height));
}

template <class Description>
void AddAudio(CResultList& list, Description* audio)
{
    LONG channels = UNKNOWN_VALUE;
    if (SUCCEEDED(audio->get_Channels(&channels)) && channels != UNKNOWN_VALUE)
        AddProperty(list, PROPERTY_AUDIO_CHANNELS, FormatLong(channels));
    LONG sampleRate = UNKNOWN_VALUE;
    if (SUCCEEDED(audio->get_SampleRate(&sampleRate)) && sampleRate != UNKNOWN_VALUE)
        AddProperty(list, PROPERTY_SAMPLE_FREQUENCY, FormatLong(sampleRate));
}

template <class Description>
CComPtr<Description> Offered(IUnknown* stream, REFIID iid)
{
    CComPtr<Description> description;
    if (FAILED(stream->QueryInterface(iid, reinterpret_cast<void**>(&description))))
        description.Release();
    return description;
}

void AddStreamProperties(CResultList& list, IHostMediaItem* item)
{
    CComPtr<IUnknown> videoStream;
    CComPtr<IUnknown> audioStream;
    const HRESULT videoResult = item->get_VideoStream(&videoStream);
    const HRESULT audioResult = item->get_AudioStream(&audioStream);
    if (FAILED(videoResult) || FAILED(audioResult) || !videoStream || !audioStream)
        return;

    if (auto mpeg2 = Offered<IHostMpeg2VideoDescription>(videoStream, IID_IHostMpeg2VideoDescription))
        AddResolution(list, mpeg2.p);
    else if (auto avc = Offered<IHostAvcVideoDescription>(videoStream, IID_IHostAvcVideoDescription))
        AddResolution(list, avc.p);

    if (auto mpegAudio = Offered<IHostMpegAudioDescription>(audioStream, IID_IHostMpegAudioDescription))
        AddAudio(list, mpegAudio.p);
    else if (auto ac3 = Offered<IHostAc3AudioDescription>(audioStream, IID_IHostAc3AudioDescription))
        AddAudio(list, ac3.p);
    else if (auto other = Offered<IHostOtherAudioDescription>(audioStream, IID_IHostOtherAudioDescription))
        AddAudio(list, other.p);
}

void AddMediaItemProperties(CResultList& list, const VARIANT& source, const std::wstring& mimeType)
{
    IUnknown* object = source::SourceObject(source);
    if (object == nullptr)
        return;
    CComPtr<IHostMediaItem> item;
    if (FAILED(object->QueryInterface(IID_IHostMediaItem, reinterpret_cast<void**>(&item))) || !item)
        return;
    if (!IsItemMimeType(mimeType))
        return;

    // Every negative duration counts as unknown: printed unsigned it would
    // read as a false duration of some 49 days, which a client takes for real.
    LONG duration = UNKNOWN_VALUE;
    if (SUCCEEDED(item->get_Duration(&duration)) && duration >= 0)
        AddProperty(list, PROPERTY_DURATION, FormatDuration(static_cast<std::uint32_t>(duration)));
    LONGLONG size = -1;
    if (SUCCEEDED(item->get_Size(&size)) && size != -1)
        AddProperty(list, PROPERTY_SIZE, FormatInt64(size));
    LONG bitRate = UNKNOWN_VALUE;
    if (SUCCEEDED(item->get_BitRate(&bitRate)) && bitRate != UNKNOWN_VALUE)
        AddProperty(list, PROPERTY_BITRATE, FormatLong(bitRate / 8));
    AddStreamProperties(list, item);
}

}  // namespace

std::wstring FormatDuration(std::uint32_t milliseconds)
{
    const std::uint32_t hours = milliseconds / 3600000;
    const std::uint32_t minutes = (milliseconds % 3600000) / 60000;
    const std::uint32_t seconds = (milliseconds % 60000) / 1000;
    const std::uint32_t rest = milliseconds % 1000;
    return Padded(hours, 2) + L":" + Padded(minutes, 2) + L":" + Padded(seconds, 2) + L"." + Padded(rest, 3);
}

std::wstring FormatInt64(std::int64_t value)
{
    return std::to_wstring(static_cast<long long>(value));
}

std::wstring FormatLong(std::int32_t value)
{
    return std::to_wstring(value);
}

std::wstring FormatResolution(std::int32_t width, std::int32_t height)
{
    return FormatLong(width) + L"x" + FormatLong(height);
}

CResultList BuildMediaProperties(const VARIANT& source, const std::wstring& mimeType)
{
    CResultList list;
    list.Create(0);
    if (source.vt == VT_BSTR) {
        if (IsPathMimeType(mimeType))
            AddPathProperties(list, source);
    } else if (source.vt == VT_UNKNOWN || source.vt == VT_DISPATCH) {
        AddMediaItemProperties(list, source, mimeType);
    }
    return list;
}

}  // namespace info
