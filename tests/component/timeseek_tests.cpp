// Seeking by play time through the component with the real parser library,
// as a host does it: settings, catalogue, a media item's profiles, a
// converter opened for one of them, then Stop, SeekByTime, Start, Read. The
// answers are checked against what ffprobe read in ffmpeg's recordings, not
// against the library itself. Compiled into one program per place the
// library can be found (ParserPlacement.h).
#include "ComponentLibrary.h"
#include "ParserPlacement.h"

#include "frame/MediaTranscoderLib.h"
#include "host/host_kit.h"
#include "platform/com_holders.h"
#include "vsktest/FfmpegRecordings.h"
#include "vsktest/TempDir.h"
#include "vsktest/WideText.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace componenttest {
namespace {

using namespace MediaTranscoderLib;
using vsktest::FfmpegRecording;
using vsktest::ProbePacket;
using Bytes = std::vector<std::uint8_t>;

constexpr std::int64_t UNIT_192 = 192;
// What the host asks Read for after a seek: not a whole number of 192-byte
// units, so time-stamped sources read whole units below it.
constexpr LONG READ_COUNT = 200000;

HostSettingsTree Settings(const wchar_t* profileType)
{
    return {{L"Profile", {{L"Type", profileType}}},
            {L"SpecifiedExtensionPath", {{L"VskMpegParser", ParserPlacement().settingsDirectory}}}};
}

CComPtr<IVskMediaTranscoderInfo> NewInfo(const wchar_t* profileType = L"DLNA")
{
    CComPtr<IVskMediaTranscoderInfo> info;
    EXPECT_EQ(CoCreateInstance(CLSID_Mpeg2TSConverterInfo, nullptr, CLSCTX_INPROC_SERVER, IID_IVskMediaTranscoderInfo,
                               reinterpret_cast<void**>(&info)),
              S_OK);
    if (info) {
        EXPECT_EQ(info->LoadSettings(CreateHostSettings(Settings(profileType))), S_OK);
    }
    return info;
}

// The component registered, the host kit's classes with it, and the
// library's one probe made through the info object with the program's
// setting, before any test.
class CHostEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
        m_library = std::make_unique<vsktest::CComponentLibrary>(ParserPlacement().component);
        m_registration = std::make_unique<vsktest::CComponentRegistration>(*m_library);
        ASSERT_TRUE(m_registration->Registered());
        m_hostKit = std::make_unique<CHostKitRegistration>(RegisterHostKitClasses());
        ASSERT_EQ(m_hostKit->Result(), S_OK);
        CComPtr<IVskMediaTranscoderInfo> info = NewInfo();
        ASSERT_TRUE(info);
        SAFEARRAY* list = nullptr;
        ASSERT_EQ(info->GetSupportedProfiles(&list), S_OK);
        SafeArrayDestroy(list);
    }

    void TearDown() override
    {
        m_hostKit.reset();
        m_registration.reset();
        CoUninitialize();
    }

private:
    std::unique_ptr<vsktest::CComponentLibrary> m_library;
    std::unique_ptr<vsktest::CComponentRegistration> m_registration;
    std::unique_ptr<CHostKitRegistration> m_hostKit;
};

const ::testing::Environment* const g_environment = ::testing::AddGlobalTestEnvironment(new CHostEnvironment);

struct STarget {
    std::wstring profileName;
    VARIANT_BOOL flag2 = VARIANT_FALSE;
    CComPtr<IHostTargetDescription> object;
};

std::vector<STarget> TakeTargets(SAFEARRAY* list)
{
    CComSafeArray<VARIANT> array;
    array.Attach(list);
    std::vector<STarget> targets;
    for (ULONG i = 0; i < array.GetCount(); ++i) {
        STarget target;
        EXPECT_EQ(array.GetAt(i).punkVal->QueryInterface(IID_IHostTargetDescription,
                                                        reinterpret_cast<void**>(&target.object)),
                  S_OK);
        CComBSTR name;
        EXPECT_EQ(target.object->get_ProfileName(&name), S_OK);
        target.profileName = name ? std::wstring(name.View()) : std::wstring();
        EXPECT_EQ(target.object->get_TargetFlag2(&target.flag2), S_OK);
        targets.push_back(std::move(target));
    }
    return targets;
}

