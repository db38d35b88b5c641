#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <new>
#include <thread>

#include "dedazodu/Log.h"
#include "dedazodu/OutputLogSystem.h"
#include "log_test_support.h"
#include "platform/process.h"

using namespace deDazOdu;
using namespace vsk_log_test;

namespace {

SLogTime FixedTime()
{
    SLogTime t;
    t.year = 2024;
    t.month = 1;
    t.day = 2;
    t.hour = 3;
    t.minute = 4;
    t.second = 5;
    t.milliseconds = 6;
    return t;
}

std::wstring Hex(const wchar_t* format, unsigned value)
{
    wchar_t buffer[32];
    std::swprintf(buffer, 32, format, value);
    return buffer;
}

}  // namespace

TEST(TraceWriter, HeaderTextAndLineEndInOneHold)
{
    auto io = Common::CRef<CCaptureIO>::Attach(Common::New<CCaptureIO>());
    auto log = Common::CRef<ILog>::Attach(Common::New<CLog>(0xABCDu, io.Get()));
    const SLogTime t = FixedTime();
    EXPECT_EQ(log->WriteAt(&t, L"text"), 0);
    EXPECT_EQ(io->Pieces(), (std::vector<std::wstring> {L"[0000ABCD][2024/01/02(03:04:05.006)]", L"text", L"\r\n"}));
    EXPECT_EQ(io->LockDepth(), 0);
    EXPECT_EQ(log->GetKey(), 0xABCD);
}

TEST(TraceWriter, IndentationMarks)
{
    struct SCase {
        int indents;
        int unindents;
        std::size_t marks;
    };
    const SCase cases[] = {{0, 0, 0}, {1, 0, 0}, {2, 0, 1}, {5, 1, 3}, {64, 0, 63}, {70, 0, 63}, {0, 3, 0}, {2, 5, 0}};
    for (const SCase& c : cases) {
        auto io = Common::CRef<CCaptureIO>::Attach(Common::New<CCaptureIO>());
        auto log = Common::CRef<ILog>::Attach(Common::New<CLog>(1u, io.Get()));
        for (int i = 0; i < c.indents; ++i) {
            EXPECT_EQ(log->Indent(), 0);
        }
        for (int i = 0; i < c.unindents; ++i) {
            EXPECT_EQ(log->Unindent(), 0);
        }
        const SLogTime t = FixedTime();
        log->WriteAt(&t, L"x");
        EXPECT_EQ(io->Pieces().at(0), L"[00000001][2024/01/02(03:04:05.006)]" + std::wstring(c.marks, L'\x2502'))
            << c.indents << " " << c.unindents;
    }
    // Unindent below zero is lost: one Indent after it gives depth 1, no mark.
    auto io = Common::CRef<CCaptureIO>::Attach(Common::New<CCaptureIO>());
    auto log = Common::CRef<ILog>::Attach(Common::New<CLog>(1u, io.Get()));
    log->Unindent();
    log->Indent();
    log->Indent();
    const SLogTime t = FixedTime();
    log->WriteAt(&t, L"x");
    EXPECT_EQ(io->Pieces().at(0).size(), 37u);
}

TEST(TraceWriter, BlocksHoldTheChannelAndFlushOnlyAtTheOutermostEnd)
{
    auto io = Common::CRef<CCaptureIO>::Attach(Common::New<CCaptureIO>());
    auto log = Common::CRef<ILog>::Attach(Common::New<CLog>(1u, io.Get()));
    log->BeginBlock();
    log->BeginBlock();
    EXPECT_EQ(io->LockDepth(), 2);
    log->EndBlock();
    EXPECT_EQ(io->Flushes(), 0);
    EXPECT_EQ(io->LockDepth(), 1);
    log->EndBlock();
    EXPECT_EQ(io->Flushes(), 1);
    EXPECT_EQ(io->LockDepth(), 0);
}

