// The host's settings as LoadSettings reads them, and converter creation.
#include "InfoTestSupport.h"

#include "frame/CVskMpeg2TsTranscoderModule.h"
#include "vsktest/WideText.h"

namespace infotest {
namespace {

using info::PROFILE_MODE_DLNA;
using info::PROFILE_MODE_VENDOR;

std::string Describe(const std::wstring& text)
{
    return "\"" + vsktest::ToUtf8(text) + "\"";
}

// The thread's error information description, or "none".
std::wstring TakeErrorDescription()
{
    IErrorInfo* info = nullptr;
    if (GetErrorInfo(0, &info) != S_OK || info == nullptr)
        return L"none";
    BSTR description = nullptr;
    info->GetDescription(&description);
    info->Release();
    std::wstring text = description == nullptr ? L"" : description;
    SysFreeString(description);
    return text;
}

class Settings : public CInfoTest {};

TEST_F(Settings, ProfileTypeSelectsTheModeByExactText)
{
    struct SCase {
        std::wstring type;
        int mode;
    };
    const SCase cases[] = {
        {L"OVELPN", PROFILE_MODE_VENDOR}, {L"DLNA", PROFILE_MODE_DLNA},  {L"ovelpn", PROFILE_MODE_DLNA},
        {L"DLNA ", PROFILE_MODE_DLNA},    {L" OVELPN", PROFILE_MODE_DLNA}, {L"", PROFILE_MODE_DLNA},
        {L"OVELPNX", PROFILE_MODE_DLNA},
    };
    for (const SCase& c : cases) {
        // Start from the other mode so each text must set it.
        const auto info = CreateInfoObject();
        if (c.mode == PROFILE_MODE_DLNA) {
            ASSERT_EQ(LoadSettings(info, ProfileTypeSettings(L"OVELPN")), S_OK);
        }
        EXPECT_EQ(LoadSettings(info, ProfileTypeSettings(c.type)), S_OK) << Describe(c.type);
        EXPECT_EQ(info->GetProfileMode(), c.mode) << Describe(c.type);
    }
}

TEST_F(Settings, MissingKeysAndValuesLeaveTheSettingsAsTheyWere)
{
    const auto info = CreateInfoObject();
    EXPECT_EQ(info->GetProfileMode(), PROFILE_MODE_DLNA);
    EXPECT_EQ(info->GetParserPath(), L"");

    ASSERT_EQ(LoadSettings(info, {{L"Profile", {{L"Type", L"OVELPN"}}},
                                  {L"SpecifiedExtensionPath", {{L"VskMpegParser", L"C:\\Parser"}}}}),
              S_OK);
    EXPECT_EQ(info->GetProfileMode(), PROFILE_MODE_VENDOR);
    EXPECT_EQ(info->GetParserPath(), L"C:\\Parser");

    const HostSettingsTree untouching[] = {
        {},
        {{L"Other", {{L"Type", L"DLNA"}}}},
        {{L"Profile", {{L"Kind", L"DLNA"}}}, {L"SpecifiedExtensionPath", {{L"Parser", L"D:\\"}}}},
        {{L"profile", {{L"Type", L"DLNA"}}}, {L"specifiedextensionpath", {{L"VskMpegParser", L"D:\\"}}}},
        {{L"Profile", {}}, {L"SpecifiedExtensionPath", {}}},
    };
    for (const HostSettingsTree& tree : untouching) {
        EXPECT_EQ(LoadSettings(info, tree), S_OK);
        EXPECT_EQ(info->GetProfileMode(), PROFILE_MODE_VENDOR);
        EXPECT_EQ(info->GetParserPath(), L"C:\\Parser");
    }

    // Later calls overwrite what they find, also with empty text.
    EXPECT_EQ(LoadSettings(info, ParserPathSettings(L"")), S_OK);
    EXPECT_EQ(info->GetParserPath(), L"");
    EXPECT_EQ(info->GetProfileMode(), PROFILE_MODE_VENDOR);
    EXPECT_EQ(info->LoadSettings(nullptr), S_OK);
    EXPECT_EQ(info->GetProfileMode(), PROFILE_MODE_VENDOR);
}

TEST_F(Settings, BrokenSettingsObjectsFailWithTheirResult)
{
    const auto info = CreateInfoObject();

    // A key collection that cannot be had.
    auto source = CreateHostSettings(ProfileTypeSettings(L"OVELPN"));
    source->FailAlways(IID_IHostSettingsSource, 3, E_ACCESSDENIED, L"Host", L"no keys today");
    EXPECT_EQ(info->LoadSettings(source), E_ACCESSDENIED);
    EXPECT_EQ(TakeErrorDescription(), L"no keys today");
    EXPECT_EQ(info->GetProfileMode(), PROFILE_MODE_DLNA);

    source = CreateHostSettings({});
    source->m_keys.Release();
    EXPECT_EQ(info->LoadSettings(source), E_POINTER);

    // A key present but null, or without a value collection.
    source = CreateHostSettings({});
    source->m_keys->AddNull(L"Profile");
    EXPECT_EQ(info->LoadSettings(source), E_POINTER);

    source = CreateHostSettings(ProfileTypeSettings(L"OVELPN"));
    source->Key(L"Profile")->m_values.Release();
    EXPECT_EQ(info->LoadSettings(source), E_POINTER);

    source = CreateHostSettings(ProfileTypeSettings(L"OVELPN"));
    source->Key(L"Profile")->FailAlways(IID_IHostSettingsKey, 4, E_OUTOFMEMORY);
    EXPECT_EQ(info->LoadSettings(source), E_OUTOFMEMORY);

    source = CreateHostSettings(ProfileTypeSettings(L"OVELPN"));
    source->Value(L"Profile", L"Type")->FailAlways(IID_IHostSettingsValue, 4, E_UNEXPECTED);
    EXPECT_EQ(info->LoadSettings(source), E_UNEXPECTED);
    EXPECT_EQ(info->GetProfileMode(), PROFILE_MODE_DLNA);
    EXPECT_EQ(info->GetParserPath(), L"");
}

TEST_F(Settings, ModeReadBeforeAFailureStays)
{
    const auto info = CreateInfoObject();
    auto source = CreateHostSettings({{L"Profile", {{L"Type", L"OVELPN"}}},
                                      {L"SpecifiedExtensionPath", {{L"VskMpegParser", L"C:\\Parser"}}}});
    source->Value(L"SpecifiedExtensionPath", L"VskMpegParser")->FailAlways(IID_IHostSettingsValue, 4, E_FAIL);
    EXPECT_EQ(info->LoadSettings(source), E_FAIL);
    EXPECT_EQ(info->GetProfileMode(), PROFILE_MODE_VENDOR);
    EXPECT_EQ(info->GetParserPath(), L"");
}

TEST_F(Settings, FailedLookupIsNoError)
{
    const auto info = CreateInfoObject();
    auto source = CreateHostSettings({{L"Profile", {{L"Type", L"OVELPN"}}},
                                      {L"SpecifiedExtensionPath", {{L"VskMpegParser", L"C:\\Parser"}}}});
    source->m_keys->FailAlways(IID_IHostSettingsKeyCollection, 5, E_ACCESSDENIED);
    EXPECT_EQ(info->LoadSettings(source), S_OK);
    EXPECT_EQ(info->GetProfileMode(), PROFILE_MODE_DLNA);
    EXPECT_EQ(info->GetParserPath(), L"");
}

// ---------------------------------------------------------------------------

class ConverterCreation : public CInfoTest {};

TEST_F(ConverterCreation, HandsOutNewConvertersThatKeepTheComponentLoaded)
{
    const auto info = CreateInfo();
    const LONG locks = g_module.GetLockCount();
    CComPtr<MediaTranscoderLib::IVskMediaTranscoder> first;
    CComPtr<MediaTranscoderLib::IVskMediaTranscoder> second;
    ASSERT_EQ(info->CreateTranscoder(&first), S_OK);
    ASSERT_EQ(info->CreateTranscoder(&second), S_OK);
    ASSERT_TRUE(first && second);
    EXPECT_NE(first.p, second.p);
    EXPECT_EQ(g_module.GetLockCount(), locks + 2);
    // A fresh converter: closed, nothing to read.
    EXPECT_EQ(first->Close(), S_OK);
    EXPECT_EQ(first->Start(), E_FAIL);

    CComPtr<IUnknown> marshaler;
    EXPECT_EQ(first.QueryInterface(IID_IMarshal, &marshaler), S_OK);
    first.Release();
    second.Release();
    marshaler.Release();
    EXPECT_EQ(g_module.GetLockCount(), locks);
}

TEST_F(ConverterCreation, NullOutPointerCreatesNothing)
{
    const auto info = CreateInfo();
    const LONG locks = g_module.GetLockCount();
    EXPECT_EQ(info->CreateTranscoder(nullptr), E_POINTER);
    EXPECT_EQ(g_module.GetLockCount(), locks);
}

// ---------------------------------------------------------------------------

class InfoObject : public CInfoTest {};

TEST_F(InfoObject, AnswersItsInterfaceTheMarshalerAndAggregation)
{
    const auto info = CreateInfo();
    CComPtr<IUnknown> unknown;
    EXPECT_EQ(info.QueryInterface(IID_IUnknown, &unknown), S_OK);
    CComPtr<IUnknown> marshal;
    EXPECT_EQ(info.QueryInterface(IID_IMarshal, &marshal), S_OK);
    CComPtr<IUnknown> converter;
    EXPECT_EQ(info.QueryInterface(MediaTranscoderLib::IID_IVskMediaTranscoder, &converter), E_NOINTERFACE);

    // Aggregated under an outer object, its interfaces delegate to the outer one.
    const auto outer = CreateHostTargetDescription();
    CComPtr<IUnknown> inner;
    ASSERT_EQ(CComCreator<info::CMpeg2TSConverterInfo>::CreateInstance(outer->GetUnknown(), IID_IUnknown,
                                                                        reinterpret_cast<void**>(&inner)),
              S_OK);
    CComPtr<IVskMediaTranscoderInfo> delegating;
    ASSERT_EQ(inner.QueryInterface(MediaTranscoderLib::IID_IVskMediaTranscoderInfo, &delegating), S_OK);
    CComPtr<IHostTargetDescription> viaOuter;
    EXPECT_EQ(delegating.QueryInterface(IID_IHostTargetDescription, &viaOuter), S_OK);
}

}  // namespace
}  // namespace infotest
