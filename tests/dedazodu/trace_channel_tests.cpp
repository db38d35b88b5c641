#include <gtest/gtest.h>

#include <regex>

#include "dedazodu/Channels.h"
#include "dedazodu/Factories.h"
#include "dedazodu/FileIO.h"
#include "dedazodu/OutputLogSystem.h"
#include "log_test_support.h"
#include "platform/debug.h"
#include "platform/paths.h"
#include "platform/process.h"

using namespace deDazOdu;
using namespace vsk_log_test;

namespace {

const std::wstring SEP(1, platform::PATH_SEPARATOR);

std::wstring ProgramDir()
{
    return ProgramDirectory().wstring() + SEP;
}

Common::CRef<File::CFileIO> FileChannel(const std::wstring& name, const std::wstring& location, bool autoflush = false)
{
    return Common::CRef<File::CFileIO>::Attach(Common::New<File::CFileIO>(name.c_str(), autoflush, location.c_str()));
}

// Splits "<dir><name>-YYYY-MM-DD [hh-mm-ss]<rest>" and checks the stamp.
void ExpectTraceName(const std::wstring& fileName, const std::wstring& directory, const std::wstring& name,
                     const std::wstring& rest = L".log")
{
    ASSERT_GE(fileName.size(), directory.size() + name.size());
    EXPECT_EQ(fileName.substr(0, directory.size()), directory);
    const std::wstring tail = fileName.substr(directory.size());
    EXPECT_TRUE(std::regex_match(Narrow(tail), std::regex(Narrow(name) + R"(-\d{4}-\d{2}-\d{2} \[\d{2}-\d{2}-\d{2}\])" +
                                                          std::regex_replace(Narrow(rest), std::regex(R"([\[\].])"), R"(\$&)"))))
        << Narrow(fileName);
}

// Removes a file the test made next to the test program.
struct SRemoveLater {
    std::vector<std::wstring> paths;
    ~SRemoveLater()
    {
        for (auto it = paths.rbegin(); it != paths.rend(); ++it) {
            std::error_code ignored;
            std::filesystem::remove(std::filesystem::path(*it), ignored);
        }
    }
};

std::vector<std::wstring> g_pieces;
void Collect(const wchar_t* text)
{
    g_pieces.emplace_back(text);
}

}  // namespace

TEST(TraceFile, NamedAfterTheLogAndStampedThenNumberedWhenTaken)
{
    CTempDir dir;
    const std::wstring name = UniqueName(L"vesk.debug");
    for (int attempt = 0; attempt < 5; ++attempt) {
        auto first = FileChannel(name, dir.Path().wstring());
        auto second = FileChannel(name, dir.Path().wstring());
        if (first->FileName() != second->FileName()) {
            continue;  // the second ticked over between the two; try again
        }
        ExpectTraceName(first->FileName(), dir.Path().wstring() + SEP, name);
        EXPECT_EQ(first->Write(L"one"), 3);
        EXPECT_EQ(second->Write(L"two"), 3);
        const std::wstring base = first->FileName();
        EXPECT_EQ(second->FileName(), base.substr(0, base.size() - 4) + L"[01].log");
        auto third = FileChannel(name, dir.Path().wstring());
        if (third->FileName() == base) {
            EXPECT_EQ(third->Write(L"three"), 5);
            EXPECT_EQ(third->FileName(), base.substr(0, base.size() - 4) + L"[02].log");
        }
        first.Reset();
        second.Reset();
        EXPECT_EQ(ReadFile(base), "one");
        EXPECT_EQ(ReadFile(base.substr(0, base.size() - 4) + L"[01].log"), "two");
        return;
    }
    FAIL() << "no two channels made within one second";
}

TEST(TraceFile, WritesAnsiWithWriteAndUtf16WithWriteLine)
{
    CTempDir dir;
    auto io = FileChannel(UniqueName(L"t"), dir.Path().wstring(), true);
    EXPECT_EQ(io->Write(L"Ab"), 2);
    EXPECT_EQ(io->WriteLine(L"Ab"), 4);
    const std::wstring long1500(1500, L'c');
    EXPECT_EQ(io->Write(long1500.c_str()), 1023);
    io->Flush();
    const std::string expected = std::string("Ab") + std::string("A\0b\0\r\0\n\0", 8) + std::string(1023, 'c');
    EXPECT_EQ(ReadFile(io->FileName()), expected);
}