TEST(ErrorWriter, HeaderWithProcessAndThread)
{
    auto io = Common::CRef<CCaptureIO>::Attach(Common::New<CCaptureIO>());
    auto log = Common::CRef<ILog>::Attach(Common::New<CErrorLog>(io.Get()));
    const SLogTime t = FixedTime();
    EXPECT_EQ(log->WriteAt(&t, L"[ERR] message"), 0);
    const std::wstring header = L"[2024/01/02 03:04:05.006][" + Hex(L"%X", platform::CurrentProcessId()) + L"][" +
                                Hex(L"%08X", platform::CurrentThreadId()) + L"] ";
    EXPECT_EQ(io->Pieces(), (std::vector<std::wstring> {header, L"[ERR] message", L"\r\n"}));
    EXPECT_EQ(log->Indent(), 1);
    EXPECT_EQ(log->Unindent(), 1);
    EXPECT_EQ(log->BeginBlock(), 1);
    EXPECT_EQ(log->EndBlock(), 1);
    EXPECT_EQ(log->GetKey(), 0);
    EXPECT_EQ(io->LockDepth(), 0);
}

TEST(LogSystem, PrintCutsAt1023AndThreadsGetTheirOwnWriters)
{
    auto factory = Common::CRef<CCaptureFactory>::Attach(Common::New<CCaptureFactory>());
    auto info = MakeInfo(factory.Get());
    const std::wstring name = UniqueName(L"trace");
    COutputLogSystem system(name.c_str(), info.Get(), L"", 0, false);

    const std::wstring long1500(1500, L'a');
    EXPECT_EQ(system.Print(L"%ls", long1500.c_str()), 0);
    EXPECT_EQ(system.Print(L"%d-%ls", 7, L"x"), 0);
    std::uint32_t otherThread = 0;
    std::thread([&] {
        otherThread = platform::CurrentThreadId();
        system.Write(L"from another thread");
    }).join();
    const std::vector<std::wstring> lines = factory->Capture().Lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(WithoutTraceHeader(lines[0]), std::wstring(1023, L'a'));
    EXPECT_EQ(WithoutTraceHeader(lines[1]), L"7-x");
    EXPECT_EQ(lines[0].substr(0, 10), L"[" + Hex(L"%08X", platform::CurrentThreadId()) + L"]");
    EXPECT_EQ(lines[2].substr(0, 10), L"[" + Hex(L"%08X", otherThread) + L"]");
    EXPECT_EQ(WithoutTraceHeader(lines[2]), L"from another thread");
}

TEST(LogSystem, SubjectFilterDecidesTraceOutput)
{
    auto factory = Common::CRef<CCaptureFactory>::Attach(Common::New<CCaptureFactory>());
    auto info = MakeInfo(factory.Get());
    info->State()->AddFilter(L"Default", 1, 2);
    const std::wstring name = UniqueName(L"trace");
    COutputLogSystem system(name.c_str(), info.Get(), L"", 0, false);
    info.Reset();  // the system keeps what it needs
    EXPECT_EQ(system.WriteSubject(L"Default", 1, L"one"), 0);
    EXPECT_EQ(system.WriteSubject(L"Default", 3, L"three"), 0);
    EXPECT_EQ(system.WriteSubject(L"default", 1, L"case"), 0);
    EXPECT_EQ(system.PrintSubject(L"Default", 2, L"%ls %d", L"two", 2), 0);
    EXPECT_EQ(system.DumpSubject(L"Other", 1, L"t", "x", 1, 16), 0);
    const std::vector<std::wstring> lines = factory->Capture().Lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(WithoutTraceHeader(lines[0]), L"one");
    EXPECT_EQ(WithoutTraceHeader(lines[1]), L"two 2");
}

