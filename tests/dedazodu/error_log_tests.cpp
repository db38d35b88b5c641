#include <gtest/gtest.h>

#include <fstream>

#include "dedazodu/AppLog.h"
#include "dedazodu/ErrorLogIO.h"
#include "dedazodu/OutputLogSystem.h"
#include "log_test_support.h"
#include "platform/file.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/time.h"

using namespace deDazOdu;
using namespace vsk_log_test;

namespace {

Common::CRef<ILogIO> Channel(const std::wstring& path, std::uint32_t maxSize, bool keepTail)
{
    return Common::CRef<ILogIO>::Attach(Common::New<COutputErrorLogIO>(path.c_str(), maxSize, keepTail));
}

// One line as CErrorLog writes it: an outermost Lock ... Unlock around the pieces.
void WriteLine(const Common::CRef<ILogIO>& io, const wchar_t* text)
{
    io->Lock();
    io->Write(text);
    io->Unlock();
}

std::string Lines(int count, std::size_t width)
{
    std::string text;
    for (int i = 0; i < count; ++i) {
        std::string line = "line " + std::to_string(i) + " ";
        line.resize(width - 2, '.');
        text += line + "\r\n";
    }
    return text;
}

}  // namespace

TEST(ErrorLog, MutexNames)
{
    EXPECT_EQ(COutputLogSystem::BannerMutexName(0x1F4, L"C:\\Logs\\vesk.log"),
              L"DEDAZODU_ERRORLOG_000001F4_C__Logs_vesk_log");
    const std::wstring sep(1, platform::PATH_SEPARATOR);
    EXPECT_EQ(COutputErrorLogIO::FileMutexName(sep + L"Logs" + sep + L"vesk.log"), L"COutputErrorLogIO::vesk");
    EXPECT_EQ(COutputErrorLogIO::FileMutexName(L"vesk.log"), L"COutputErrorLogIO::vesk");
}

TEST(ErrorLog, ChannelWritesAnsiAndCutsAt1023Bytes)
{
    CTempDir dir;
    const std::wstring path = dir.File(L"vesk.log");
    auto io = Channel(path, 0xA00000, false);
    EXPECT_EQ(io->Write(L"abc"), 3);
    EXPECT_EQ(io->WriteLine(L"def"), 5);
    const std::wstring long1500(1500, L'z');
    EXPECT_EQ(io->WriteLine(long1500.c_str()), 1025);
    EXPECT_EQ(ReadFile(path), "abcdef\r\n" + std::string(1023, 'z') + "\r\n");
    // Nested holds keep one open file until the outermost Unlock.
    EXPECT_EQ(io->Lock(), 1);
    EXPECT_EQ(io->Lock(), 2);
    EXPECT_EQ(io->Unlock(), 1);
    EXPECT_EQ(io->Unlock(), 0);
}

TEST(ErrorLog, EmptyPathWritesNothing)
{
    auto io = Channel(L"", 100, false);
    EXPECT_EQ(io->Lock(), 1);
    EXPECT_EQ(io->Write(L"x"), 0);
    EXPECT_EQ(io->WriteLine(L"x"), 0);
    EXPECT_EQ(io->Unlock(), 0);
}

TEST(ErrorLog, FileMovesToBakOnceALineLeavesItAboveTheCap)
{
    CTempDir dir;
    const std::wstring path = dir.File(L"vesk.log");
    const std::wstring bak = path + L".bak";
    WriteFile(path, std::string(APPLOG_ERROR_LOG_MAX_SIZE - 10, 'a'));
    WriteFile(bak, "old generation");
    ASSERT_TRUE(platform::SetReadOnly(bak.c_str()));
    auto io = Channel(path, APPLOG_ERROR_LOG_MAX_SIZE, false);

    WriteLine(io, L"0123456789");  // exactly at the cap: stays
    EXPECT_EQ(ReadFile(path).size(), APPLOG_ERROR_LOG_MAX_SIZE);
    EXPECT_EQ(ReadFile(bak), "old generation");

    WriteLine(io, L"!");  // one byte above: moved when the line is done
    EXPECT_FALSE(Exists(path));
    const std::string moved = ReadFile(bak);
    EXPECT_EQ(moved.size(), APPLOG_ERROR_LOG_MAX_SIZE + 1);
    EXPECT_EQ(moved.substr(moved.size() - 11), "0123456789!");

    WriteLine(io, L"fresh");
    EXPECT_EQ(ReadFile(path), "fresh");
}

TEST(ErrorLog, KeepTailCutsWholeLinesFromTheFront)
{
    struct SCase {
        std::string before;
        std::uint32_t cap;
        std::string after;
    };
    const std::string ten = Lines(10, 30);
    const SCase cases[] = {
        {ten, 100, ten.substr(210)},          // ten 30-byte lines: the last three remain
        {ten, 300, ten},                      // at the cap: untouched
        {ten, 299, ten.substr(30)},
        {std::string(5000, 'x'), 100, ""},    // no line break at all: emptied
        {"ab\r\n" + std::string(200, 'y'), 100, ""},  // the tail alone is still too long
        {std::string(96, 'x') + "\r\nabcd", 10, ""},  // four bytes or fewer are not kept
        {std::string(96, 'x') + "\r\nabcde", 10, "abcde"},
    };
    int index = 0;
    for (const SCase& c : cases) {
        CTempDir dir;
        const std::wstring path = dir.File(L"vesk.log");
        WriteFile(path, c.before);
        auto io = Channel(path, c.cap, true);
        io->Lock();
        io->Unlock();
        EXPECT_EQ(ReadFile(path), c.after) << index;
        EXPECT_FALSE(Exists(path + L".bak")) << index;
        ++index;
    }
}

