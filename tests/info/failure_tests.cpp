// Failures of the info object's operations: what they return, that the lists
// are abandoned, and the one log line each writes with its source and line.
#include "InfoTestSupport.h"

#include "AppLogCapture.h"
#include "vsktest/TsStreamBuilder.h"

#include <cstdint>
#include <iterator>

#include <string>

namespace infotest {
namespace {

SAFEARRAY* const UNTOUCHED = reinterpret_cast<SAFEARRAY*>(static_cast<std::uintptr_t>(0x5A5A5A50));

std::string Where(int line)
{
    return "{.\\Mpeg2TSConverterInfo," + std::to_string(line) + "}";
}

bool EndsWith(const std::string& text, const std::string& suffix)
{
    return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

class InfoFailures : public CInfoTest {
protected:
    // The log lines of the info object's boundaries.
    std::vector<std::string> InfoMessages() const { return m_log.MessagesContaining("Mpeg2TSConverterInfo"); }

    vsktest::CAppLogCapture m_log;
    CComPtr<IVskMediaTranscoderInfo> m_info = CreateInfo();
};

TEST_F(InfoFailures, UnregisteredTargetClassFailsTheCatalogueWithTheCreationResult)
{
    SAFEARRAY* list = UNTOUCHED;
    HRESULT hr = S_OK;
    {
        CHostClassesRevoked revoked;
        hr = m_info->GetSupportedProfiles(&list);
    }
    EXPECT_EQ(hr, REGDB_E_CLASSNOTREG);
    EXPECT_EQ(list, UNTOUCHED);
    const auto messages = InfoMessages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].rfind("[ERR] <exception> HRESULT(0x80040154:", 0), 0u) << messages[0];
    EXPECT_TRUE(EndsWith(messages[0], Where(info::INFO_LINE_GET_SUPPORTED_PROFILES))) << messages[0];
}

TEST_F(InfoFailures, CreationFailuresPartWayAbandonTheCatalogue)
{
    struct SCase {
        const char* what;
        void (*arm)();
        HRESULT expected;
    };
    const SCase cases[] = {
        {"fails after five", [] { HostKitFailCreation(CLSID_HostTargetDescription, E_OUTOFMEMORY, 5); }, E_OUTOFMEMORY},
        {"no interface", [] { HostKitFailCreation(CLSID_HostTargetDescription, E_NOINTERFACE, 27); }, E_POINTER},
        {"null object", [] { HostKitCreateNull(CLSID_HostTargetDescription); }, E_POINTER},
    };
    for (const SCase& c : cases) {
        c.arm();
        SAFEARRAY* list = UNTOUCHED;
        EXPECT_EQ(m_info->GetSupportedProfiles(&list), c.expected) << c.what;
        EXPECT_EQ(list, UNTOUCHED) << c.what;
        HostKitReset();
    }
    EXPECT_EQ(m_info->GetSupportedProfiles(nullptr), E_POINTER);
    EXPECT_EQ(InfoMessages().size(), 3u);
}

TEST_F(InfoFailures, RefusedSetterPassesTheHostsErrorInformationOn)
{
    HostKitSetTargetInitializer([](CHostTargetDescription& target) {
        target.FailAlways(IID_IHostTargetDescription, 10, E_ACCESSDENIED, L"Kit", L"flag refused");
    });
    SAFEARRAY* list = UNTOUCHED;
    EXPECT_EQ(m_info->GetSupportedProfiles(&list), E_ACCESSDENIED);
    EXPECT_EQ(list, UNTOUCHED);

    IErrorInfo* error = nullptr;
    ASSERT_EQ(GetErrorInfo(0, &error), S_OK);
    ASSERT_NE(error, nullptr);
    BSTR description = nullptr;
    error->GetDescription(&description);
    EXPECT_EQ(std::wstring(description == nullptr ? L"" : description), L"flag refused");
    SysFreeString(description);
    error->Release();

    const auto messages = InfoMessages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].rfind("[ERR] <exception> _com_error(0x80070005:", 0), 0u) << messages[0];
    EXPECT_NE(messages[0].find("<Src=\"Kit\", Desc=\"flag refused)"), std::string::npos) << messages[0];
}

TEST_F(InfoFailures, EachOperationLogsAtItsOwnLine)
{
    vsktest::CTempDir dir;
    const auto item = MakeItem(SItemFacts(), WriteRecording(dir, "item.m2ts", vsktest::TS_UNIT_SIZE_188));
    item->FailAlways(IID_IHostMediaItem, 10, E_ACCESSDENIED);
    const CComVariant source = ObjectSource(item->GetUnknown());

    auto settings = CreateHostSettings({});
    settings->FailAlways(IID_IHostSettingsSource, 3, E_UNEXPECTED);
    EXPECT_EQ(m_info->LoadSettings(settings), E_UNEXPECTED);

    SAFEARRAY* list = UNTOUCHED;
    EXPECT_EQ(m_info->GetSourceProfiles(source, &list), E_ACCESSDENIED);

    // The list comes from GetSourceProfiles, which logs as well.
    VARIANT_BOOL answer = 7;
    EXPECT_EQ(m_info->IsProfileSupported(source, MakeTarget(Target(L"", L"video/mpeg", false)), &answer),
              E_ACCESSDENIED);

    const auto target = MakeTarget(Target(L"", L"video/mpeg", false));
    target->FailAlways(IID_IHostTargetDescription, 3, E_FAIL);
    EXPECT_EQ(m_info->GetMediaProperties(source, target, &list), E_FAIL);
    EXPECT_EQ(list, UNTOUCHED);

    const auto messages = InfoMessages();
    const int lines[] = {info::INFO_LINE_LOAD_SETTINGS, info::INFO_LINE_GET_SOURCE_PROFILES,
                         info::INFO_LINE_GET_SOURCE_PROFILES, info::INFO_LINE_IS_PROFILE_SUPPORTED,
                         info::INFO_LINE_GET_MEDIA_PROPERTIES};
    ASSERT_EQ(messages.size(), std::size(lines));
    for (std::size_t i = 0; i < messages.size(); ++i)
        EXPECT_TRUE(EndsWith(messages[i], Where(lines[i]))) << messages[i];
    // A failure passed on from the inner call is logged as the HRESULT it is.
    EXPECT_EQ(messages[3].rfind("[ERR] <exception> HRESULT(0x80070005:", 0), 0u) << messages[3];
}

TEST_F(InfoFailures, ArgumentChecksLogNothing)
{
    VARIANT_BOOL answer = 7;
    SAFEARRAY* list = UNTOUCHED;
    EXPECT_EQ(m_info->GetSupportedProfiles(nullptr), E_POINTER);
    EXPECT_EQ(m_info->GetSourceProfiles(CComVariant(1), &list), E_INVALIDARG);
    EXPECT_EQ(m_info->IsProfileSupported(CComVariant(1), nullptr, &answer), E_INVALIDARG);
    EXPECT_EQ(m_info->GetMediaProperties(CComVariant(1), nullptr, &list), E_POINTER);
    EXPECT_EQ(m_info->CreateTranscoder(nullptr), E_POINTER);
    EXPECT_TRUE(InfoMessages().empty());
}

}  // namespace
}  // namespace infotest
