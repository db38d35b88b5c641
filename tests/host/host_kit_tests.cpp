#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "host/host_kit.h"

namespace {

std::wstring Text(BSTR value) { return value == nullptr ? std::wstring() : std::wstring(value, SysStringLen(value)); }

std::wstring TakeText(BSTR value)
{
    std::wstring text = Text(value);
    SysFreeString(value);
    return text;
}

// The thread's error information as "source|description", or "none".
std::wstring TakeErrorInfo()
{
    IErrorInfo* info = nullptr;
    if (GetErrorInfo(0, &info) != S_OK || info == nullptr) {
        return L"none";
    }
    BSTR source = nullptr;
    BSTR description = nullptr;
    info->GetSource(&source);
    info->GetDescription(&description);
    info->Release();
    return TakeText(source) + L"|" + TakeText(description);
}

class HostKit : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
        m_registration = RegisterHostKitClasses();
        ASSERT_EQ(m_registration.Result(), S_OK);
    }
    void TearDown() override
    {
        HostKitReset();
        m_registration.Revoke();
        SetErrorInfo(0, nullptr);
        CoUninitialize();
    }

    // The component's way of creating a host object.
    template <class I>
    HRESULT CreateLikeTheComponent(REFCLSID clsid, REFIID iid, CComPtr<I>& out)
    {
        CComPtr<IUnknown> unknown;
        HRESULT hr = CoCreateInstance(clsid, nullptr, HOST_CREATE_CONTEXT, IID_IUnknown, reinterpret_cast<void**>(&unknown));
        if (FAILED(hr)) {
            return hr;
        }
        if (unknown == nullptr) {
            return E_POINTER;
        }
        hr = OleRun(unknown);
        if (FAILED(hr)) {
            return hr;
        }
        return unknown.QueryInterface(iid, &out);
    }

    CHostKitRegistration m_registration;
};

TEST_F(HostKit, TargetDescriptionsComeFromTheClassTableAndKeepEveryProperty)
{
    CComPtr<IHostTargetDescription> target;
    ASSERT_EQ(CreateLikeTheComponent(CLSID_HostTargetDescription, IID_IHostTargetDescription, target), S_OK);
    EXPECT_EQ(target->put_MimeType(CComBSTR(L"video/mpeg")), S_OK);
    EXPECT_EQ(target->put_ProfileName(CComBSTR(L"MPEG_TS_SD_NA_ISO")), S_OK);
    EXPECT_EQ(target->put_TargetFlag1(VARIANT_FALSE), S_OK);
    EXPECT_EQ(target->put_TargetFlag2(VARIANT_TRUE), S_OK);
    EXPECT_EQ(target->put_TargetFlag3(VARIANT_TRUE), S_OK);
    CComPtr<IHostTargetDescriptionExt> extension;
    ASSERT_EQ(target.QueryInterface(IID_IHostTargetDescriptionExt, &extension), S_OK);
    EXPECT_EQ(extension->put_AlternativeProfileName(CComBSTR(L"AVC_TS_HD_60_AC3")), S_OK);

    BSTR text = nullptr;
    ASSERT_EQ(target->get_MimeType(&text), S_OK);
    EXPECT_EQ(TakeText(text), L"video/mpeg");
    ASSERT_EQ(target->get_ProfileName(&text), S_OK);
    EXPECT_EQ(TakeText(text), L"MPEG_TS_SD_NA_ISO");
    ASSERT_EQ(extension->get_AlternativeProfileName(&text), S_OK);
    EXPECT_EQ(TakeText(text), L"AVC_TS_HD_60_AC3");
    VARIANT_BOOL flag = 7;
    target->get_TargetFlag1(&flag);
    EXPECT_EQ(flag, VARIANT_FALSE);
    target->get_TargetFlag2(&flag);
    EXPECT_EQ(flag, VARIANT_TRUE);
    target->get_TargetFlag3(&flag);
    EXPECT_EQ(flag, VARIANT_TRUE);

    const auto created = HostKitCreatedTargets();
    ASSERT_EQ(created.size(), 1u);
    EXPECT_EQ(created[0]->m_profileName, L"MPEG_TS_SD_NA_ISO");
    EXPECT_EQ(created[0]->m_alternativeProfileName, L"AVC_TS_HD_60_AC3");
}

