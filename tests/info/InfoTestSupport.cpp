#include "InfoTestSupport.h"

#include "frame/ParserLibrary.h"
#include "vsktest/Recording.h"
#include "vsktest/StandIn.h"
#include "vsktest/WideText.h"

#include <optional>
#include <stdexcept>

namespace infotest {
namespace {

std::optional<CHostKitRegistration> g_registration;

std::string Narrow(const std::wstring& text)
{
    return vsktest::ToUtf8(text);
}

std::wstring Text(BSTR value)
{
    return value == nullptr ? std::wstring() : std::wstring(value, SysStringLen(value));
}

// Reads the element list of a result list and checks its shape.
std::vector<CComPtr<IUnknown>> TakeElements(SAFEARRAY* list)
{
    std::vector<CComPtr<IUnknown>> elements;
    EXPECT_NE(list, nullptr);
    if (list == nullptr)
        return elements;
    EXPECT_EQ(SafeArrayGetDim(list), 1u);
    VARTYPE type = VT_EMPTY;
    EXPECT_EQ(SafeArrayGetVartype(list, &type), S_OK);
    EXPECT_EQ(type, VT_VARIANT);
    EXPECT_EQ(list->rgsabound[0].lLbound, 0);
    EXPECT_EQ(list->cLocks, 0u) << "a list handed out must be unlocked";
    const ULONG count = list->rgsabound[0].cElements;
    const VARIANT* data = static_cast<const VARIANT*>(list->pvData);
    for (ULONG i = 0; i < count; ++i) {
        EXPECT_EQ(data[i].vt, VT_UNKNOWN) << "element " << i;
        elements.emplace_back(data[i].vt == VT_UNKNOWN ? data[i].punkVal : nullptr);
    }
    EXPECT_EQ(SafeArrayDestroy(list), S_OK);
    return elements;
}

}  // namespace

void CInfoEnvironment::SetUp()
{
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
    g_registration.emplace(RegisterHostKitClasses());
    ASSERT_EQ(g_registration->Result(), S_OK);

    // The first probe of the process decides for its whole life; make it here,
    // through the info object, with the directory this program stands for.
    const CComPtr<IVskMediaTranscoderInfo> info = CreateInfo();
    if (InfoParserPresent()) {
        ASSERT_EQ(LoadSettings(info, ParserPathSettings(StandInDirectory())), S_OK);
    }
    SAFEARRAY* list = nullptr;
    ASSERT_EQ(info->GetSupportedProfiles(&list), S_OK);
    SafeArrayDestroy(list);
    HostKitReset();
    ASSERT_EQ(frame::IsParserLibraryAvailable(L""), InfoParserPresent())
        << "the parser library's presence is not what this program needs";
}

void CInfoEnvironment::TearDown()
{
    HostKitReset();
    g_registration.reset();
    CoUninitialize();
}

CHostClassesRevoked::CHostClassesRevoked()
{
    g_registration.reset();
}

CHostClassesRevoked::~CHostClassesRevoked()
{
    g_registration.emplace(RegisterHostKitClasses());
}

void CInfoTest::TearDown()
{
    HostKitReset();
    SetErrorInfo(0, nullptr);
}

CComPtr<IVskMediaTranscoderInfo> CreateInfo()
{
    CComPtr<IVskMediaTranscoderInfo> info;
    const HRESULT hr = CComCreator<info::CMpeg2TSConverterInfo>::CreateInstance(
        nullptr, MediaTranscoderLib::IID_IVskMediaTranscoderInfo, reinterpret_cast<void**>(&info));
    if (FAILED(hr) || !info)
        throw std::runtime_error("the info object cannot be created");
    return info;
}

CComPtr<CComObject<info::CMpeg2TSConverterInfo>> CreateInfoObject()
{
    CComPtr<CComObject<info::CMpeg2TSConverterInfo>> object;
    if (FAILED(CComCreator<info::CMpeg2TSConverterInfo>::Create(object)))
        throw std::runtime_error("the info object cannot be created");
    return object;
}

HRESULT LoadSettings(IVskMediaTranscoderInfo* info, const HostSettingsTree& tree)
{
    const auto settings = CreateHostSettings(tree);
    return info->LoadSettings(settings);
}

HostSettingsTree ProfileTypeSettings(const std::wstring& type)
{
    return {{L"Profile", {{L"Type", type}}}};
}

HostSettingsTree ParserPathSettings(const std::wstring& directory)
{
    return {{L"SpecifiedExtensionPath", {{L"VskMpegParser", directory}}}};
}

CComPtr<IVskMediaTranscoderInfo> CreateVendorInfo()
{
    CComPtr<IVskMediaTranscoderInfo> info = CreateInfo();
    if (LoadSettings(info, ProfileTypeSettings(L"OVELPN")) != S_OK)
        throw std::runtime_error("vendor mode cannot be set");
    return info;
}

std::wstring StandInDirectory()
{
    return vsktest::WideFromPath(vsktest::StandInLibraryPath().parent_path());
}

void PrintTo(const STarget& target, std::ostream* out)
{
    *out << "{\"" << Narrow(target.profileName) << "\", \"" << Narrow(target.mimeType) << "\", f1=" << target.flag1
         << ", f2=" << target.flag2 << ", f3=" << target.flag3 << ", alt=\"" << Narrow(target.alternativeName) << "\"}";
}

STarget Target(std::wstring profileName, std::wstring mimeType, bool flag2, std::wstring alternativeName)
{
    STarget target;
    target.profileName = std::move(profileName);
    target.mimeType = std::move(mimeType);
    target.flag2 = flag2 ? VARIANT_TRUE : VARIANT_FALSE;
    target.alternativeName = std::move(alternativeName);
    return target;
}

std::vector<STarget> TakeTargets(SAFEARRAY* list)
{
    std::vector<STarget> targets;
    for (const CComPtr<IUnknown>& element : TakeElements(list)) {
        CComPtr<IHostTargetDescription> target;
        EXPECT_EQ(element.QueryInterface(IID_IHostTargetDescription, &target), S_OK);
        if (!target)
            continue;
        STarget values;
        BSTR text = nullptr;
        EXPECT_EQ(target->get_ProfileName(&text), S_OK);
        values.profileName = Text(text);
        SysFreeString(text);
        text = nullptr;
        EXPECT_EQ(target->get_MimeType(&text), S_OK);
        values.mimeType = Text(text);
        SysFreeString(text);
        EXPECT_EQ(target->get_TargetFlag1(&values.flag1), S_OK);
        EXPECT_EQ(target->get_TargetFlag2(&values.flag2), S_OK);
        EXPECT_EQ(target->get_TargetFlag3(&values.flag3), S_OK);
        CComPtr<IHostTargetDescriptionExt> extension;
        if (SUCCEEDED(target.QueryInterface(IID_IHostTargetDescriptionExt, &extension))) {
            text = nullptr;
            EXPECT_EQ(extension->get_AlternativeProfileName(&text), S_OK);
            values.alternativeName = Text(text);
            SysFreeString(text);
        }
        targets.push_back(values);
    }
    return targets;
}

std::vector<std::pair<std::wstring, std::wstring>> TakeProperties(SAFEARRAY* list)
{
    std::vector<std::pair<std::wstring, std::wstring>> properties;
    for (const CComPtr<IUnknown>& element : TakeElements(list)) {
        CComPtr<IHostMediaProperty> property;
        EXPECT_EQ(element.QueryInterface(IID_IHostMediaProperty, &property), S_OK);
        if (!property)
            continue;
        BSTR name = nullptr;
        BSTR value = nullptr;
        EXPECT_EQ(property->get_Name(&name), S_OK);
        EXPECT_EQ(property->get_Value(&value), S_OK);
        properties.emplace_back(Text(name), Text(value));
        SysFreeString(name);
        SysFreeString(value);
    }
    return properties;
}

CComPtr<CComObject<CHostTargetDescription>> MakeTarget(const STarget& values)
{
    auto target = CreateHostTargetDescription();
    target->m_profileName = values.profileName;
    target->m_mimeType = values.mimeType;
    target->m_flag1 = values.flag1;
    target->m_flag2 = values.flag2;
    target->m_flag3 = values.flag3;
    target->m_alternativeProfileName = values.alternativeName;
    return target;
}

std::wstring WriteRecording(const vsktest::CTempDir& dir, const std::string& name, std::size_t unitSize,
                            std::size_t packets)
{
    vsktest::RecordingParams params;
    params.unitSize = unitSize;
    params.packetCount = packets;
    return vsktest::WideFromPath(dir.WriteFile(name, vsktest::MakeRecording(params).bytes));
}

std::wstring WriteRecordingOfSize(const vsktest::CTempDir& dir, const std::string& name, std::size_t unitSize,
                                  std::size_t size)
{
    vsktest::RecordingParams params;
    params.unitSize = unitSize;
    params.packetCount = 12;
    std::vector<std::uint8_t> bytes = vsktest::MakeRecording(params).bytes;
    bytes.resize(size, 0);
    return vsktest::WideFromPath(dir.WriteFile(name, bytes));
}

SItemFacts Code34Facts()
{
    SItemFacts facts;
    facts.width = 1440;
    facts.level = 4;
    facts.videoRate = 20000000;
    facts.audio = EAudio::MPEG;
    facts.channels = 2;
    facts.audioRate = 384000;
    return facts;
}

SItemFacts Code26Facts()
{
    SItemFacts facts;
    facts.video = EVideo::AVC;
    facts.level = 10;
    facts.packetFormat = HOST_PACKET_FORMAT_192_STAMPED;
    return facts;
}

CComPtr<CComObject<CHostMediaItem>> MakeItem(const SItemFacts& facts, const std::wstring& path)
{
    auto item = CreateHostMediaItem();
    item->m_path = CComVariant(path.c_str());
    item->m_size = facts.size;
    item->m_duration = facts.duration;
    item->m_bitRate = facts.bitRate;
    item->m_packetFormat = facts.packetFormat;
    item->m_audioStreamCount = facts.audioStreamCount;
    if (facts.video != EVideo::NONE) {
        auto video = CreateHostStream(facts.video == EVideo::MPEG2 ? HOST_DESCRIPTION_MPEG2_VIDEO
                                                                   : HOST_DESCRIPTION_AVC_VIDEO);
        HostVideoFacts& v = video->m_video;
        v.width = facts.width;
        v.height = facts.height;
        v.aspectRatioCode = facts.aspect;
        v.profile = facts.profile;
        v.level = facts.level;
        v.frameRate = facts.frameRate;
        v.primaryBitRate = facts.videoRate;
        item->m_videoStreamCount = 1;
        item->m_videoStream = video->GetUnknown();
    }
    if (facts.audio != EAudio::NONE) {
        const unsigned kind = facts.audio == EAudio::AC3    ? HOST_DESCRIPTION_AC3_AUDIO
                              : facts.audio == EAudio::MPEG ? HOST_DESCRIPTION_MPEG_AUDIO
                                                            : HOST_DESCRIPTION_OTHER_AUDIO;
        auto audio = CreateHostStream(kind);
        audio->m_audio.sampleRate = facts.sampleRate;
        audio->m_audio.channels = facts.channels;
        audio->m_audio.bitRate = facts.audioRate;
        item->m_audioStream = audio->GetUnknown();
    }
    return item;
}

CComVariant PathSource(const std::wstring& path)
{
    return CComVariant(path.c_str());
}

CComVariant ObjectSource(IUnknown* object)
{
    return CComVariant(object);
}

}  // namespace infotest