TEST(LogSystem, ErrorLinesAreFormattedAndCut)
{
    CTempDir dir;
    const std::wstring path = dir.File(L"vesk.log");
    auto factory = Common::CRef<IOutputLogSystemFactory>::Attach(Common::New<Null::COutputLogSystemFactory>());
    auto info = MakeInfo(factory.Get());
    COutputLogSystem system(UniqueName(L"trace").c_str(), info.Get(), path.c_str(), 0xA00000, false);
    // Hold the banner off, as another library instance of this process would.
    platform::CNamedMutex banner;
    ASSERT_TRUE(banner.Create(COutputLogSystem::BannerMutexName(platform::CurrentProcessId(), path).c_str()));

    EXPECT_EQ(system.ErrorWriteCode(42, 99, L"TAG", L"text"), 0);
    EXPECT_EQ(system.ErrorWriteCode(-42, 0, L"T", L"negative"), 0);
    EXPECT_EQ(system.ErrorPrintCode(7, 0, L"P", L"%ls=%d", L"value", 5), 0);
    const std::wstring long1500(1500, L'b');
    EXPECT_EQ(system.ErrorPrint(L"%ls", long1500.c_str()), 0);
    EXPECT_EQ(system.ErrorWrite(long1500.c_str()), 0);

    const std::vector<std::string> lines = SplitLines(ReadFile(path));
    ASSERT_EQ(lines.size(), 5u);
    const std::string header = "][" + Narrow(Hex(L"%X", platform::CurrentProcessId())) + "][" +
                               Narrow(Hex(L"%08X", platform::CurrentThreadId())) + "] ";
    const std::string expected[] = {"00042:[TAG] text", "-0042:[T] negative", "00007:[P] value=5",
                                    std::string(1023, 'b'), std::string(1023, 'b')};
    for (std::size_t i = 0; i < 5; ++i) {
        // "[YYYY/MM/DD hh:mm:ss.mmm]" is 25 characters.
        ASSERT_GT(lines[i].size(), 25u);
        EXPECT_EQ(lines[i][0], '[');
        EXPECT_EQ(lines[i].substr(24, header.size()), header) << i;
        EXPECT_EQ(lines[i].substr(24 + header.size()), expected[i]) << i;
    }
}

TEST(LogSystem, ErrorWriteWithoutPathWritesNothing)
{
    auto factory = Common::CRef<IOutputLogSystemFactory>::Attach(Common::New<Null::COutputLogSystemFactory>());
    auto info = MakeInfo(factory.Get());
    COutputLogSystem system(UniqueName(L"trace").c_str(), info.Get(), L"", 0xA00000, false);
    EXPECT_EQ(system.ErrorWrite(L"nothing"), 0);
    EXPECT_EQ(system.ErrorPrint(L"%ls", L"nothing"), 0);
}

// Every lock is taken through a guard: a throw while a channel is held (say,
// memory running out) leaves it free for every other writer.
TEST(LogSystem, AThrowWhileAChannelIsHeldLeavesItFree)
{
    auto factory = Common::CRef<CCaptureFactory>::Attach(Common::New<CCaptureFactory>());
    auto info = MakeInfo(factory.Get());
    COutputLogSystem system(UniqueName(L"trace").c_str(), info.Get(), L"", 0, false);
    CCaptureIO& io = factory->Capture();
    auto trace = Common::CRef<ILog>::Attach(Common::New<CLog>(1u, &io));
    auto error = Common::CRef<ILog>::Attach(Common::New<CErrorLog>(&io));
    const std::function<void()> operations[] = {
        [&] { trace->WriteNow(L"trace"); },
        [&] { error->WriteNow(L"error"); },
        [&] { system.Print(L"%s", L"print"); },
        [&] { system.Dump(L"title", "abc", 3, 16); },
        [&] { system.Dump(L"title", "abc", 3, 0); },
    };
    int index = 0;
    for (const auto& operation : operations) {
        io.ThrowOnWrite(true);
        EXPECT_THROW(operation(), std::bad_alloc) << index;
        io.ThrowOnWrite(false);
        ASSERT_EQ(io.LockDepth(), 0) << index;
        ++index;
    }
    std::thread([&] { system.Write(L"another thread"); }).join();
    EXPECT_EQ(WithoutTraceHeader(io.Lines().back()), L"another thread");
}