TEST_F(HostKit, MediaPropertiesComeFromTheClassTable)
{
    for (const wchar_t* name : {L"duration", L"size"}) {
        CComPtr<IHostMediaProperty> property;
        ASSERT_EQ(CreateLikeTheComponent(CLSID_HostMediaProperty, IID_IHostMediaProperty, property), S_OK);
        EXPECT_EQ(property->put_Name(CComBSTR(name)), S_OK);
        EXPECT_EQ(property->put_Value(CComBSTR(L"00:01:02.003")), S_OK);
        BSTR text = nullptr;
        ASSERT_EQ(property->get_Name(&text), S_OK);
        EXPECT_EQ(TakeText(text), name);
    }
    const auto created = HostKitCreatedProperties();
    ASSERT_EQ(created.size(), 2u);
    EXPECT_EQ(created[1]->m_name, L"size");
    EXPECT_EQ(created[1]->m_value, L"00:01:02.003");
    EXPECT_TRUE(HostKitCreatedTargets().empty());
}

TEST_F(HostKit, CreationCanBeMadeToFail)
{
    CComPtr<IHostTargetDescription> target;
    HostKitFailCreation(CLSID_HostTargetDescription, E_OUTOFMEMORY, 1);
    EXPECT_EQ(CreateLikeTheComponent(CLSID_HostTargetDescription, IID_IHostTargetDescription, target), S_OK);
    target.Release();
    EXPECT_EQ(CreateLikeTheComponent(CLSID_HostTargetDescription, IID_IHostTargetDescription, target), E_OUTOFMEMORY);
    EXPECT_EQ(target.p, nullptr);
    EXPECT_EQ(HostKitCreatedTargets().size(), 1u);

    HostKitCreateNull(CLSID_HostMediaProperty);
    CComPtr<IHostMediaProperty> property;
    EXPECT_EQ(CreateLikeTheComponent(CLSID_HostMediaProperty, IID_IHostMediaProperty, property), E_POINTER);

    // Aggregation is refused; an unregistered class is not found.
    auto outer = CreateHostMediaItem();
    IUnknown* object = nullptr;
    EXPECT_EQ(CoCreateInstance(CLSID_HostMediaProperty, static_cast<IHostMediaItem*>(outer), HOST_CREATE_CONTEXT,
                               IID_IUnknown, reinterpret_cast<void**>(&object)),
              CLASS_E_NOAGGREGATION);
    m_registration.Revoke();
    EXPECT_EQ(CoCreateInstance(CLSID_HostTargetDescription, nullptr, HOST_CREATE_CONTEXT, IID_IUnknown,
                               reinterpret_cast<void**>(&object)),
              REGDB_E_CLASSNOTREG);
}

TEST_F(HostKit, InitializerArmsFailuresOnObjectsTheComponentCreates)
{
    HostKitSetPropertyInitializer([](CHostMediaProperty& property) {
        property.FailAlways(IID_IHostMediaProperty, 6, E_ACCESSDENIED, L"Host", L"value refused");
    });
    CComPtr<IHostMediaProperty> property;
    ASSERT_EQ(CreateLikeTheComponent(CLSID_HostMediaProperty, IID_IHostMediaProperty, property), S_OK);
    EXPECT_EQ(property->put_Name(CComBSTR(L"size")), S_OK);
    EXPECT_EQ(property->put_Value(CComBSTR(L"1")), E_ACCESSDENIED);
    EXPECT_EQ(TakeErrorInfo(), L"Host|value refused");
    EXPECT_EQ(HostKitCreatedProperties()[0]->m_value, L"");
}

TEST(HostObjects, InjectedFailuresKeepPresetsAndSetErrorInformation)
{
    auto item = CreateHostMediaItem();
    item->m_size = 1234;
    item->m_duration = 60000;
    item->FailNext(IID_IHostMediaItem, 10, E_UNEXPECTED, L"Item", L"size unknown");

    LONGLONG size = -1;
    EXPECT_EQ(item->get_Size(&size), E_UNEXPECTED);
    EXPECT_EQ(size, -1);  // preset kept
    EXPECT_EQ(TakeErrorInfo(), L"Item|size unknown");
    EXPECT_EQ(item->get_Size(&size), S_OK);  // fired once
    EXPECT_EQ(size, 1234);
    EXPECT_EQ(TakeErrorInfo(), L"none");
    EXPECT_EQ(item->CallCount(IID_IHostMediaItem, 10), 2u);

    item->FailAlways(IID_IHostMediaItem, 14, E_FAIL, L"Item", L"no duration");
    LONG duration = -1;
    EXPECT_EQ(item->get_Duration(&duration), E_FAIL);
    EXPECT_EQ(item->get_Duration(&duration), E_FAIL);
    EXPECT_EQ(duration, -1);
    EXPECT_EQ(TakeErrorInfo(), L"Item|no duration");
    item->ClearFailures();
    EXPECT_EQ(item->get_Duration(&duration), S_OK);
    EXPECT_EQ(duration, 60000);

    // Error information stays with the failing call's thread.
    item->FailNext(IID_IHostMediaItem, 12, E_FAIL, L"Item", L"elsewhere");
    std::thread([&] {
        LONG format = 0;
        EXPECT_EQ(item->get_PacketFormat(&format), E_FAIL);
    }).join();
    EXPECT_EQ(TakeErrorInfo(), L"none");
}

