#include "VskMpegParser.h"
#include "vsktest/Environment.h"
#include "vsktest/StandIn.h"
#include "vsktest/TempDir.h"
#include "vsktest/TestLibrary.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

using namespace vsktest;
namespace fs = std::filesystem;

// Each test loads its own copy from a fresh directory, so the counters it
// reads start at zero and the copying the component tests rely on is covered.
class StandInParser : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_copy = CopyStandInTo(m_dir.Path());
        ASSERT_TRUE(m_library.Load(m_copy)) << m_library.LastError();
        m_create = m_library.Function<PfnCreateVskMpegParser>(VSK_PARSER_EXPORT_CREATE);
        m_seek = m_library.Function<PfnGetTimeSeekPosition>(VSK_PARSER_EXPORT_TIME_SEEK);
        m_live = m_library.Function<PfnStandInLiveParsers>(STANDIN_EXPORT_LIVE_PARSERS);
        m_calls = m_library.Function<PfnStandInSeekCalls>(STANDIN_EXPORT_SEEK_CALLS);
        ASSERT_NE(m_create, nullptr);
        ASSERT_NE(m_seek, nullptr);
        ASSERT_NE(m_live, nullptr);
        ASSERT_NE(m_calls, nullptr);
    }

    CTempDir m_dir;
    fs::path m_copy;
    CTestLibrary m_library;
    PfnCreateVskMpegParser m_create = nullptr;
    PfnGetTimeSeekPosition m_seek = nullptr;
    PfnStandInLiveParsers m_live = nullptr;
    PfnStandInSeekCalls m_calls = nullptr;
    // No behaviour left over from the environment the tests were started in.
    CScopedEnvironment m_e1{STANDIN_ENV_CREATE_RESULT};
    CScopedEnvironment m_e2{STANDIN_ENV_CREATE_NULL};
    CScopedEnvironment m_e3{STANDIN_ENV_SEEK_RESULT};
    CScopedEnvironment m_e4{STANDIN_ENV_SEEK_FOUND_MS};
    CScopedEnvironment m_e5{STANDIN_ENV_SEEK_POSITION};
    CScopedEnvironment m_e6{STANDIN_ENV_LOG};
};

TEST_F(StandInParser, FileNameAndExportsAreThoseOfTheRealLibrary)
{
    EXPECT_EQ(m_copy.filename(), StandInFileName());
    EXPECT_EQ(StandInFileName().stem().wstring(), VSK_PARSER_LIBRARY_BASE_NAME);
    EXPECT_TRUE(StandInFileName().extension() == ".dll" || StandInFileName().extension() == ".so");

    CTestLibrary broken;
    fs::create_directory(m_dir / "broken");
    ASSERT_TRUE(broken.Load(CopyStandInTo(m_dir / "broken", true))) << broken.LastError();
    EXPECT_NE(broken.Symbol(VSK_PARSER_EXPORT_CREATE), nullptr);
    EXPECT_EQ(broken.Symbol(VSK_PARSER_EXPORT_TIME_SEEK), nullptr);
    EXPECT_EQ(m_library.Symbol("NoSuchExport"), nullptr);
}

TEST_F(StandInParser, CreatedObjectReleasesThroughSlotTwo)
{
    IVskMpegParser* parser = nullptr;
    ASSERT_EQ(m_create(&parser), 0);
    ASSERT_NE(parser, nullptr);
    EXPECT_EQ(m_live(), 1);
    EXPECT_EQ(parser->GetInterfaceVersion(), VSK_PARSER_INTERFACE_VERSION);

    // Call the third table entry the way the component does, without the
    // class declaration: this fails if a destructor or anything else moved
    // ReleaseParser away from slot 2.
    using Slot = std::int32_t (*)(IVskMpegParser*);
    Slot* table = *reinterpret_cast<Slot**>(parser);
    EXPECT_EQ(table[2](parser), 0);
    EXPECT_EQ(m_live(), 0);

    IVskMpegParser* second = nullptr;
    ASSERT_EQ(m_create(&second), 0);
    EXPECT_EQ(second->ReleaseParser(), 0);
    EXPECT_EQ(m_live(), 0);
}

TEST_F(StandInParser, CreationAnswersAsTheEnvironmentSays)
{
    IVskMpegParser* const sentinel = reinterpret_cast<IVskMpegParser*>(std::uintptr_t{0x1234});
    struct Case { const char* result; const char* makeNull; std::int32_t expected; bool object; bool untouched; };
    const Case cases[] = {
        {nullptr, nullptr, 0, true, false},
        {"0x80004005", nullptr, VSK_PARSER_RESULT_FAIL, false, true},
        {"-2147024809", nullptr, VSK_PARSER_RESULT_INVALIDARG, false, true},
        {"1", nullptr, 1, false, true},
        {nullptr, "1", 0, false, false},
        {"0x80004005", "1", VSK_PARSER_RESULT_FAIL, false, false},
        {"not a number", nullptr, 0, true, false},
    };
    for (const Case& c : cases) {
        std::unique_ptr<CScopedEnvironment> result, makeNull;
        if (c.result)
            result = std::make_unique<CScopedEnvironment>(STANDIN_ENV_CREATE_RESULT, c.result);
        if (c.makeNull)
            makeNull = std::make_unique<CScopedEnvironment>(STANDIN_ENV_CREATE_NULL, c.makeNull);
        IVskMpegParser* parser = sentinel;
        EXPECT_EQ(m_create(&parser), c.expected) << (c.result ? c.result : "-");
        if (c.untouched) {
            EXPECT_EQ(parser, sentinel);
        } else if (!c.object) {
            EXPECT_EQ(parser, nullptr);
        }
        EXPECT_EQ(m_live(), c.object ? 1 : 0);
        if (c.object && parser && parser != sentinel)
            parser->ReleaseParser();
    }
    EXPECT_EQ(m_create(nullptr), VSK_PARSER_RESULT_POINTER);
    EXPECT_EQ(m_live(), 0);
}

