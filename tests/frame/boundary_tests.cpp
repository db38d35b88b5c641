// The interface boundary: each kind of raised failure becomes its HRESULT and
// exactly one log line of the documented form.
#include "frame/AppLog.h"
#include "frame/ErrorBoundary.h"

#include "AppLogCapture.h"
#include "dedazodu/Exception.h"
#include "host/host_kit.h"
#include "platform/com_holders.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace {

constexpr char SOURCE[] = ".\\BoundaryTest";
constexpr int LINE = 4321;

std::string Narrow(const std::wstring& text)
{
    std::string out;
    for (wchar_t c : text)
        out += static_cast<char>(c);
    return out;
}

std::string Message(HRESULT hr)
{
    return Narrow(frame::FormatHResultMessage(hr));
}

std::string Suffix()
{
    return " {" + std::string(SOURCE) + "," + std::to_string(LINE) + "}";
}

// An error information object with the given texts.
CComPtr<IErrorInfo> MakeErrorInfo(const wchar_t* source, const wchar_t* description)
{
    CComPtr<ICreateErrorInfo> create;
    EXPECT_EQ(CreateErrorInfo(&create), S_OK);
    create->SetSource(const_cast<LPOLESTR>(source));
    create->SetDescription(const_cast<LPOLESTR>(description));
    CComPtr<IErrorInfo> info;
    create.QueryInterface(IID_IErrorInfo, &info);
    return info;
}

class Boundary : public ::testing::Test {
protected:
    vsktest::CAppLogCapture m_log;

    // Runs a body that raises, and returns the single line it logged.
    template <class TBody>
    std::string Handle(TBody body, HRESULT expected)
    {
        m_log.Clear();
        const HRESULT hr = frame::CallAtBoundary(SOURCE, LINE, [&]() -> HRESULT {
            body();
            return S_OK;
        });
        EXPECT_EQ(hr, expected);
        const auto messages = m_log.Messages();
        // The first line of a process is preceded by the three banner lines.
        EXPECT_FALSE(messages.empty());
        return messages.empty() ? std::string() : messages.back();
    }
};

TEST_F(Boundary, EachKindLogsItsLineAndReturnsItsResult)
{
    EXPECT_EQ(Handle([] { throw log4vesk::Exception(static_cast<std::int32_t>(E_ACCESSDENIED)); }, E_ACCESSDENIED),
              "[DBG] <exception> <exception trace>(0x80070005:" + Message(E_ACCESSDENIED) + ")" + Suffix());

    EXPECT_EQ(Handle([] { throw _com_error(E_UNEXPECTED); }, E_UNEXPECTED),
              "[ERR] <exception> _com_error(0x8000ffff:" + Message(E_UNEXPECTED) + ")" + Suffix());

    EXPECT_EQ(Handle([] { throw std::runtime_error("disk on fire"); }, E_FAIL),
              "[ERR] <exception> std::exception(0x0:disk on fire)" + Suffix());

    EXPECT_EQ(Handle([] { AtlThrow(E_OUTOFMEMORY); }, E_OUTOFMEMORY),
              "[ERR] <exception> CAtlException(0x8007000e:" + Message(E_OUTOFMEMORY) + ")" + Suffix());

    EXPECT_EQ(Handle([] { frame::RaiseHr(E_FAIL); }, E_FAIL),
              "[ERR] <exception> HRESULT(0x80004005:" + Message(E_FAIL) + ")" + Suffix());

    EXPECT_EQ(Handle([] { throw 2.5; }, E_FAIL), "[ERR] <exception> unknown" + Suffix());
}

TEST_F(Boundary, ComErrorWithErrorInformationIsHandedToTheCaller)
{
    CComPtr<IErrorInfo> info = MakeErrorInfo(L"Host.Target", L"the disk is gone");
    SetErrorInfo(0, nullptr);
    const std::string line = Handle(
        [&] {
            info.p->AddRef();
            throw _com_error(E_INVALIDARG, info.p, false);
        },
        E_INVALIDARG);
    // No double quote follows the description.
    EXPECT_EQ(line, "[ERR] <exception> _com_error(0x80070057:" + Message(E_INVALIDARG) +
                        "<Src=\"Host.Target\", Desc=\"the disk is gone)" + Suffix());
    CComPtr<IErrorInfo> got;
    ASSERT_EQ(GetErrorInfo(0, &got), S_OK);
    ASSERT_TRUE(got);
    CComBSTR description;
    got->GetDescription(&description);
    EXPECT_EQ(std::wstring(description.View()), L"the disk is gone");
}

TEST_F(Boundary, SuccessCodeRaisedIsReturnedUnchanged)
{
    EXPECT_EQ(Handle([] { frame::RaiseHr(S_FALSE); }, S_FALSE),
              "[ERR] <exception> HRESULT(0x1:" + Message(S_FALSE) + ")" + Suffix());
}