TEST(HostObjects, SupportErrorInfoCanBeAnsweredRefusedOrAbsent)
{
    auto target = CreateHostTargetDescription();
    CComPtr<ISupportErrorInfo> support;
    ASSERT_EQ(CComPtr<IHostTargetDescription>(target).QueryInterface(IID_ISupportErrorInfo, &support), S_OK);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IHostTargetDescription), S_OK);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IHostTargetDescriptionExt), S_OK);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IHostMediaItem), S_FALSE);

    target->SetErrorInfoSupport(HostErrorInfoSupport::Refused);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IHostTargetDescription), S_FALSE);

    target->SetErrorInfoSupport(HostErrorInfoSupport::Absent);
    CComPtr<ISupportErrorInfo> none;
    EXPECT_EQ(CComPtr<IHostTargetDescription>(target).QueryInterface(IID_ISupportErrorInfo, &none), E_NOINTERFACE);

    target->SetOffersExtension(false);
    CComPtr<IHostTargetDescriptionExt> extension;
    EXPECT_EQ(CComPtr<IHostTargetDescription>(target).QueryInterface(IID_IHostTargetDescriptionExt, &extension),
              E_NOINTERFACE);
}

TEST(HostObjects, RaisingAHostFailureCarriesTheCalleesErrorInformation)
{
    auto target = CreateHostTargetDescription();
    target->FailNext(IID_IHostTargetDescription, 3, E_INVALIDARG, L"Target", L"no MIME type");
    IHostTargetDescription* callee = target;
    BSTR mime = nullptr;
    const HRESULT hr = callee->get_MimeType(&mime);
    ASSERT_EQ(hr, E_INVALIDARG);
    try {
        _com_issue_errorex(hr, callee, IID_IHostTargetDescription);
        FAIL() << "did not raise";
    } catch (const _com_error& e) {
        EXPECT_EQ(e.Error(), E_INVALIDARG);
        EXPECT_EQ(Text(e.Source()), L"Target");
        EXPECT_EQ(Text(e.Description()), L"no MIME type");
    }
}

TEST(HostObjects, StreamsAnswerTheChosenDescriptionsWithSeparateOperations)
{
    auto stream = CreateHostStream(HOST_DESCRIPTION_MPEG2_VIDEO | HOST_DESCRIPTION_AVC_VIDEO);
    stream->m_video.width = 1920;
    CComPtr<IUnknown> unknown(static_cast<IHostMpeg2VideoDescription*>(stream));
    CComPtr<IHostMpeg2VideoDescription> mpeg2;
    CComPtr<IHostAvcVideoDescription> avc;
    CComPtr<IHostAc3AudioDescription> ac3;
    ASSERT_EQ(unknown.QueryInterface(IID_IHostMpeg2VideoDescription, &mpeg2), S_OK);
    ASSERT_EQ(unknown.QueryInterface(IID_IHostAvcVideoDescription, &avc), S_OK);
    EXPECT_EQ(unknown.QueryInterface(IID_IHostAc3AudioDescription, &ac3), E_NOINTERFACE);

    stream->FailAlways(IID_IHostAvcVideoDescription, 22, E_FAIL);
    LONG width = -1;
    EXPECT_EQ(avc->get_Width(&width), E_FAIL);
    EXPECT_EQ(width, -1);
    EXPECT_EQ(mpeg2->get_Width(&width), S_OK);  // same fact, other operation
    EXPECT_EQ(width, 1920);
    EXPECT_EQ(avc->put_FrameRate(29.97), S_OK);
    double rate = 0.0;
    EXPECT_EQ(mpeg2->get_FrameRate(&rate), S_OK);
    EXPECT_DOUBLE_EQ(rate, 29.97);

    auto silent = CreateHostStream(HOST_DESCRIPTION_NONE);
    CComPtr<IUnknown> bare(static_cast<ISupportErrorInfo*>(silent));
    EXPECT_EQ(bare.QueryInterface(IID_IHostMpeg2VideoDescription, &mpeg2), E_NOINTERFACE);

    auto audio = CreateHostStream(HOST_DESCRIPTION_MPEG_AUDIO);
    audio->m_audio.channels = 2;
    CComPtr<IHostMpegAudioDescription> mpa;
    ASSERT_EQ(CComPtr<IUnknown>(static_cast<ISupportErrorInfo*>(audio)).QueryInterface(IID_IHostMpegAudioDescription, &mpa), S_OK);
    LONG channels = 0;
    EXPECT_EQ(mpa->get_Channels(&channels), S_OK);
    EXPECT_EQ(channels, 2);
}

