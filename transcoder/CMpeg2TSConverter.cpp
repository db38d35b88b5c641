#include "transcoder/CMpeg2TSConverter.h"

#include "frame/ErrorBoundary.h"
#include "frame/HostCalls.h"
#include "frame/ParserLibrary.h"
#include "frame/TextCompare.h"
#include "platform/com_holders.h"
#include "source/Classifier.h"
#include "source/MediaItemSource.h"
#include "source/SourceFileTest.h"
#include "source/SourceProfiles.h"
#include "transcoder/TimeStampedPackets.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <new>
#include <string_view>

namespace transcoder {
namespace {

using MediaTranscoderLib::IID_IVskMediaTranscoder;
using MediaTranscoderLib::IVskMediaTranscoder;

// Where each operation's failures are reported in the log.
constexpr char SOURCE_NAME[] = ".\\Mpeg2TSConverter";
constexpr int LINE_OPEN = 657;
constexpr int LINE_START = 698;
constexpr int LINE_STOP = 717;
constexpr int LINE_SEEK_BY_BYTES = 766;
constexpr int LINE_SEEK_BY_TIME = 904;
constexpr int LINE_SET_RATE = 992;
constexpr int LINE_GET_SIZE = 1011;
constexpr int LINE_GET_DURATION = 1030;
constexpr int LINE_READ = 1177;

constexpr std::int64_t PACKET = STAMPED_PACKET_SIZE;
constexpr std::uint32_t UNKNOWN_DURATION = 0xFFFFFFFF;

// Which source profile codes a target profile accepts. A row applies when the
// MIME type matches and the profile name is one of the names; an alternative
// row applies when the profile name is empty and the alternative profile name
// is one of them. Rows are tried from the top.
struct SAcceptRow {
    const wchar_t* mimeType;
    bool alternative;
    std::array<const wchar_t*, 2> names;
    std::initializer_list<int> codes;
};

constexpr const wchar_t* MPEG = source::MIME_TYPE_MPEG;
constexpr const wchar_t* TTS = source::MIME_TYPE_TTS;

const SAcceptRow ACCEPT_ROWS[] = {
    {MPEG, false, {L"MPEG_TS_SD_NA_ISO"},                      {3, 15, 21}},
    {MPEG, false, {L"MPEG_TS_HD_NA_ISO"},                      {6, 18}},
    {MPEG, false, {L"MPEG_TS_SD_KO_ISO"},                      {9, 15}},
    {MPEG, false, {L"MPEG_TS_HD_KO_ISO"},                      {12, 18, 21}},
    {MPEG, false, {L"MPEG_TS_SD_EU_ISO"},                      {24}},
    {MPEG, true,  {L"AVC_TS_HD_60_AC3_ISO"},                   {27}},
    {MPEG, true,  {L"AVC_TS_HD_50_AC3_ISO"},                   {30}},
    {MPEG, true,  {L"AVC_TS_HD_24_AC3_ISO"},                   {33}},
    {MPEG, false, {L"AVC_TS_HD_60_AC3_ISO"},                   {27}},
    {MPEG, false, {L"AVC_TS_HD_50_AC3_ISO"},                   {30}},
    {MPEG, false, {L"AVC_TS_HD_24_AC3_ISO"},                   {33}},
    {MPEG, false, {L"MPEG_TS_HD_60_L2_ISO"},                   {34}},
    {MPEG, false, {L"MPEG_TS_HD_50_L2_ISO"},                   {35}},
    {TTS,  false, {L"MPEG_TS_SD_NA", L"MPEG_TS_SD_NA_T"},      {1, 2, 13, 14, 19, 20}},
    {TTS,  false, {L"MPEG_TS_HD_NA", L"MPEG_TS_HD_NA_T"},      {4, 5, 16, 17}},
    {TTS,  false, {L"MPEG_TS_SD_KO", L"MPEG_TS_SD_KO_T"},      {7, 8, 13, 14}},
    {TTS,  false, {L"MPEG_TS_HD_KO", L"MPEG_TS_HD_KO_T"},      {10, 11, 16, 17, 19, 20}},
    {TTS,  false, {L"MPEG_TS_SD_EU", L"MPEG_TS_SD_EU_T"},      {22, 23}},
    {TTS,  true,  {L"AVC_TS_HD_60_AC3", L"AVC_TS_HD_60_AC3_T"}, {25, 26}},
    {TTS,  true,  {L"AVC_TS_HD_50_AC3", L"AVC_TS_HD_50_AC3_T"}, {28, 29}},
    {TTS,  true,  {L"AVC_TS_HD_24_AC3", L"AVC_TS_HD_24_AC3_T"}, {31, 32}},
    {TTS,  false, {L"AVC_TS_HD_60_AC3", L"AVC_TS_HD_60_AC3_T"}, {25, 26}},
    {TTS,  false, {L"AVC_TS_HD_50_AC3", L"AVC_TS_HD_50_AC3_T"}, {28, 29}},
    {TTS,  false, {L"AVC_TS_HD_24_AC3", L"AVC_TS_HD_24_AC3_T"}, {31, 32}},
    // "video/x-mp2t-mphl-188" has no rows: only an empty profile name serves.
};

bool NamesContain(const SAcceptRow& row, const std::wstring& name)
{
    return std::any_of(row.names.begin(), row.names.end(),
                       [&](const wchar_t* n) { return n != nullptr && name == n; });
}

bool CodesContain(const SAcceptRow& row, int code)
{
    return std::find(row.codes.begin(), row.codes.end(), code) != row.codes.end();
}

// Reads a flag of the target; a failing read raises the target's failure.
VARIANT_BOOL ReadFlag(IHostTargetDescription* target, HRESULT (STDMETHODCALLTYPE IHostTargetDescription::*get)(VARIANT_BOOL*))
{
    return frame::ReadHostFlag(target, IID_IHostTargetDescription, get);
}

// A VARIANT_BOOL counts as TRUE only at -1 and as FALSE only at 0.
bool IsTrue(VARIANT_BOOL value)
{
    return value == VARIANT_TRUE;
}
bool IsFalse(VARIANT_BOOL value)
{
    return value == VARIANT_FALSE;
}

}  // namespace

bool CMpeg2TSConverter::IsTimeStamped() const
{
    return source::IsTimeStampedAvcSource(m_profileCode);
}

HRESULT CMpeg2TSConverter::Open(VARIANT source, IHostTargetDescription* target) noexcept
{
    if ((source.vt != VT_BSTR && source.vt != VT_DISPATCH && source.vt != VT_UNKNOWN) || target == nullptr)
        return E_INVALIDARG;
    // An object source must hold an object.
    if (source.vt != VT_BSTR && source::SourceObject(source) == nullptr)
        return E_INVALIDARG;
    return frame::CallAtBoundary(SOURCE_NAME, LINE_OPEN, [&] { return OpenBody(source, target); });
}

HRESULT CMpeg2TSConverter::OpenBody(const VARIANT& source, IHostTargetDescription* target)
{
    Close();

    const std::wstring mime = frame::ReadHostText(target, IID_IHostTargetDescription, &IHostTargetDescription::get_MimeType);
    const std::wstring profile =
        frame::ReadHostText(target, IID_IHostTargetDescription, &IHostTargetDescription::get_ProfileName);
    CComBSTR alternative;
    CComPtr<IHostTargetDescriptionExt> extension;
    if (SUCCEEDED(target->QueryInterface(IID_IHostTargetDescriptionExt, reinterpret_cast<void**>(&extension))) &&
        extension)
        extension->get_AlternativeProfileName(&alternative);  // a failure leaves the name empty

    bool accepted = false;
    LONGLONG duration = -1;
    if (source.vt == VT_BSTR) {
        const std::wstring path = frame::BstrText(source.bstrVal);
        if (!source::IsTransportStreamFile(path))
            frame::RaiseHr(E_INVALIDARG);
        m_path = path;
        accepted = AcceptPathSource(mime, profile, target);
    } else {
        accepted = AcceptMediaItem(source::SourceObject(source), mime, profile, frame::BstrText(alternative), target,
                                   duration);
    }
    if (!accepted)
        frame::RaiseHr(E_FAIL);

    if (!m_file.Open(m_path.c_str(), platform::EFileMode::READ_SHARED))
        frame::RaiseHr(E_INVALIDARG);
    const std::int64_t size = m_file.Size();
    if (duration != -1 && size != -1)
        m_timeSeekReady = 1;
    m_fileSize = size;
    m_durationMs = static_cast<std::uint32_t>(duration);
    m_state = STATE_STOPPED;
    return S_OK;
}

bool CMpeg2TSConverter::AcceptPathSource(const std::wstring& mimeType, const std::wstring& profileName,
                                         IHostTargetDescription* target)
{
    if (!frame::EqualsNoCase(mimeType, MPEG) && !frame::EqualsNoCase(mimeType, TTS))
        return false;
    if (!profileName.empty())
        frame::RaiseHr(E_FAIL);
    // Read in this order, stopping at the first flag that does not match.
    return IsFalse(ReadFlag(target, &IHostTargetDescription::get_TargetFlag2)) &&
           IsTrue(ReadFlag(target, &IHostTargetDescription::get_TargetFlag3)) &&
           IsFalse(ReadFlag(target, &IHostTargetDescription::get_TargetFlag1));
}

bool CMpeg2TSConverter::AcceptMediaItem(IUnknown* object, const std::wstring& mimeType, const std::wstring& profileName,
                                        const std::wstring& alternativeName, IHostTargetDescription* target,
                                        LONGLONG& duration)
{
    const CComPtr<IHostMediaItem> item = source::QueryMediaItem(object);
    const std::wstring path = source::ReadMediaItemPath(item);
    bool is192 = false;
    if (!source::ProbePacketSize(path, is192))
        frame::RaiseHr(E_INVALIDARG);
    m_path = path;

    LONG durationMs = -1;
    frame::CheckHost(item->get_Duration(&durationMs), item, IID_IHostMediaItem);
    duration = durationMs;
    LONGLONG hostSize = -1;  // checked, not used: the opened file tells the size
    frame::CheckHost(item->get_Size(&hostSize), item, IID_IHostMediaItem);

    m_profileCode = 0;
    bool videoOk = false;
    bool audioOk = false;
    int code = 0;
    if (!source::ClassifyMediaItem(item, &videoOk, &audioOk, &code)) {
        // Unclassifiable: only the plain profile without target flag 1 serves.
        return profileName.empty() && IsFalse(ReadFlag(target, &IHostTargetDescription::get_TargetFlag1));
    }
    m_profileCode = code;

    for (const SAcceptRow& row : ACCEPT_ROWS) {
        if (!frame::EqualsNoCase(mimeType, row.mimeType))
            continue;
        const bool applies = row.alternative ? profileName.empty() && NamesContain(row, alternativeName)
                                             : NamesContain(row, profileName);
        if (!applies)
            continue;
        if (!CodesContain(row, m_profileCode))
            frame::RaiseHr(E_INVALIDARG);
        return CheckTargetFlags(target);
    }
    const bool knownMime = frame::EqualsNoCase(mimeType, MPEG) || frame::EqualsNoCase(mimeType, TTS);
    if (!knownMime && !frame::EqualsNoCase(mimeType, source::MIME_TYPE_MPHL_188))
        return false;
    if (profileName.empty()) {
        return IsTrue(ReadFlag(target, &IHostTargetDescription::get_TargetFlag3)) &&
               IsFalse(ReadFlag(target, &IHostTargetDescription::get_TargetFlag1));
    }
    if (knownMime)
        frame::RaiseHr(E_FAIL);
    return false;
}

bool CMpeg2TSConverter::CheckTargetFlags(IHostTargetDescription* target)
{
    if (!IsTrue(ReadFlag(target, &IHostTargetDescription::get_TargetFlag3)))
        return false;
    if (!IsFalse(ReadFlag(target, &IHostTargetDescription::get_TargetFlag1)))
        return false;
    const bool available = frame::IsParserLibraryAvailable(m_libraryHint);
    const bool timeSeek = IsTrue(ReadFlag(target, &IHostTargetDescription::get_TargetFlag2));
    return available ? timeSeek : !timeSeek;
}

HRESULT CMpeg2TSConverter::Close() noexcept
{
    m_file.Close();
    m_fileSize = -1;
    m_durationMs = UNKNOWN_DURATION;
    m_timeSeekReady = 0;
    m_state = STATE_CLOSED;
    m_profileCode = 0;
    m_pendingSkip = -1;
    return S_OK;
}

HRESULT CMpeg2TSConverter::Start() noexcept
{
    return frame::CallAtBoundary(SOURCE_NAME, LINE_START, [&] {
        if (m_state == STATE_CLOSED)
            frame::RaiseHr(E_FAIL);
        m_state = STATE_STARTED;
        return S_OK;
    });
}

HRESULT CMpeg2TSConverter::Stop() noexcept
{
    return frame::CallAtBoundary(SOURCE_NAME, LINE_STOP, [&] {
        if (m_state == STATE_CLOSED)
            frame::RaiseHr(E_FAIL);
        m_state = STATE_STOPPED;
        return S_OK;
    });
}

std::int64_t CMpeg2TSConverter::MoveTo(std::int64_t position)
{
    std::int64_t skip = 0;
    if (IsTimeStamped()) {
        const SPacketAlignment aligned = AlignToPacket(position);
        position = aligned.position;
        skip = aligned.skip;
    }
    if (!m_file.Seek(position))
        frame::RaiseHr(E_FAIL);
    // Every seek starts afresh: a skip left by an earlier seek must not cut
    // into the bytes this one asked for.
    m_pendingSkip = skip > 0 ? skip : -1;
    return position;
}

HRESULT CMpeg2TSConverter::SeekByBytes(LONGLONG position) noexcept
{
    return frame::CallAtBoundary(SOURCE_NAME, LINE_SEEK_BY_BYTES, [&] {
        if (m_state != STATE_STOPPED || !m_file.IsOpen())
            frame::RaiseHr(E_FAIL);
        MoveTo(position);
        return S_OK;
    });
}

HRESULT CMpeg2TSConverter::SeekByTime(ULONG timeMs, ULONG* actualTimeMs, LONGLONG* bytePosition) noexcept
{
    if (actualTimeMs == nullptr || bytePosition == nullptr)
        return E_POINTER;
    return frame::CallAtBoundary(SOURCE_NAME, LINE_SEEK_BY_TIME,
                                 [&] { return SeekByTimeBody(timeMs, actualTimeMs, bytePosition); });
}

HRESULT CMpeg2TSConverter::SeekByTimeBody(ULONG timeMs, ULONG* actualTimeMs, LONGLONG* bytePosition)
{
    if (!m_file.IsOpen() || m_state != STATE_STOPPED || m_timeSeekReady != 1 ||
        !frame::IsParserLibraryAvailable(m_libraryHint) || !m_file.IsOpen())
        frame::RaiseHr(E_FAIL);
    const std::uint32_t duration = m_durationMs;
    if (static_cast<std::uint32_t>(timeMs) > duration)
        frame::RaiseHr(E_INVALIDARG);
    // The very end has no picture to show: ask for 100 ms before it.
    std::uint32_t t = static_cast<std::uint32_t>(timeMs);
    if (t == duration)
        t = duration >= 100 ? duration - 100 : 0;

    std::uint32_t found = 0xFFFFFFFF;
    std::int64_t pos = -1;
    const HRESULT hr = frame::CallGetTimeSeekPosition(m_path.c_str(), duration, t, false, &found, &pos);
    if (FAILED(hr))
        frame::RaiseHr(hr);
    // Clamp first, then align, so the skip belongs to the position used.
    if (m_fileSize != -1 && pos > m_fileSize)
        pos = m_fileSize;
    if (pos < 0)
        pos = 0;
    pos = MoveTo(pos);
    *actualTimeMs = found > duration ? duration : found;
    *bytePosition = pos;
    return S_OK;
}

HRESULT CMpeg2TSConverter::GetRangeEnd(ULONG endValue, ULONG* endValueOut, LONGLONG* lastBytePosition) noexcept
{
    if (endValueOut == nullptr || lastBytePosition == nullptr)
        return E_POINTER;
    *endValueOut = endValue;
    *lastBytePosition = m_fileSize - 1;
    return S_OK;
}

HRESULT CMpeg2TSConverter::SetRate(double rate) noexcept
{
    return frame::CallAtBoundary(SOURCE_NAME, LINE_SET_RATE, [&] {
        if (m_state == STATE_CLOSED)
            frame::RaiseHr(E_FAIL);
        if (rate != 1.0)
            frame::RaiseHr(E_INVALIDARG);
        return S_OK;
    });
}

HRESULT CMpeg2TSConverter::GetSize(LONGLONG* size) noexcept
{
    if (size == nullptr)
        return E_POINTER;
    return frame::CallAtBoundary(SOURCE_NAME, LINE_GET_SIZE, [&] {
        if (m_state == STATE_CLOSED)
            frame::RaiseHr(E_FAIL);
        *size = m_fileSize;
        return S_OK;
    });
}

HRESULT CMpeg2TSConverter::GetDuration(ULONG* durationMs) noexcept
{
    if (durationMs == nullptr)
        return E_POINTER;
    return frame::CallAtBoundary(SOURCE_NAME, LINE_GET_DURATION, [&] {
        if (m_state == STATE_CLOSED)
            frame::RaiseHr(E_FAIL);
        *durationMs = m_durationMs;
        return S_OK;
    });
}

HRESULT CMpeg2TSConverter::Read(LONG count, SAFEARRAY** data, VARIANT_BOOL* endOfStream) noexcept
{
    if (data == nullptr || endOfStream == nullptr)
        return E_POINTER;
    if (count < 1)
        return E_INVALIDARG;
    return frame::CallAtBoundary(SOURCE_NAME, LINE_READ, [&] { return ReadBody(count, data, endOfStream); });
}

HRESULT CMpeg2TSConverter::ReadBody(LONG count, SAFEARRAY** data, VARIANT_BOOL* endOfStream)
{
    if (m_state != STATE_STARTED || !m_file.IsOpen())
        frame::RaiseHr(E_FAIL);

    const bool stamped = IsTimeStamped();
    const std::int64_t skip = m_pendingSkip > 0 ? m_pendingSkip : 0;
    const std::int64_t wanted = count;
    // A read that starts inside a packet and wants less than the rest of it
    // plus one whole packet reads the packets it touches, delivers `count`
    // bytes and puts the file pointer back behind them.
    bool shortAfterSkip = false;
    std::int64_t n = wanted;
    if (stamped && skip > 0) {
        if (wanted >= skip + PACKET) {
            n = (wanted - skip) / PACKET * PACKET;
        } else {
            n = (skip + wanted + PACKET - 1) / PACKET * PACKET;
            shortAfterSkip = true;
        }
    } else if (stamped) {
        // Whole packets where a request above one packet allows it.
        if (wanted > PACKET && wanted % PACKET != 0)
            n = wanted / PACKET * PACKET;
    }

    // The file is read straight into the array the caller gets, and stamped
    // prefixes are cleared there: one pass over the bytes and nothing else
    // allocated. What is not delivered (a pending skip in front, a short read
    // or a read past `count` behind) is cut off afterwards, which moves bytes
    // only on the first read after a seek.
    const std::int64_t start = shortAfterSkip ? m_file.Position() : 0;
    CComSafeArray<BYTE> array;
    array.CreateToFill(static_cast<ULONG>(n));
    std::uint8_t* bytes = array.GetData();
    const std::int64_t m = m_file.Read(bytes, static_cast<std::size_t>(n));
    if (m < 0)
        frame::RaiseHr(E_FAIL);
    if (stamped && m >= PACKET)
        ClearTimeStamps(bytes, static_cast<std::size_t>(m));

    // What lies beyond the skip (nothing when the file ends inside it).
    std::int64_t k = std::max<std::int64_t>(0, m - skip);
    if (shortAfterSkip)
        k = std::min(k, wanted);
    if (skip > 0 && k > 0)
        std::memmove(bytes, bytes + skip, static_cast<std::size_t>(k));
    if (k != n)
        array.Resize(static_cast<ULONG>(k));

    m_pendingSkip = -1;
    if (shortAfterSkip && skip + k < m) {
        // Back to the packet that holds the first byte not delivered yet.
        const std::int64_t next = start + skip + k;
        const SPacketAlignment aligned = AlignToPacket(next);
        if (!m_file.Seek(aligned.position))
            frame::RaiseHr(E_FAIL);
        m_pendingSkip = aligned.skip > 0 ? aligned.skip : -1;
    }
    *data = array.Detach();
    *endOfStream = k == 0 ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

HRESULT CreateMpeg2TSConverter(const std::wstring& libraryHint, IVskMediaTranscoder** converter) noexcept
{
    // Copying the hint may fail for memory; callers get an HRESULT, as from
    // every other way of creating the object.
    try {
        return CComCreator<CMpeg2TSConverter>::CreateAndQuery(
            IID_IVskMediaTranscoder, reinterpret_cast<void**>(converter),
            [&](CMpeg2TSConverter& object) { object.SetLibraryHint(libraryHint); });
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_FAIL;
    }
}

}  // namespace transcoder