TEST_F(StandInParser, SeekReturnsChosenValuesAndLogsItsArguments)
{
    const fs::path log = m_dir / "calls.log";
    CScopedEnvironment logTo(STANDIN_ENV_LOG, log);

    std::uint32_t found = 0xFFFFFFFFu;
    std::int64_t position = -1;
    const std::wstring path = L"C:\\media\\caf\u00e9 \u6771\u4eac.m2ts";
    EXPECT_EQ(m_seek(path.c_str(), 60000, 1234, false, &found, &position), 0);
    EXPECT_EQ(found, 1234u) << "default: the requested time";
    EXPECT_EQ(position, 0);

    {
        CScopedEnvironment f(STANDIN_ENV_SEEK_FOUND_MS, "40");
        CScopedEnvironment p(STANDIN_ENV_SEEK_POSITION, "0x1F4000000");
        CScopedEnvironment r(STANDIN_ENV_SEEK_RESULT, "1");
        EXPECT_EQ(m_seek(L"/x.tts", 100000, 60, true, &found, &position), 1);
        EXPECT_EQ(found, 40u);
        EXPECT_EQ(position, 0x1F4000000ll);
    }
    {
        // A failure leaves both outputs as the caller preset them.
        CScopedEnvironment r(STANDIN_ENV_SEEK_RESULT, "0x8007000E");
        CScopedEnvironment f(STANDIN_ENV_SEEK_FOUND_MS, "7");
        found = 0xFFFFFFFFu;
        position = -1;
        EXPECT_EQ(m_seek(L"y.m2t", 1, 0, false, &found, &position), VSK_PARSER_RESULT_OUTOFMEMORY);
        EXPECT_EQ(found, 0xFFFFFFFFu);
        EXPECT_EQ(position, -1);
    }
    {
        CScopedEnvironment p(STANDIN_ENV_SEEK_POSITION, "-1");
        EXPECT_EQ(m_seek(L"", 0xFFFFFFFFu, 0xFFFFFFFEu, false, &found, &position), 0);
        EXPECT_EQ(position, -1);
    }
    EXPECT_EQ(m_seek(L"z", 1, 1, false, nullptr, &position), VSK_PARSER_RESULT_POINTER);
    EXPECT_EQ(m_calls(), 5);

    const std::vector<StandInSeekCall> calls = ReadStandInLog(log);
    ASSERT_EQ(calls.size(), 5u);
    EXPECT_EQ(calls[0].path, path);
    EXPECT_EQ(calls[0].durationMs, 60000u);
    EXPECT_EQ(calls[0].timeMs, 1234u);
    EXPECT_FALSE(calls[0].flag);
    EXPECT_EQ(calls[1].path, L"/x.tts");
    EXPECT_TRUE(calls[1].flag);
    EXPECT_EQ(calls[2].timeMs, 0u);
    EXPECT_EQ(calls[3].path, L"");
    EXPECT_EQ(calls[3].durationMs, 0xFFFFFFFFu);
    EXPECT_EQ(calls[3].timeMs, 0xFFFFFFFEu);
}

TEST_F(StandInParser, ObjectOperationAnswersLikeTheExport)
{
    CScopedEnvironment p(STANDIN_ENV_SEEK_POSITION, "960");
    IVskMpegParser* parser = nullptr;
    ASSERT_EQ(m_create(&parser), 0);
    std::uint32_t found = 0;
    std::int64_t position = 0;
    EXPECT_EQ(parser->FindTimeSeekPosition(L"a.m2ts", 10, 5, false, &found, &position), 0);
    EXPECT_EQ(found, 5u);
    EXPECT_EQ(position, 960);
    parser->ReleaseParser();
    EXPECT_EQ(m_calls(), 1);
}

TEST_F(StandInParser, CopiesInOtherDirectoriesKeepTheirOwnState)
{
    CTempDir other;
    CTestLibrary second(CopyStandInTo(other.Path()));
    ASSERT_TRUE(second.Loaded()) << second.LastError();
    auto create2 = second.Function<PfnCreateVskMpegParser>(VSK_PARSER_EXPORT_CREATE);
    auto live2 = second.Function<PfnStandInLiveParsers>(STANDIN_EXPORT_LIVE_PARSERS);
    IVskMpegParser* parser = nullptr;
    ASSERT_EQ(create2(&parser), 0);
    EXPECT_EQ(live2(), 1);
    EXPECT_EQ(m_live(), 0);
    parser->ReleaseParser();
    EXPECT_EQ(live2(), 0);
}

TEST(StandInLog, MissingLogMeansNoCalls)
{
    CTempDir dir;
    EXPECT_TRUE(ReadStandInLog(dir / "none.log").empty());
    dir.WriteFile("bad.log", std::string_view("only\ttwo\n"));
    EXPECT_THROW(ReadStandInLog(dir / "bad.log"), std::runtime_error);
}

}  // namespace