TEST(HostObjects, MediaItemHandsOutPathAndStreams)
{
    auto item = CreateHostMediaItem();
    auto video = CreateHostStream(HOST_DESCRIPTION_AVC_VIDEO);
    ASSERT_EQ(item->put_Path(CComVariant(L"C:\\media\\a.m2ts")), S_OK);
    ASSERT_EQ(item->put_VideoStream(static_cast<IHostAvcVideoDescription*>(video)), S_OK);
    VARIANT path;
    VariantInit(&path);
    ASSERT_EQ(item->get_Path(&path), S_OK);
    ASSERT_EQ(path.vt, VT_BSTR);
    EXPECT_EQ(Text(path.bstrVal), L"C:\\media\\a.m2ts");
    VariantClear(&path);
    IUnknown* stream = nullptr;
    ASSERT_EQ(item->get_VideoStream(&stream), S_OK);
    CComPtr<IUnknown> held;
    held.Attach(stream);
    CComPtr<IHostAvcVideoDescription> avc;
    EXPECT_EQ(held.QueryInterface(IID_IHostAvcVideoDescription, &avc), S_OK);
    IUnknown* none = reinterpret_cast<IUnknown*>(1);
    ASSERT_EQ(item->get_AudioStream(&none), S_OK);
    EXPECT_EQ(none, nullptr);
}

TEST(HostObjects, SettingsTreeLooksUpByExactName)
{
    auto source = CreateHostSettings({{L"Profile", {{L"Type", L"OVELPN"}}},
                                      {L"SpecifiedExtensionPath", {{L"VskMpegParser", L"C:\\parser"}}}});
    CComPtr<IHostSettingsKeyCollection> keys;
    ASSERT_EQ(source->get_Keys(&keys), S_OK);
    CComPtr<IHostSettingsKey> key;
    ASSERT_EQ(keys->get_Item(CComVariant(L"Profile"), &key), S_OK);
    CComPtr<IHostSettingsValueCollection> values;
    ASSERT_EQ(key->get_Values(&values), S_OK);
    CComPtr<IHostSettingsValue> value;
    ASSERT_EQ(values->get_Item(CComVariant(L"Type"), &value), S_OK);
    BSTR text = nullptr;
    ASSERT_EQ(value->get_Text(&text), S_OK);
    EXPECT_EQ(TakeText(text), L"OVELPN");

    IHostSettingsKey* untouched = reinterpret_cast<IHostSettingsKey*>(8);
    EXPECT_EQ(keys->get_Item(CComVariant(L"profile"), &untouched), E_INVALIDARG);
    EXPECT_EQ(keys->get_Item(CComVariant(L"Missing"), &untouched), E_INVALIDARG);
    EXPECT_EQ(keys->get_Item(CComVariant(3), &untouched), E_INVALIDARG);
    EXPECT_EQ(untouched, reinterpret_cast<IHostSettingsKey*>(8));

    source->m_keys->AddNull(L"Empty");
    ASSERT_EQ(keys->get_Item(CComVariant(L"Empty"), &untouched), S_OK);
    EXPECT_EQ(untouched, nullptr);

    source->Value(L"SpecifiedExtensionPath", L"VskMpegParser")->FailNext(IID_IHostSettingsValue, 4, E_FAIL);
    CComPtr<IHostSettingsValue> parser;
    source->Key(L"SpecifiedExtensionPath")->m_values->Find(L"VskMpegParser")->QueryInterface(
        IID_IHostSettingsValue, reinterpret_cast<void**>(&parser));
    text = nullptr;
    EXPECT_EQ(parser->get_Text(&text), E_FAIL);
    EXPECT_EQ(text, nullptr);
    SetErrorInfo(0, nullptr);
}

}  // namespace
