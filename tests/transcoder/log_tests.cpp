// Every failure a converter operation raises is written once to the error
// log, with the operation's source name and line; checks made before an
// operation's body and successful calls write nothing.
#include "ConverterTesting.h"

#include "AppLogCapture.h"
#include "frame/ErrorBoundary.h"
#include "vsktest/TempDir.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace {

using namespace transcodertest;

constexpr char OWN_SOURCE[] = "Mpeg2TSConverter,";

std::string ExpectedLine(const std::string& kind, HRESULT hr, int line)
{
    return "[ERR] <exception> " + kind + Narrow(frame::FormatHResultSuffix(hr)) + " {.\\Mpeg2TSConverter," +
           std::to_string(line) + "}";
}

class LogTest : public ::testing::Test {
protected:
    std::vector<std::string> Logged() const { return m_capture.MessagesContaining(OWN_SOURCE); }

    vsktest::CAppLogCapture m_capture;
    vsktest::CTempDir m_dir;
    SStream m_stream = WritePlainStream(m_dir / "recording.m2ts", 10);
};

TEST_F(LogTest, EachRaisedFailureIsLoggedOnceWithItsOperationsLine)
{
    const auto bad = m_dir.WriteFile("recording.ts", m_stream.bytes);
    const struct {
        const char* what;
        bool opened;
        std::function<HRESULT(IVskMediaTranscoder*)> call;
        HRESULT hr;
        int line;
    } cases[] = {
        {"Open", false, [&](IVskMediaTranscoder* c) { return OpenAsPath(c, bad); }, E_INVALIDARG, 657},
        {"Start", false, [](IVskMediaTranscoder* c) { return c->Start(); }, E_FAIL, 698},
        {"Stop", false, [](IVskMediaTranscoder* c) { return c->Stop(); }, E_FAIL, 717},
        {"SeekByBytes", false, [](IVskMediaTranscoder* c) { return c->SeekByBytes(0); }, E_FAIL, 766},
        {"SeekByBytes negative", true, [](IVskMediaTranscoder* c) { return c->SeekByBytes(-1); }, E_FAIL, 766},
        {"SeekByTime",
         false,
         [](IVskMediaTranscoder* c) {
             ULONG t = 0;
             LONGLONG p = 0;
             return c->SeekByTime(0, &t, &p);
         },
         E_FAIL, 904},
        {"SetRate", false, [](IVskMediaTranscoder* c) { return c->SetRate(1.0); }, E_FAIL, 992},
        {"SetRate 2", true, [](IVskMediaTranscoder* c) { return c->SetRate(2.0); }, E_INVALIDARG, 992},
        {"GetSize",
         false,
         [](IVskMediaTranscoder* c) {
             LONGLONG v = 0;
             return c->GetSize(&v);
         },
         E_FAIL, 1011},
        {"GetDuration",
         false,
         [](IVskMediaTranscoder* c) {
             ULONG v = 0;
             return c->GetDuration(&v);
         },
         E_FAIL, 1030},
        {"Read not started", true, [](IVskMediaTranscoder* c) { return ReadOnce(c, 100).hr; }, E_FAIL, 1177},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        CComPtr<IVskMediaTranscoder> converter = NewConverter();
        if (c.opened) {
            ASSERT_EQ(OpenAsPath(converter, m_stream.path), S_OK);
        }
        m_capture.Clear();
        EXPECT_EQ(c.call(converter), c.hr);
        const std::vector<std::string> logged = Logged();
        ASSERT_EQ(logged.size(), 1u);
        EXPECT_EQ(logged[0], ExpectedLine("HRESULT", c.hr, c.line));
    }
}

TEST_F(LogTest, ChecksBeforeTheBodyAndSuccessesLogNothing)
{
    CComPtr<IVskMediaTranscoder> converter = NewConverter();
    m_capture.Clear();
    SAFEARRAY* data = nullptr;
    VARIANT_BOOL end = 0;
    ULONG value = 0;
    LONGLONG position = 0;
    EXPECT_EQ(converter->Read(10, nullptr, &end), E_POINTER);
    EXPECT_EQ(converter->Read(0, &data, &end), E_INVALIDARG);
    EXPECT_EQ(converter->GetSize(nullptr), E_POINTER);
    EXPECT_EQ(converter->GetDuration(nullptr), E_POINTER);
    EXPECT_EQ(converter->SeekByTime(0, nullptr, &position), E_POINTER);
    EXPECT_EQ(converter->SeekByTime(0, &value, nullptr), E_POINTER);
    EXPECT_EQ(converter->GetRangeEnd(0, nullptr, &position), E_POINTER);
    EXPECT_EQ(converter->GetRangeEnd(0, &value, &position), S_OK);
    EXPECT_EQ(converter->Open(CComVariant(1), PlainTarget(L"video/mpeg")), E_INVALIDARG);
    EXPECT_EQ(converter->Open(PathSource(m_stream.path), nullptr), E_INVALIDARG);
    EXPECT_EQ(converter->Close(), S_OK);

    EXPECT_EQ(OpenAsPath(converter, m_stream.path), S_OK);
    EXPECT_EQ(converter->SeekByBytes(10), S_OK);
    EXPECT_EQ(converter->SetRate(1.0), S_OK);
    EXPECT_EQ(converter->Start(), S_OK);
    EXPECT_EQ(ReadOnce(converter, 100).hr, S_OK);
    EXPECT_EQ(converter->Stop(), S_OK);
    EXPECT_EQ(converter->Close(), S_OK);
    EXPECT_TRUE(Logged().empty());
}

TEST_F(LogTest, TimeSeekWithoutTheParserLibraryIsAFailureOfItsOwn)
{
    CComPtr<IVskMediaTranscoder> converter = NewConverter();
    ASSERT_EQ(OpenAsItem(converter, m_stream.path, 3, 60000), S_OK);
    m_capture.Clear();
    ULONG actual = 0;
    LONGLONG position = 0;
    EXPECT_EQ(converter->SeekByTime(1000, &actual, &position), E_FAIL);
    const std::vector<std::string> logged = Logged();
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_EQ(logged[0], ExpectedLine("HRESULT", E_FAIL, 904));
}

TEST_F(LogTest, FailingTargetCallIsLoggedWithItsErrorInformation)
{
    CComPtr<IVskMediaTranscoder> converter = NewConverter();
    auto target = PlainTarget(L"video/mpeg");
    target->FailNext(IID_IHostTargetDescription, 5, E_ACCESSDENIED, L"HostKit", L"profile withheld");
    m_capture.Clear();
    EXPECT_EQ(converter->Open(PathSource(m_stream.path), target), E_ACCESSDENIED);
    const std::vector<std::string> logged = Logged();
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_EQ(logged[0], "[ERR] <exception> _com_error(0x80070005:" + Narrow(frame::FormatHResultMessage(E_ACCESSDENIED)) +
                             "<Src=\"HostKit\", Desc=\"profile withheld) {.\\Mpeg2TSConverter,657}");
}

}  // namespace
