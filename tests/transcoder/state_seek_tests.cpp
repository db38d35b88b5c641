// The converter's states and the operations each allows, byte seeks with the
// packet alignment of time-stamped AVC sources, the rate, and the queries.
#include "ConverterTesting.h"

#include "vsktest/TempDir.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace transcodertest;

enum class EState { CLOSED, STARTED, STOPPED };

const char* Name(EState s)
{
    switch (s) {
    case EState::CLOSED:
        return "closed";
    case EState::STARTED:
        return "started";
    case EState::STOPPED:
        return "stopped";
    }
    return "?";
}

// Which state a converter is in, told from what it allows (this moves the
// file pointer of an open converter back to 0).
EState Observe(IVskMediaTranscoder* converter)
{
    LONGLONG size = 0;
    if (converter->GetSize(&size) != S_OK)
        return EState::CLOSED;
    return converter->SeekByBytes(0) == S_OK ? EState::STOPPED : EState::STARTED;
}

class StateSeekTest : public ::testing::Test {
protected:
    // A converter in the given state on the stamped file; `viaClose` and
    // `viaStop` reach the state the long way.
    CComPtr<IVskMediaTranscoder> ConverterIn(EState state, bool longWay)
    {
        CComPtr<IVskMediaTranscoder> converter = NewConverter();
        if (state == EState::CLOSED && !longWay)
            return converter;
        EXPECT_EQ(OpenAsItem(converter, m_stream.path, 26, 5000), S_OK);
        switch (state) {
        case EState::CLOSED:
            EXPECT_EQ(converter->Close(), S_OK);
            break;
        case EState::STARTED:
            EXPECT_EQ(converter->Start(), S_OK);
            if (longWay) {
                EXPECT_EQ(converter->Start(), S_OK);
            }
            break;
        case EState::STOPPED:
            if (longWay) {
                EXPECT_EQ(converter->Start(), S_OK);
                EXPECT_EQ(converter->Stop(), S_OK);
            }
            break;
        }
        return converter;
    }

    vsktest::CTempDir m_dir;
    SStream m_stream = WriteStampedStream(m_dir / "stamped.m2ts", 20);
    Bytes m_cleared = WithPrefixesCleared(m_stream.bytes);
};

TEST_F(StateSeekTest, EachStateAllowsItsOperations)
{
    struct SOperation {
        const char* name;
        std::function<HRESULT(IVskMediaTranscoder*)> call;
        HRESULT closed, started, stopped;
        // State afterwards when the call succeeds (unchanged when not given).
        std::optional<EState> after;
    };
    const SOperation operations[] = {
        {"Start", [](IVskMediaTranscoder* c) { return c->Start(); }, E_FAIL, S_OK, S_OK, EState::STARTED},
        {"Stop", [](IVskMediaTranscoder* c) { return c->Stop(); }, E_FAIL, S_OK, S_OK, EState::STOPPED},
        {"Close", [](IVskMediaTranscoder* c) { return c->Close(); }, S_OK, S_OK, S_OK, EState::CLOSED},
        {"SeekByBytes", [](IVskMediaTranscoder* c) { return c->SeekByBytes(384); }, E_FAIL, E_FAIL, S_OK, {}},
        {"SetRate", [](IVskMediaTranscoder* c) { return c->SetRate(1.0); }, E_FAIL, S_OK, S_OK, {}},
        {"GetSize",
         [](IVskMediaTranscoder* c) {
             LONGLONG v = 0;
             return c->GetSize(&v);
         },
         E_FAIL, S_OK, S_OK, {}},
        {"GetDuration",
         [](IVskMediaTranscoder* c) {
             ULONG v = 0;
             return c->GetDuration(&v);
         },
         E_FAIL, S_OK, S_OK, {}},
        {"GetRangeEnd",
         [](IVskMediaTranscoder* c) {
             ULONG v = 0;
             LONGLONG last = 0;
             return c->GetRangeEnd(1, &v, &last);
         },
         S_OK, S_OK, S_OK, {}},
        {"Read", [](IVskMediaTranscoder* c) { return ReadOnce(c, 100).hr; }, E_FAIL, S_OK, E_FAIL, {}},
    };
    for (const SOperation& op : operations) {
        for (EState state : {EState::CLOSED, EState::STARTED, EState::STOPPED}) {
            for (bool longWay : {false, true}) {
                SCOPED_TRACE(std::string(op.name) + " when " + Name(state) + (longWay ? " (long way)" : ""));
                CComPtr<IVskMediaTranscoder> converter = ConverterIn(state, longWay);
                const HRESULT expected = state == EState::CLOSED    ? op.closed
                                         : state == EState::STARTED ? op.started
                                                                    : op.stopped;
                EXPECT_EQ(op.call(converter), expected);
                const EState after = SUCCEEDED(expected) && op.after ? *op.after : state;
                EXPECT_EQ(Name(Observe(converter)), Name(after));
            }
        }
    }
}