TEST(TimeSeekCatalogue, Flag2IsTrueInEveryEntryButTheTwoThatDoNotAskForIt)
{
    for (const auto& [mode, count] : {std::pair{L"DLNA", 28u}, std::pair{L"OVELPN", 31u}}) {
        SCOPED_TRACE(vsktest::ToUtf8(mode));
        SAFEARRAY* list = nullptr;
        ASSERT_EQ(NewInfo(mode)->GetSupportedProfiles(&list), S_OK);
        const std::vector<STarget> targets = TakeTargets(list);
        ASSERT_EQ(targets.size(), count);
        // The two trailing entries (empty names) are the ones served without
        // time seeking.
        std::vector<VARIANT_BOOL> flags;
        for (const STarget& target : targets)
            flags.push_back(target.flag2);
        std::vector<VARIANT_BOOL> expected(count, VARIANT_TRUE);
        expected[count - 2] = expected[count - 1] = VARIANT_FALSE;
        EXPECT_EQ(flags, expected);
        EXPECT_EQ(targets[count - 2].profileName + targets[count - 1].profileName, L"");
    }
}

// ---------------------------------------------------------------------------
// The library's answers, from ffprobe's packets alone.

struct SAnswer {
    std::uint32_t timeMs = 0;
    std::int64_t position = 0;
};

// ffprobe's video packets the library looks at: all but the last, which
// the transport-stream reader still holds when the data ends.
std::vector<ProbePacket> ExaminedPackets(FfmpegRecording recording)
{
    std::vector<ProbePacket> packets = vsktest::ReadProbePackets(recording).packets;
    if (!packets.empty())
        packets.pop_back();
    return packets;
}

// The packet just before the first one, in file order, whose PTS lies more
// than timeMs after the first packet's, with its time after the first
// packet (0 for a picture shown before it). Time 0 is the start of the file.
SAnswer LibraryAnswer(const std::vector<ProbePacket>& examined, std::uint32_t timeMs)
{
    if (timeMs == 0)
        return {};
    const std::int64_t start = examined.front().pts;
    const auto beyond = std::find_if(examined.begin(), examined.end(), [&](const ProbePacket& p) {
        return p.pts - start > std::int64_t{timeMs} * 90;
    });
    const ProbePacket& answer = *(beyond - 1);
    return {static_cast<std::uint32_t>(std::max<std::int64_t>(0, answer.pts - start) / 90), answer.pos};
}

// A play time for the whole recording, as a host's media item gives it: up
// to the latest picture examined, plus one frame.
std::uint32_t DurationMs(const std::vector<ProbePacket>& examined)
{
    std::int64_t last = 0;
    for (const ProbePacket& p : examined)
        last = std::max(last, p.pts - examined.front().pts);
    return static_cast<std::uint32_t>(last / 90 + 40);
}

// ---------------------------------------------------------------------------
// A recording served as a media item classified to one source profile code.

struct SServed {
    FfmpegRecording recording;
    int code;
    // The AVC time-stamped codes: positions on whole 192-byte units, each
    // unit's 4-byte prefix delivered as zeros.
    bool stamped;
    // Served from a copy under this name, in a temporary folder.
    const wchar_t* copyName = nullptr;
};

void PrintTo(const SServed& served, std::ostream* out)
{
    *out << vsktest::RecordingFileName(served.recording) << " as code " << served.code;
}