TEST(TraceFile, WritesFailWhenTheFileCannotBeMade)
{
    CTempDir dir;
    const std::wstring name = UniqueName(L"t");
    auto io = FileChannel(name, dir.Path().wstring());
    // A directory in the file's place: the name exists, so numbered names are
    // tried, and a directory holds each of them too.
    std::filesystem::create_directory(std::filesystem::path(io->FileName()));
    const std::wstring base = io->FileName().substr(0, io->FileName().size() - 4);
    for (int i = 1; i <= 99; ++i) {
        wchar_t number[8];
        std::swprintf(number, 8, L"[%02d]", i);
        std::filesystem::create_directory(std::filesystem::path(base + number + L".log"));
    }
    EXPECT_EQ(io->Write(L"x"), -1);
    EXPECT_EQ(io->FileName(), base + L"[99].log");  // the last number is used even when taken
    io->Flush();  // nothing open: nothing to do
}

TEST(TraceFile, Locations)
{
    CTempDir dir;
    SRemoveLater cleanup;
    const std::wstring name = UniqueName(L"loc");

    // An existing file stands for its directory.
    const std::wstring existing = dir.File(L"existing.txt");
    WriteFile(existing, "x");
    ExpectTraceName(FileChannel(name, existing)->FileName(), dir.Path().wstring() + SEP, name);
    // An existing directory, with or without its trailing separator.
    ExpectTraceName(FileChannel(name, dir.Path().wstring() + SEP)->FileName(), dir.Path().wstring() + SEP, name);

    // A missing absolute directory is not made: the program's directory is used.
    const std::wstring missing = dir.File(L"missing") + SEP + L"deeper";
    ExpectTraceName(FileChannel(name, missing)->FileName(), ProgramDir(), name);
    EXPECT_FALSE(Exists(missing));
    // Empty and "current" mean the program's directory, whatever the working directory.
    ExpectTraceName(FileChannel(name, L"")->FileName(), ProgramDir(), name);
    ExpectTraceName(FileChannel(name, L"current")->FileName(), ProgramDir(), name);
    ExpectTraceName(FileChannel(name, L"Current")->FileName(), ProgramDir(), name);  // compared exactly: not found

    // ".\\folder", as configuration files are written, is made under the
    // program's directory in every build.
    const std::wstring folder = UniqueName(L"traces");
    const std::wstring made = ProgramDir() + folder;
    cleanup.paths.push_back(made);
    auto relative = FileChannel(name, L".\\sub\\..\\" + folder);
    ExpectTraceName(relative->FileName(), made + SEP, name);
    EXPECT_TRUE(platform::IsDirectory(made.c_str()));
    EXPECT_EQ(relative->Write(L"r"), 1);
    cleanup.paths.push_back(relative->FileName());
    relative.Reset();
}

TEST(TraceFile, DesktopLocation)
{
    SRemoveLater cleanup;
    const std::wstring name = UniqueName(L"desk");
    if (platform::PATH_SEPARATOR == L'\\') {
        const std::wstring desktop = platform::DesktopFolder();
        ASSERT_FALSE(desktop.empty());
        auto io = FileChannel(name, L"desktop");
        ExpectTraceName(io->FileName(), desktop + SEP, name);
        EXPECT_EQ(io->Write(L"d"), 1);
        cleanup.paths.push_back(io->FileName());
        return;
    }
    // Linux: $HOME/Desktop, made when missing.
    CTempDir home;
    std::wstring savedHome;
    const bool hadHome = platform::GetEnvironment(L"HOME", savedHome);
    platform::SetEnvironment(L"HOME", home.Path().wstring().c_str());
    auto io = FileChannel(name, L"desktop");
    platform::SetEnvironment(L"HOME", hadHome ? savedHome.c_str() : nullptr);
    ExpectTraceName(io->FileName(), home.File(L"Desktop") + SEP, name);
    EXPECT_TRUE(platform::IsDirectory(home.File(L"Desktop").c_str()));
}