TEST_F(StateSeekTest, QueriesReportTheOpenSource)
{
    CComPtr<IVskMediaTranscoder> converter = ConverterIn(EState::STARTED, false);
    LONGLONG size = 0;
    ULONG duration = 0;
    ULONG endValue = 0;
    LONGLONG last = 0;
    EXPECT_EQ(converter->GetSize(&size), S_OK);
    EXPECT_EQ(size, static_cast<LONGLONG>(m_stream.bytes.size()));
    EXPECT_EQ(converter->GetDuration(&duration), S_OK);
    EXPECT_EQ(duration, 5000u);
    EXPECT_EQ(converter->GetRangeEnd(5000, &endValue, &last), S_OK);
    EXPECT_EQ(endValue, 5000u);
    EXPECT_EQ(last, static_cast<LONGLONG>(m_stream.bytes.size()) - 1);

    EXPECT_EQ(converter->Close(), S_OK);
    EXPECT_EQ(converter->GetRangeEnd(7, &endValue, &last), S_OK);
    EXPECT_EQ(endValue, 7u);
    EXPECT_EQ(last, -2);
}

TEST_F(StateSeekTest, NullOutPointersAndBadCountsChangeNothing)
{
    EXPECT_EQ(transcoder::CreateMpeg2TSConverter(L"", nullptr), E_POINTER);

    CComPtr<IVskMediaTranscoder> converter = ConverterIn(EState::STOPPED, false);
    EXPECT_EQ(converter->GetSize(nullptr), E_POINTER);
    EXPECT_EQ(converter->GetDuration(nullptr), E_POINTER);

    ULONG endValue = 99;
    LONGLONG last = 99;
    EXPECT_EQ(converter->GetRangeEnd(5, nullptr, &last), E_POINTER);
    EXPECT_EQ(converter->GetRangeEnd(5, &endValue, nullptr), E_POINTER);
    EXPECT_EQ(endValue, 99u);
    EXPECT_EQ(last, 99);

    ULONG actual = 99;
    LONGLONG position = 99;
    EXPECT_EQ(converter->SeekByTime(0, nullptr, &position), E_POINTER);
    EXPECT_EQ(converter->SeekByTime(0, &actual, nullptr), E_POINTER);
    EXPECT_EQ(actual, 99u);
    EXPECT_EQ(position, 99);

    ASSERT_EQ(converter->Start(), S_OK);
    SAFEARRAY* data = nullptr;
    VARIANT_BOOL end = 5;
    EXPECT_EQ(converter->Read(100, nullptr, &end), E_POINTER);
    EXPECT_EQ(converter->Read(100, &data, nullptr), E_POINTER);
    EXPECT_EQ(converter->Read(0, &data, &end), E_INVALIDARG);
    EXPECT_EQ(converter->Read(-1, &data, &end), E_INVALIDARG);
    EXPECT_EQ(converter->Read(std::numeric_limits<LONG>::min(), &data, &end), E_INVALIDARG);
    EXPECT_EQ(data, nullptr);
    EXPECT_EQ(end, 5);

    // A failing read leaves both outputs as they were.
    ASSERT_EQ(converter->Stop(), S_OK);
    EXPECT_EQ(converter->Read(100, &data, &end), E_FAIL);
    EXPECT_EQ(data, nullptr);
    EXPECT_EQ(end, 5);

    // None of it moved the file pointer.
    ASSERT_EQ(converter->Start(), S_OK);
    EXPECT_EQ(ReadOnce(converter, 384).bytes, Bytes(m_cleared.begin(), m_cleared.begin() + 384));
}