// A close that cannot read the file keeps it as it is; the next line still
// goes to the end, and the next close trims.
TEST(ErrorLog, KeepTailAppendsAtTheEndAfterAFailedRead)
{
    CTempDir dir;
    const std::wstring path = dir.File(L"vesk.log");
    const std::string ten = Lines(10, 30);
    WriteFile(path, ten);
    auto io = Channel(path, 100, true);
    io->Lock();
    {
        const platform::CReadFailureScope failing;
        io->Unlock();
    }
    WriteLine(io, L"next\r\n");
    io.Reset();
    EXPECT_EQ(ReadFile(path), ten.substr(210) + "next\r\n");
}

TEST(ErrorLog, BannerOncePerProcessAndPathBeforeTheFirstLine)
{
    CTempDir dir;
    const std::wstring path = dir.File(L"vesk.log");
    auto factory = Common::CRef<IOutputLogSystemFactory>::Attach(Common::New<Null::COutputLogSystemFactory>());
    auto info = MakeInfo(factory.Get());
    {
        COutputLogSystem first(UniqueName(L"t").c_str(), info.Get(), path.c_str(), 0xA00000, false);
        first.ErrorWrite(L"first");
        first.ErrorWrite(L"second");
    }
    COutputLogSystem again(UniqueName(L"t").c_str(), info.Get(), path.c_str(), 0xA00000, false);
    again.ErrorWrite(L"third");

    const std::vector<std::string> lines = SplitLines(ReadFile(path));
    ASSERT_EQ(lines.size(), 6u);
    platform::SLocalTime created;
    ASSERT_TRUE(platform::ProcessCreationLocalTime(created));
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "[%04d/%02d/%02d %02d:%02d:%02d.%03d][%X][%08X] ", created.year,
                  created.month, created.day, created.hour, created.minute, created.second, created.milliseconds,
                  platform::CurrentProcessId(), platform::CurrentThreadId());
    const std::string rule(79, '-');
    EXPECT_EQ(lines[0], stamp + rule);
    EXPECT_EQ(lines[1], stamp + Narrow(platform::ExecutablePath()));
    EXPECT_EQ(lines[2], stamp + rule);
    const std::string texts[] = {"first", "second", "third"};
    for (int i = 0; i < 3; ++i) {
        const std::string& line = lines[3 + i];
        ASSERT_GE(line.size(), texts[i].size());
        EXPECT_EQ(line.substr(line.size() - texts[i].size()), texts[i]);
        EXPECT_EQ(line.find("] "), std::string(stamp).size() - 2);
    }
}

// Windows only: the file is opened without sharing, so a program that keeps
// it open makes lines drop until it lets go.
TEST(ErrorLog, LinesDropWhileAnotherProgramHoldsTheFile)
{
    if (!platform::OS_HAS_SHARE_MODES) {
        GTEST_SKIP() << "POSIX has no share modes: only the project's own opens exclude each other";
    }
    CTempDir dir;
    const std::wstring path = dir.File(L"vesk.log");
    WriteFile(path, "");
    auto io = Channel(path, 0xA00000, false);
    {
        std::ifstream foreign(std::filesystem::path(path), std::ios::binary);
        ASSERT_TRUE(foreign.is_open());
        WriteLine(io, L"dropped");
    }
    WriteLine(io, L"kept");
    EXPECT_EQ(ReadFile(path), "kept");
}

// The project's own exclusive opens exclude each other in both builds.
TEST(ErrorLog, LinesDropWhileAnotherChannelHoldsTheFileOpen)
{
    CTempDir dir;
    const std::wstring path = dir.File(L"vesk.log");
    platform::CFile holder;
    ASSERT_TRUE(holder.Open(path.c_str(), platform::EFileMode::READ_SHARED) ||
                holder.Open(path.c_str(), platform::EFileMode::READ_WRITE_EXCLUSIVE));
    auto io = Channel(path, 0xA00000, false);
    WriteLine(io, L"dropped");
    holder.Close();
    WriteLine(io, L"kept");
    EXPECT_EQ(ReadFile(path), "kept");
}

TEST(ErrorLog, EachPathGetsItsOwnBanner)
{
    CTempDir dir;
    auto factory = Common::CRef<IOutputLogSystemFactory>::Attach(Common::New<Null::COutputLogSystemFactory>());
    auto info = MakeInfo(factory.Get());
    const std::wstring paths[] = {dir.File(L"one.log"), dir.File(L"two.log")};
    for (const std::wstring& path : paths) {
        COutputLogSystem system(UniqueName(L"t").c_str(), info.Get(), path.c_str(), 0xA00000, false);
        system.ErrorWrite(L"line");
        system.ErrorWrite(L"line");
    }
    for (const std::wstring& path : paths) {
        const std::vector<std::string> lines = SplitLines(ReadFile(path));
        ASSERT_EQ(lines.size(), 5u) << Narrow(path);
        EXPECT_EQ(lines[0].substr(lines[0].size() - 79), std::string(79, '-'));
    }
}