TEST(TraceFile, NameTooLongForTheBufferFallsBackToTheProgramDirectory)
{
    CTempDir dir;
    const std::wstring longDir = dir.File(std::wstring(180, L'd'));
    ASSERT_TRUE(platform::CreateDirectories(longDir.c_str()));
    const std::wstring name = UniqueName(L"long") + std::wstring(40, L'n');
    auto io = FileChannel(name, longDir);
    ExpectTraceName(io->FileName(), ProgramDir(), name);
    EXPECT_LE(io->FileName().size(), File::FILE_NAME_CHARS);
}

TEST(TraceFile, FlowsThroughTheLogSystemWithFileFactory)
{
    CTempDir dir;
    auto factory = Common::CRef<IOutputLogSystemFactory>::Attach(
        Common::New<File::COutputLogSystemFactory>(true, dir.Path().wstring()));
    auto info = MakeInfo(factory.Get());
    COutputLogSystem system(UniqueName(L"flow").c_str(), info.Get(), L"", 0, false);
    system.Print(L"value %d", 12);
    const std::vector<std::filesystem::path> files {std::filesystem::directory_iterator(dir.Path()), {}};
    ASSERT_EQ(files.size(), 1u);
    const std::vector<std::string> lines = SplitLines(ReadFile(files[0].wstring()));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(std::regex_match(lines[0], std::regex(R"(\[[0-9A-F]{8}\]\[\d{4}/\d{2}/\d{2}\(\d{2}:\d{2}:\d{2}\.\d{3}\)\]value 12)")))
        << lines[0];
}

TEST(DebugOutputChannel, EachWriteIsOneOutputCall)
{
    g_pieces.clear();
    const auto previous = platform::SetDebugOutputSink(&Collect);
    auto io = Common::CRef<ILogIO>::Attach(Common::New<Ods::COutputDebugStringIO>());
    EXPECT_EQ(io->Lock(), 0);
    EXPECT_EQ(io->Write(L""), 0);
    EXPECT_EQ(io->WriteLine(L"line"), 0);
    EXPECT_EQ(io->Unlock(), 0);

    auto factory = Common::CRef<IOutputLogSystemFactory>::Attach(Common::New<Ods::COutputLogSystemFactory>());
    auto info = MakeInfo(factory.Get());
    COutputLogSystem system(UniqueName(L"ods").c_str(), info.Get(), L"", 0, false);
    system.Write(L"traced");
    platform::SetDebugOutputSink(previous);

    ASSERT_EQ(g_pieces.size(), 6u);
    EXPECT_EQ(g_pieces[0], L"");
    EXPECT_EQ(g_pieces[1], L"line");
    EXPECT_EQ(g_pieces[2], L"\n");
    EXPECT_EQ(g_pieces[3].size(), 36u);  // the header
    EXPECT_EQ(g_pieces[4], L"traced");
    EXPECT_EQ(g_pieces[5], L"\r\n");
}

TEST(NullChannel, TakesEverythingAndWritesNothing)
{
    auto factory = Common::CRef<IOutputLogSystemFactory>::Attach(Common::New<Null::COutputLogSystemFactory>());
    auto io = Common::CRef<ILogIO>::Attach(factory->CreateIO(L"ignored"));
    ASSERT_TRUE(io);
    EXPECT_EQ(io->Lock(), 0);
    EXPECT_EQ(io->Write(L"x"), 0);
    EXPECT_EQ(io->WriteLine(L"x"), 0);
    EXPECT_EQ(io->Unlock(), 0);
    auto log = Common::CRef<ILog>::Attach(factory->CreateLog(5, io.Get()));
    EXPECT_EQ(log->GetKey(), 5);
    auto errorLog = Common::CRef<ILog>::Attach(factory->CreateErrorLog(io.Get()));
    EXPECT_EQ(errorLog->GetKey(), 0);
}
