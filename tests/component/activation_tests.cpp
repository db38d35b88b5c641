// A host's whole road through the component: register it, create both
// objects by class id through the COM runtime, list profiles, ask for a media
// item's profiles and properties, and stream the file through a converter the
// info object made.
#include "ComponentLibrary.h"

#include "frame/MediaTranscoderLib.h"
#include "host/host_kit.h"
#include "platform/com_holders.h"
#include "vsktest/Recording.h"
#include "vsktest/TempDir.h"
#include "vsktest/WideText.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

namespace {

using namespace MediaTranscoderLib;

class Activation : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
        s_library = std::make_unique<vsktest::CComponentLibrary>();
        s_registration = std::make_unique<vsktest::CComponentRegistration>(*s_library);
        ASSERT_TRUE(s_registration->Registered());
        s_hostKit = std::make_unique<CHostKitRegistration>(RegisterHostKitClasses());
        ASSERT_EQ(s_hostKit->Result(), S_OK);
    }

    static void TearDownTestSuite()
    {
        s_hostKit.reset();
        s_registration.reset();
    }

    static inline std::unique_ptr<vsktest::CComponentLibrary> s_library;
    static inline std::unique_ptr<vsktest::CComponentRegistration> s_registration;
    static inline std::unique_ptr<CHostKitRegistration> s_hostKit;
};

TEST_F(Activation, BothObjectsAreCreatedByClassId)
{
    CComPtr<IVskMediaTranscoder> converter;
    ASSERT_EQ(CoCreateInstance(CLSID_Mpeg2TSConverter, nullptr, CLSCTX_INPROC_SERVER, IID_IVskMediaTranscoder,
                               reinterpret_cast<void**>(&converter)),
              S_OK);
    CComPtr<IVskMediaTranscoderInfo> info;
    ASSERT_EQ(CoCreateInstance(CLSID_Mpeg2TSConverterInfo, nullptr, CLSCTX_INPROC_SERVER, IID_IVskMediaTranscoderInfo,
                               reinterpret_cast<void**>(&info)),
              S_OK);
    LONGLONG size = 0;
    EXPECT_EQ(converter->GetSize(&size), E_FAIL);  // nothing open yet
    EXPECT_EQ(converter->Close(), S_OK);
}

TEST_F(Activation, HostServesARecordingEndToEnd)
{
    CComPtr<IVskMediaTranscoderInfo> info;
    ASSERT_EQ(CoCreateInstance(CLSID_Mpeg2TSConverterInfo, nullptr, CLSCTX_INPROC_SERVER, IID_IVskMediaTranscoderInfo,
                               reinterpret_cast<void**>(&info)),
              S_OK);
    auto settings = CreateHostSettings({{L"Profile", {{L"Type", L"DLNA"}}}});
    ASSERT_EQ(info->LoadSettings(settings), S_OK);

    SAFEARRAY* catalogue = nullptr;
    ASSERT_EQ(info->GetSupportedProfiles(&catalogue), S_OK);
    CComSafeArray<VARIANT> profiles;
    profiles.Attach(catalogue);
    EXPECT_EQ(profiles.GetCount(), 28u);

    // An MPEG-2 HD recording with AC-3 audio in 188-byte packets: code 18.
    vsktest::CTempDir dir;
    vsktest::RecordingParams params;
    params.packetCount = 2000;
    const vsktest::Recording recording = vsktest::MakeRecording(params);
    const auto path = dir.WriteFile("show.m2ts", recording.bytes);

    auto item = CreateHostMediaItem();
    item->m_path = CComVariant(vsktest::WideFromPath(path).c_str());
    item->m_size = -1;  // the info object measures it
    item->m_duration = 60000;
    item->m_bitRate = 18000000;
    item->m_packetFormat = HOST_PACKET_FORMAT_188;
    item->m_videoStreamCount = 1;
    item->m_audioStreamCount = 1;
    auto video = CreateHostStream(HOST_DESCRIPTION_MPEG2_VIDEO);
    video->m_video.width = 1920;
    video->m_video.height = 1080;
    video->m_video.aspectRatioCode = 3;
    video->m_video.level = 3;
    video->m_video.profile = 2;
    video->m_video.frameRate = 29.97;
    video->m_video.primaryBitRate = 18000000;
    item->m_videoStream = static_cast<IHostMpeg2VideoDescription*>(video.p);
    auto audio = CreateHostStream(HOST_DESCRIPTION_AC3_AUDIO);
    audio->m_audio.sampleRate = 48000;
    audio->m_audio.channels = 6;
    audio->m_audio.bitRate = 448000;
    item->m_audioStream = static_cast<IHostAc3AudioDescription*>(audio.p);
    CComVariant source(static_cast<IUnknown*>(static_cast<IHostMediaItem*>(item.p)));

    SAFEARRAY* sourceList = nullptr;
    ASSERT_EQ(info->GetSourceProfiles(source, &sourceList), S_OK);
    CComSafeArray<VARIANT> sourceProfiles;
    sourceProfiles.Attach(sourceList);
    ASSERT_EQ(sourceProfiles.GetCount(), 2u);
    EXPECT_EQ(item->m_size, static_cast<LONGLONG>(recording.bytes.size()));
    CComPtr<IHostTargetDescription> target;
    ASSERT_EQ(sourceProfiles.GetAt(0).punkVal->QueryInterface(IID_IHostTargetDescription, reinterpret_cast<void**>(&target)),
              S_OK);
    CComBSTR name;
    target->get_ProfileName(&name);
    EXPECT_EQ(std::wstring(name.View()), L"MPEG_TS_HD_KO_ISO");

    SAFEARRAY* propertyList = nullptr;
    ASSERT_EQ(info->GetMediaProperties(source, target, &propertyList), S_OK);
    CComSafeArray<VARIANT> properties;
    properties.Attach(propertyList);
    EXPECT_EQ(properties.GetCount(), 6u);

    CComPtr<IVskMediaTranscoder> converter;
    ASSERT_EQ(info->CreateTranscoder(&converter), S_OK);
    ASSERT_EQ(converter->Open(source, target), S_OK);
    ASSERT_EQ(converter->Start(), S_OK);
    std::vector<std::uint8_t> received;
    for (int guard = 0; guard < 10000; ++guard) {
        SAFEARRAY* chunk = nullptr;
        VARIANT_BOOL end = VARIANT_FALSE;
        ASSERT_EQ(converter->Read(65536, &chunk, &end), S_OK);
        CComSafeArray<BYTE> bytes;
        bytes.Attach(chunk);
        received.insert(received.end(), bytes.GetData(), bytes.GetData() + bytes.GetCount());
        if (end == VARIANT_TRUE)
            break;
    }
    EXPECT_EQ(received, recording.bytes);
    EXPECT_EQ(converter->Close(), S_OK);
}

}  // namespace