// Stream facts that classify to `code`: one family per frame rate, the
// packet form naming the member. The recording's own pictures are smaller;
// the component classifies by what the host tells it.
CComPtr<CComObject<CHostMediaItem>> MakeItem(const SServed& served, const std::filesystem::path& path,
                                             std::int64_t size, std::uint32_t durationMs)
{
    const bool avc = served.code >= 25 && served.code <= 33;
    const int member = avc ? (served.code - 25) % 3 : 2;
    constexpr LONG FORMATS[] = {HOST_PACKET_FORMAT_192_ZERO_STAMPS, HOST_PACKET_FORMAT_192_STAMPED,
                                HOST_PACKET_FORMAT_188};
    constexpr double AVC_RATES[] = {29.97, 25.0, 24.0};

    auto item = CreateHostMediaItem();
    item->m_path = CComVariant(vsktest::WideFromPath(path).c_str());
    item->m_size = size;
    item->m_duration = static_cast<LONG>(durationMs);
    item->m_bitRate = 19392700;
    item->m_packetFormat = FORMATS[member];
    item->m_videoStreamCount = 1;
    item->m_audioStreamCount = 1;

    auto video = CreateHostStream(avc ? HOST_DESCRIPTION_AVC_VIDEO : HOST_DESCRIPTION_MPEG2_VIDEO);
    HostVideoFacts& v = video->m_video;
    v.width = avc ? 1920 : 720;
    v.height = avc ? 1080 : 576;
    v.aspectRatioCode = 3;
    v.profile = 2;
    v.level = avc ? 10 : 2;
    v.frameRate = avc ? AVC_RATES[(served.code - 25) / 3] : 25.0;
    v.primaryBitRate = avc ? 12000000 : 8000000;
    item->m_videoStream = static_cast<IHostMpeg2VideoDescription*>(video.p);
    auto audio = CreateHostStream(HOST_DESCRIPTION_AC3_AUDIO);
    HostAudioFacts& a = audio->m_audio;
    a.sampleRate = 48000;
    a.channels = 6;
    a.bitRate = 448000;
    item->m_audioStream = static_cast<IHostAc3AudioDescription*>(audio.p);
    return item;
}

CComPtr<IVskMediaTranscoder> NewConverter(IVskMediaTranscoderInfo* info)
{
    CComPtr<IVskMediaTranscoder> converter;
    if (ParserPlacement().convertersByClassId) {
        EXPECT_EQ(CoCreateInstance(CLSID_Mpeg2TSConverter, nullptr, CLSCTX_INPROC_SERVER, IID_IVskMediaTranscoder,
                                   reinterpret_cast<void**>(&converter)),
                  S_OK);
    } else {
        EXPECT_EQ(info->CreateTranscoder(&converter), S_OK);
    }
    return converter;
}

// One Read that must succeed: its bytes, and its end-of-stream flag.
Bytes ReadBytes(IVskMediaTranscoder* converter, LONG count, VARIANT_BOOL& endOfStream)
{
    SAFEARRAY* data = nullptr;
    endOfStream = 1;  // neither TRUE nor FALSE until Read sets it
    EXPECT_EQ(converter->Read(count, &data, &endOfStream), S_OK);
    if (data == nullptr)
        return {};
    CComSafeArray<BYTE> array;
    array.Attach(data);
    return Bytes(array.GetData(), array.GetData() + array.GetCount());
}

class TimeSeekServing : public ::testing::TestWithParam<SServed> {
protected:
    void SetUp() override
    {
        const std::string missing = vsktest::RecordingMissing(GetParam().recording);
        if (!missing.empty()) {
            const std::string none = vsktest::AllRecordingsMissing();
            if (!none.empty())
                std::cout << vsktest::RECORDINGS_UNAVAILABLE << ' ' << none << std::endl;
            GTEST_SKIP() << missing;
        }
        m_file = vsktest::ReadRecording(GetParam().recording);
        m_examined = ExaminedPackets(GetParam().recording);
        ASSERT_GT(m_examined.size(), 10u) << "ffprobe found too few video packets";
        m_durationMs = DurationMs(m_examined);
        // What the client receives of each byte.
        m_delivered = m_file;
        if (GetParam().stamped) {
            for (std::size_t at = 0; at + UNIT_192 <= m_delivered.size(); at += UNIT_192)
                std::fill_n(m_delivered.begin() + static_cast<std::ptrdiff_t>(at), 4, 0);
        }
    }

    // `count` bytes from `position` on, as the client should receive them.
    Bytes DeliveredFrom(std::int64_t position, std::int64_t count) const
    {
        const auto from = m_delivered.begin() + static_cast<std::ptrdiff_t>(position);
        return Bytes(from, from + static_cast<std::ptrdiff_t>(count));
    }

    Bytes m_file;
    Bytes m_delivered;
    std::vector<ProbePacket> m_examined;
    std::uint32_t m_durationMs = 0;
};