TEST_F(StateSeekTest, OnlyNormalSpeedIsAccepted)
{
    CComPtr<IVskMediaTranscoder> closed = NewConverter();
    EXPECT_EQ(closed->SetRate(1.0), E_FAIL);
    EXPECT_EQ(closed->SetRate(2.0), E_FAIL);

    CComPtr<IVskMediaTranscoder> converter = ConverterIn(EState::STOPPED, false);
    EXPECT_EQ(converter->SetRate(1.0), S_OK);
    for (double rate : {2.0, 0.5, 0.0, -1.0, std::nextafter(1.0, 2.0), std::nextafter(1.0, 0.0),
                        std::numeric_limits<double>::infinity(), std::numeric_limits<double>::quiet_NaN()}) {
        SCOPED_TRACE(rate);
        EXPECT_EQ(converter->SetRate(rate), E_INVALIDARG);
    }
    EXPECT_EQ(Name(Observe(converter)), Name(EState::STOPPED));
}

TEST_F(StateSeekTest, StampedSeeksKeepThePointerOnThePacketGrid)
{
    // Each case seeks (possibly twice) and reads 1000 bytes: the bytes
    // delivered show where the pointer went and how much was skipped.
    const struct {
        std::vector<LONGLONG> seeks;
        std::vector<HRESULT> results;
        std::size_t from;  // first byte delivered
        std::size_t to;
    } cases[] = {
        {{385}, {S_OK}, 385, 1344},       // pointer 384, skip 1
        {{1000}, {S_OK}, 1000, 1920},     // pointer 960, skip 40
        {{384}, {S_OK}, 384, 1344},
        {{-100}, {S_OK}, 0, 960},         // the negative rest is no skip
        {{-191}, {S_OK}, 0, 960},
        {{-192}, {E_FAIL}, 0, 960},
        {{385, -200}, {S_OK, E_FAIL}, 385, 1344},  // a failed seek changes nothing
        {{385, 384}, {S_OK, S_OK}, 384, 1344},     // an aligned seek drops the old skip
        {{385, 390}, {S_OK, S_OK}, 390, 1344},
        {{385, 0}, {S_OK, S_OK}, 0, 960},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("first seek " + std::to_string(c.seeks[0]) + ", " + std::to_string(c.seeks.size()) + " seeks");
        CComPtr<IVskMediaTranscoder> converter = ConverterIn(EState::STOPPED, false);
        // Leave the pointer away from 0 first.
        ASSERT_EQ(converter->Start(), S_OK);
        ASSERT_EQ(ReadOnce(converter, 1000).hr, S_OK);
        ASSERT_EQ(converter->Stop(), S_OK);
        ASSERT_EQ(converter->SeekByBytes(0), S_OK);
        for (std::size_t i = 0; i < c.seeks.size(); ++i)
            EXPECT_EQ(converter->SeekByBytes(c.seeks[i]), c.results[i]);
        ASSERT_EQ(converter->Start(), S_OK);
        const SRead r = ReadOnce(converter, 1000);
        EXPECT_EQ(r.hr, S_OK);
        EXPECT_EQ(r.bytes, Bytes(m_cleared.begin() + static_cast<std::ptrdiff_t>(c.from),
                                 m_cleared.begin() + static_cast<std::ptrdiff_t>(c.to)));
    }
}

TEST_F(StateSeekTest, PlainSeeksGoWhereAsked)
{
    const SStream plain = WritePlainStream(m_dir / "plain.m2ts", 20);
    CComPtr<IVskMediaTranscoder> converter = NewConverter();
    ASSERT_EQ(OpenAsPath(converter, plain.path), S_OK);
    EXPECT_EQ(converter->SeekByBytes(385), S_OK);
    EXPECT_EQ(converter->SeekByBytes(-100), E_FAIL);
    ASSERT_EQ(converter->Start(), S_OK);
    EXPECT_EQ(ReadOnce(converter, 1000).bytes, Bytes(plain.bytes.begin() + 385, plain.bytes.begin() + 1385));

    // Beyond the end: the seek succeeds and the next read is the end.
    ASSERT_EQ(converter->Stop(), S_OK);
    EXPECT_EQ(converter->SeekByBytes(static_cast<LONGLONG>(plain.bytes.size()) + 10000), S_OK);
    ASSERT_EQ(converter->Start(), S_OK);
    const SRead r = ReadOnce(converter, 1000);
    EXPECT_EQ(r.hr, S_OK);
    EXPECT_TRUE(r.bytes.empty());
    EXPECT_EQ(r.endOfStream, VARIANT_TRUE);
}

}  // namespace
