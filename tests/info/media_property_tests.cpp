// Media properties of path and object sources: their text forms, their order,
// which ones are left out, and the MIME types that let them through.
#include "InfoTestSupport.h"

#include "info/MediaProperties.h"
#include "platform/file.h"
#include "vsktest/TsStreamBuilder.h"
#include "vsktest/WideText.h"

#include <cstdint>
#include <functional>

namespace infotest {
namespace {

using Properties = std::vector<std::pair<std::wstring, std::wstring>>;

constexpr wchar_t TTS[] = L"video/vnd.dlna.mpeg-tts";
constexpr wchar_t MPEG[] = L"video/mpeg";
constexpr wchar_t MPHL[] = L"video/x-mp2t-mphl-188";

SAFEARRAY* const UNTOUCHED = reinterpret_cast<SAFEARRAY*>(static_cast<std::uintptr_t>(0x5A5A5A50));

TEST(MediaPropertyText, FormsFollowThePrintfConventionsInBothBuilds)
{
    EXPECT_EQ(info::FormatDuration(3725042), L"01:02:05.042");
    EXPECT_EQ(info::FormatDuration(0), L"00:00:00.000");
    EXPECT_EQ(info::FormatDuration(59999), L"00:00:59.999");
    // Hours widen instead of wrapping.
    EXPECT_EQ(info::FormatDuration(100u * 3600000u + 1), L"100:00:00.001");
    EXPECT_EQ(info::FormatDuration(0xFFFFFFFEu), L"1193:02:47.294");

    EXPECT_EQ(info::FormatInt64(5000000000LL), L"5000000000");
    EXPECT_EQ(info::FormatInt64(-4294967296LL), L"-4294967296");
    EXPECT_EQ(info::FormatInt64(INT64_MIN), L"-9223372036854775808");
    EXPECT_EQ(info::FormatLong(2424087), L"2424087");
    EXPECT_EQ(info::FormatLong(INT32_MIN), L"-2147483648");
    EXPECT_EQ(info::FormatResolution(1920, 1080), L"1920x1080");
}

class MediaProperties : public CInfoTest {
protected:
    Properties Read(const VARIANT& source, const wchar_t* mime = MPEG)
    {
        SAFEARRAY* list = nullptr;
        EXPECT_EQ(m_info->GetMediaProperties(source, MakeTarget(Target(L"ANY", mime, false)), &list), S_OK);
        return TakeProperties(list);
    }
    Properties ReadItem(const CComPtr<CComObject<CHostMediaItem>>& item, const wchar_t* mime = MPEG)
    {
        return Read(ObjectSource(item->GetUnknown()), mime);
    }