TEST_F(Boundary, FailedHostCallCarriesTheCalleesErrorInformation)
{
    auto target = CreateHostTargetDescription();
    target->FailAlways(IID_IHostTargetDescription, 3, E_ACCESSDENIED, L"Kit", L"no MIME type today");
    SetErrorInfo(0, nullptr);
    const std::string line = Handle(
        [&] {
            CComBSTR mime;
            IHostTargetDescription* t = target;
            frame::CheckHost(t->get_MimeType(&mime), t, IID_IHostTargetDescription);
        },
        E_ACCESSDENIED);
    EXPECT_NE(line.find("<Src=\"Kit\", Desc=\"no MIME type today)"), std::string::npos) << line;
    CComPtr<IErrorInfo> got;
    ASSERT_EQ(GetErrorInfo(0, &got), S_OK);
    CComBSTR source;
    got->GetSource(&source);
    EXPECT_EQ(std::wstring(source.View()), L"Kit");

    // A callee that does not support error information gives a plain _com_error.
    target->SetErrorInfoSupport(HostErrorInfoSupport::Refused);
    const std::string plain = Handle(
        [&] {
            CComBSTR mime;
            IHostTargetDescription* t = target;
            frame::CheckHost(t->get_MimeType(&mime), t, IID_IHostTargetDescription);
        },
        E_ACCESSDENIED);
    EXPECT_EQ(plain, "[ERR] <exception> _com_error(0x80070005:" + Message(E_ACCESSDENIED) + ")" + Suffix());

    // Success codes pass.
    EXPECT_NO_THROW(frame::CheckHost(S_FALSE, nullptr, IID_IHostTargetDescription));
}

TEST_F(Boundary, DebugLinesNeedTheDebugLevelInTheFilter)
{
    vsktest::CAppLogCapture errorsOnly(1, 1);
    frame::CallAtBoundary(SOURCE, LINE, []() -> HRESULT { throw log4vesk::Exception(5); });
    frame::CallAtBoundary(SOURCE, LINE, []() -> HRESULT { frame::RaiseHr(E_FAIL); });
    const auto messages = errorsOnly.Messages();
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(errorsOnly.MessagesContaining("[DBG]").size(), 0u);
    EXPECT_EQ(errorsOnly.MessagesContaining("[ERR] <exception> HRESULT").size(), 1u);
}

TEST(BoundaryWithoutLog, NothingEscapesAndResultsStand)
{
    deDazOdu::DestroyAppLog(g_appLog);
    ASSERT_EQ(g_appLog, nullptr);
    EXPECT_EQ(frame::CallAtBoundary(SOURCE, LINE, []() -> HRESULT { frame::RaiseHr(E_POINTER); }), E_POINTER);
    EXPECT_EQ(frame::CallAtBoundary(SOURCE, LINE, []() -> HRESULT { throw std::bad_alloc(); }), E_FAIL);
    EXPECT_EQ(frame::CallAtBoundary(SOURCE, LINE, []() -> HRESULT { throw "text"; }), E_FAIL);
    EXPECT_EQ(frame::CallAtBoundary(SOURCE, LINE, []() -> HRESULT { return S_OK; }), S_OK);
}

TEST(HResultText, FallbacksAndTrimming)
{
    // Codes without a system text fall back to the formats of the COM error type.
    EXPECT_EQ(frame::FormatHResultMessage(static_cast<HRESULT>(0x80040201)), L"IDispatch error #1");
    EXPECT_EQ(frame::FormatHResultMessage(static_cast<HRESULT>(0x80040200)), L"Unknown error 0x80040200");
    EXPECT_EQ(frame::FormatHResultMessage(static_cast<HRESULT>(0x8004FFFF)), L"IDispatch error #65023");
    EXPECT_EQ(frame::FormatHResultMessage(static_cast<HRESULT>(0xA0001234)), L"Unknown error 0xA0001234");
    // System texts lose their line end.
    const std::wstring text = frame::FormatHResultMessage(E_FAIL);
    ASSERT_FALSE(text.empty());
    EXPECT_NE(text.back(), L'\n');
    EXPECT_NE(text.back(), L'\r');
    EXPECT_EQ(frame::FormatHResultSuffix(E_FAIL), L"(0x80004005:" + text + L")");
    EXPECT_EQ(frame::FormatHResultSuffix(static_cast<HRESULT>(0x80040200)), L"(0x80040200:Unknown error 0x80040200)");
    EXPECT_EQ(frame::FormatHResultSuffix(S_OK).substr(0, 5), L"(0x0:");
}

}  // namespace