TEST_P(TimeSeekServing, GoesWhereTheLibraryPointsAndDeliversTheFileFromThere)
{
    const SServed& served = GetParam();
    std::filesystem::path path = vsktest::RecordingPath(served.recording);
    vsktest::CTempDir copyDir;
    if (served.copyName != nullptr) {
        path = vsktest::PathFromWide(copyDir.File(served.copyName));
        vsktest::WriteFileBytes(path, m_file);
    }
    const std::int64_t size = static_cast<std::int64_t>(m_file.size());
    CComPtr<IVskMediaTranscoderInfo> info = NewInfo();
    auto item = MakeItem(served, path, size, m_durationMs);
    CComVariant source(static_cast<IUnknown*>(static_cast<IHostMediaItem*>(item.p)));

    // The host serves the item as the first profile offered for it, which
    // announces time seeking.
    SAFEARRAY* list = nullptr;
    ASSERT_EQ(info->GetSourceProfiles(source, &list), S_OK);
    const std::vector<STarget> offered = TakeTargets(list);
    ASSERT_FALSE(offered.empty());
    EXPECT_EQ(offered[0].flag2, VARIANT_TRUE);
    CComPtr<IVskMediaTranscoder> converter = NewConverter(info);
    ASSERT_TRUE(converter);
    ASSERT_EQ(converter->Open(source, offered[0].object), S_OK);

    const std::uint32_t d = m_durationMs;
    // From the first moment to the very end (which asks for 100 ms before
    // it); the late ones start the library's search past the start of the
    // file.
    const std::uint32_t times[] = {0, 1, d / 5, d / 2, d * 3 / 4, d * 19 / 20, d - 1, d};
    for (const std::uint32_t timeMs : times) {
        SCOPED_TRACE(testing::Message() << "SeekByTime(" << timeMs << ") of " << d << " ms");
        const SAnswer library = LibraryAnswer(m_examined, timeMs == d ? d - 100 : timeMs);
        ULONG actual = 0;
        LONGLONG position = -1;
        ASSERT_EQ(converter->SeekByTime(timeMs, &actual, &position), S_OK);
        EXPECT_EQ(actual, std::min(library.timeMs, d));
        // The answers in a 192-byte recording are unit starts, so a
        // time-stamped source has nothing left to skip here.
        EXPECT_EQ(position, served.stamped ? library.position / UNIT_192 * UNIT_192 : library.position);

        // From the library's position on, whatever unit boundary the
        // converter moved to; at the end of the play time, the rest of the
        // file in one read.
        const std::int64_t rest = size - library.position;
        const LONG count = timeMs == d ? static_cast<LONG>(rest + 1) : READ_COUNT;
        ASSERT_EQ(converter->Start(), S_OK);
        VARIANT_BOOL end = 1;
        const Bytes read = ReadBytes(converter, count, end);
        const std::int64_t expected =
            std::min(rest, served.stamped && count > UNIT_192 ? count / UNIT_192 * UNIT_192 : std::int64_t{count});
        EXPECT_EQ(read.size(), static_cast<std::size_t>(expected));
        EXPECT_TRUE(read == DeliveredFrom(library.position, expected)) << "bytes differ from the file's";
        EXPECT_EQ(end, VARIANT_FALSE);
        if (timeMs == d) {
            EXPECT_TRUE(ReadBytes(converter, READ_COUNT, end).empty());
            EXPECT_EQ(end, VARIANT_TRUE);
        }
        ASSERT_EQ(converter->Stop(), S_OK);
    }
    EXPECT_EQ(converter->Close(), S_OK);
}

const SServed SERVED[] = {
    {FfmpegRecording::H264Ac3M2ts, 26, true},
    {FfmpegRecording::H264Ac3M2ts, 29, true},
    {FfmpegRecording::H264Ac3M2ts, 32, true},
    // The same units announced with zero stamps: passed through as they are.
    {FfmpegRecording::H264Ac3M2ts, 28, false},
    {FfmpegRecording::Mpeg2Ac3Ts, 24, false},
    // A title in several scripts, one character beyond 16 bits: the path
    // reaches the library as the host gave it.
    {FfmpegRecording::H264Ac3M2ts, 26, true, L"Sp\u00e4tfilm \u65e5\u672c \U0001F4FA.m2ts"},
};

std::string ServedName(const testing::TestParamInfo<SServed>& info)
{
    return (info.param.recording == FfmpegRecording::Mpeg2Ac3Ts ? "Mpeg2Ts188_Code" : "H264M2ts192_Code") +
           std::to_string(info.param.code) + (info.param.copyName != nullptr ? "_TitledCopy" : "");
}

INSTANTIATE_TEST_SUITE_P(Ffmpeg, TimeSeekServing, testing::ValuesIn(SERVED), ServedName);

}  // namespace
}  // namespace componenttest