    vsktest::CTempDir m_dir;
    CComPtr<IVskMediaTranscoderInfo> m_info = CreateInfo();
};

TEST_F(MediaProperties, ItemGivesAllSixInFixedOrder)
{
    SItemFacts facts;
    facts.duration = 3725042;
    facts.size = 5000000000LL;
    facts.bitRate = 19392700;
    const auto item = MakeItem(facts, L"unused.m2ts");
    EXPECT_EQ(ReadItem(item), (Properties{{L"duration", L"01:02:05.042"},
                                          {L"size", L"5000000000"},
                                          {L"bitrate", L"2424087"},
                                          {L"resolution", L"1920x1080"},
                                          {L"nrAudioChannels", L"6"},
                                          {L"sampleFrequency", L"48000"}}));
}

TEST_F(MediaProperties, UnknownValuesAndFailingGettersAreLeftOut)
{
    struct SCase {
        const char* what;
        std::function<void(CHostMediaItem&)> change;
        Properties expected;
    };
    const SCase cases[] = {
        {"bit rate 7", [](CHostMediaItem& i) { i.m_bitRate = 7; },
         {{L"duration", L"00:10:00.000"}, {L"size", L"1000000"}, {L"bitrate", L"0"}}},
        {"bit rate -8", [](CHostMediaItem& i) { i.m_bitRate = -8; },
         {{L"duration", L"00:10:00.000"}, {L"size", L"1000000"}, {L"bitrate", L"-1"}}},
        {"bit rate unknown", [](CHostMediaItem& i) { i.m_bitRate = -1; },
         {{L"duration", L"00:10:00.000"}, {L"size", L"1000000"}}},
        {"duration unknown", [](CHostMediaItem& i) { i.m_duration = -1; },
         {{L"size", L"1000000"}, {L"bitrate", L"2424087"}}},
        // Any other negative duration is no duration either, not 49.7 days.
        {"duration -2", [](CHostMediaItem& i) { i.m_duration = -2; },
         {{L"size", L"1000000"}, {L"bitrate", L"2424087"}}},
        {"duration at the bottom of the range", [](CHostMediaItem& i) { i.m_duration = INT32_MIN; },
         {{L"size", L"1000000"}, {L"bitrate", L"2424087"}}},
        {"duration at the top of the range", [](CHostMediaItem& i) { i.m_duration = INT32_MAX; },
         {{L"duration", L"596:31:23.647"}, {L"size", L"1000000"}, {L"bitrate", L"2424087"}}},
        {"size unknown", [](CHostMediaItem& i) { i.m_size = -1; },
         {{L"duration", L"00:10:00.000"}, {L"bitrate", L"2424087"}}},
        // Only all bits set means unknown.
        {"size with high half -1", [](CHostMediaItem& i) { i.m_size = static_cast<LONGLONG>(0xFFFFFFFF00000000ULL); },
         {{L"duration", L"00:10:00.000"}, {L"size", L"-4294967296"}, {L"bitrate", L"2424087"}}},
        {"failing duration getter", [](CHostMediaItem& i) { i.FailAlways(IID_IHostMediaItem, 14, E_FAIL); },
         {{L"size", L"1000000"}, {L"bitrate", L"2424087"}}},
        {"failing size getter", [](CHostMediaItem& i) { i.FailAlways(IID_IHostMediaItem, 10, E_FAIL); },
         {{L"duration", L"00:10:00.000"}, {L"bitrate", L"2424087"}}},
        {"failing bit-rate getter", [](CHostMediaItem& i) { i.FailAlways(IID_IHostMediaItem, 16, E_FAIL); },
         {{L"duration", L"00:10:00.000"}, {L"size", L"1000000"}}},
    };
    for (const SCase& c : cases) {
        SItemFacts facts;
        facts.video = EVideo::NONE;
        facts.audio = EAudio::NONE;
        const auto item = MakeItem(facts, L"unused.m2ts");
        c.change(*item);
        EXPECT_EQ(ReadItem(item), c.expected) << c.what;
    }
}

TEST_F(MediaProperties, StreamPropertiesNeedBothStreams)
{
    SItemFacts facts;
    facts.audio = EAudio::NONE;
    const auto withoutAudio = MakeItem(facts, L"unused.m2ts");
    EXPECT_EQ(ReadItem(withoutAudio).size(), 3u);

    const auto failingAudio = MakeItem(SItemFacts(), L"unused.m2ts");
    failingAudio->FailAlways(IID_IHostMediaItem, 26, E_FAIL);
    EXPECT_EQ(ReadItem(failingAudio).size(), 3u);

    facts = SItemFacts();
    facts.video = EVideo::NONE;
    const auto withoutVideo = MakeItem(facts, L"unused.m2ts");
    EXPECT_EQ(ReadItem(withoutVideo).size(), 3u);
}

TEST_F(MediaProperties, ResolutionComesFromTheFirstVideoDescriptionOffered)
{
    SItemFacts avc = Code26Facts();
    avc.width = 1440;
    avc.audio = EAudio::OTHER;
    avc.channels = 2;
    avc.sampleRate = 44100;
    const auto avcItem = MakeItem(avc, L"unused.m2ts");
    const Properties properties = ReadItem(avcItem);
    ASSERT_EQ(properties.size(), 6u);
    EXPECT_EQ(properties[3], (std::pair<std::wstring, std::wstring>{L"resolution", L"1440x1080"}));
    EXPECT_EQ(properties[4], (std::pair<std::wstring, std::wstring>{L"nrAudioChannels", L"2"}));
    EXPECT_EQ(properties[5], (std::pair<std::wstring, std::wstring>{L"sampleFrequency", L"44100"}));

    // An MPEG-2 description whose getters fail is not replaced by the AVC one.
    const auto both = MakeItem(SItemFacts(), L"unused.m2ts");
    CComPtr<IUnknown> video = both->m_videoStream;
    CComPtr<IHostMpeg2VideoDescription> mpeg2;
    ASSERT_EQ(video.QueryInterface(IID_IHostMpeg2VideoDescription, &mpeg2), S_OK);
    auto* stream = static_cast<CHostStream*>(static_cast<CHostMpeg2VideoFace<CHostStream>*>(mpeg2.p));
    stream->SetDescriptions(HOST_DESCRIPTION_MPEG2_VIDEO | HOST_DESCRIPTION_AVC_VIDEO);
    stream->FailAlways(IID_IHostMpeg2VideoDescription, 26, E_FAIL);
    for (const auto& property : ReadItem(both))
        EXPECT_NE(property.first, L"resolution");
    EXPECT_EQ(stream->CallCount(IID_IHostAvcVideoDescription, 22), 0u);

    // An unknown width leaves the resolution out.
    stream->ClearFailures();
    stream->m_video.width = -1;
    EXPECT_EQ(ReadItem(both).size(), 5u);
}

TEST_F(MediaProperties, AudioOfferingSeveralDescriptionsIsReadThroughMpegAudio)
{
    const auto item = MakeItem(SItemFacts(), L"unused.m2ts");
    CComPtr<IHostAc3AudioDescription> ac3;
    ASSERT_EQ(item->m_audioStream.QueryInterface(IID_IHostAc3AudioDescription, &ac3), S_OK);
    auto* stream = static_cast<CHostStream*>(static_cast<CHostAc3AudioFace<CHostStream>*>(ac3.p));
    stream->SetDescriptions(HOST_DESCRIPTION_AC3_AUDIO | HOST_DESCRIPTION_MPEG_AUDIO | HOST_DESCRIPTION_OTHER_AUDIO);
    const Properties properties = ReadItem(item);
    ASSERT_EQ(properties.size(), 6u);
    EXPECT_EQ(properties[4].second, L"6");
    EXPECT_EQ(stream->CallCount(IID_IHostMpegAudioDescription, 12), 1u);
    EXPECT_EQ(stream->CallCount(IID_IHostAc3AudioDescription, 10), 0u);

    // Failing audio getters leave out only their own property.
    stream->FailAlways(IID_IHostMpegAudioDescription, 12, E_FAIL);
    const Properties withoutChannels = ReadItem(item);
    ASSERT_EQ(withoutChannels.size(), 5u);
    EXPECT_EQ(withoutChannels[4].first, L"sampleFrequency");
}

TEST_F(MediaProperties, MimeTypeGatesDifferForPathAndObjectSources)
{
    const std::wstring path = WriteRecordingOfSize(m_dir, "sized.m2ts", vsktest::TS_UNIT_SIZE_188, 4096);
    const auto item = MakeItem(SItemFacts(), path);
    struct SCase {
        const wchar_t* mime;
        std::size_t pathCount;
        std::size_t itemCount;
    };
    const SCase cases[] = {
        {MPEG, 1, 6}, {TTS, 1, 6}, {L"VIDEO/MPEG", 1, 6}, {L"Video/Vnd.Dlna.Mpeg-Tts", 1, 6},
        {MPHL, 0, 6}, {L"video/mp4", 0, 0},  {L"", 0, 0},
    };
    for (const SCase& c : cases) {
        EXPECT_EQ(Read(PathSource(path), c.mime).size(), c.pathCount) << vsktest::ToUtf8(c.mime);
        EXPECT_EQ(ReadItem(item, c.mime).size(), c.itemCount) << vsktest::ToUtf8(c.mime);
    }
}

TEST_F(MediaProperties, PathSourceGetsOnlyItsMeasuredSize)
{
    const std::wstring path = vsktest::WideFromPath(m_dir / "large.m2ts");
    {
        platform::CFile file;
        ASSERT_TRUE(file.Open(path.c_str(), platform::EFileMode::WRITE_SHARE_READ));
        ASSERT_TRUE(file.Seek(5000000000LL));
        ASSERT_TRUE(file.Truncate());
    }
    EXPECT_EQ(Read(PathSource(path)), (Properties{{L"size", L"5000000000"}}));
    // A file that cannot be opened is not a failure.
    EXPECT_TRUE(Read(PathSource(vsktest::WideFromPath(m_dir / "missing.m2ts"))).empty());
}

TEST_F(MediaProperties, OtherSourcesGiveAnEmptyList)
{
    EXPECT_TRUE(Read(CComVariant(42)).empty());
    EXPECT_TRUE(Read(CComVariant()).empty());
    // An object that is no media item, and a null object.
    EXPECT_TRUE(Read(ObjectSource(CreateHostTargetDescription()->GetUnknown())).empty());
    EXPECT_TRUE(Read(ObjectSource(nullptr)).empty());
}

TEST_F(MediaProperties, FailuresAbandonTheList)
{
    const auto item = MakeItem(SItemFacts(), L"unused.m2ts");
    const CComVariant source = ObjectSource(item->GetUnknown());
    const auto target = MakeTarget(Target(L"", MPEG, false));

    SAFEARRAY* list = UNTOUCHED;
    EXPECT_EQ(m_info->GetMediaProperties(source, nullptr, &list), E_POINTER);
    EXPECT_EQ(m_info->GetMediaProperties(source, target, nullptr), E_POINTER);

    // The third property cannot be set.
    int created = 0;
    HostKitSetPropertyInitializer([&created](CHostMediaProperty& property) {
        if (++created == 3)
            property.FailAlways(IID_IHostMediaProperty, 6, E_ACCESSDENIED);
    });
    EXPECT_EQ(m_info->GetMediaProperties(source, target, &list), E_ACCESSDENIED);
    EXPECT_EQ(list, UNTOUCHED);
    HostKitReset();

    HostKitCreateNull(CLSID_HostMediaProperty);
    EXPECT_EQ(m_info->GetMediaProperties(source, target, &list), E_POINTER);
    EXPECT_EQ(list, UNTOUCHED);
    HostKitReset();

    // Only the target's MIME type counts, but a failing getter of either fails.
    target->FailNext(IID_IHostTargetDescription, 5, E_UNEXPECTED);
    EXPECT_EQ(m_info->GetMediaProperties(source, target, &list), E_UNEXPECTED);
    EXPECT_EQ(list, UNTOUCHED);
}

TEST_F(MediaProperties, UnregisteredPropertyClassFailsWithTheCreationResult)
{
    const auto item = MakeItem(SItemFacts(), L"unused.m2ts");
    const auto target = MakeTarget(Target(L"", MPEG, false));
    HRESULT hr = S_OK;
    SAFEARRAY* list = UNTOUCHED;
    {
        CHostClassesRevoked revoked;
        hr = m_info->GetMediaProperties(ObjectSource(item->GetUnknown()), target, &list);
    }
    EXPECT_EQ(hr, REGDB_E_CLASSNOTREG);
    EXPECT_EQ(list, UNTOUCHED);
    // Nothing to create, nothing to fail.
    {
        CHostClassesRevoked revoked;
        hr = m_info->GetMediaProperties(CComVariant(42), target, &list);
    }
    EXPECT_EQ(hr, S_OK);
    EXPECT_TRUE(TakeProperties(list).empty());
}

}  // namespace
}  // namespace infotest
