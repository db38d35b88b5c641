#include <gtest/gtest.h>

#include "os_test_support.h"
#include "platform/paths.h"
#include "platform/process.h"

using namespace vsk_os_test;

namespace {
const bool WINDOWS = platform::PATH_SEPARATOR == L'\\';

std::wstring WithSeparators(std::wstring path)
{
    for (wchar_t& c : path) {
        if (c == L'|') {
            c = platform::PATH_SEPARATOR;
        }
    }
    return path;
}
}  // namespace

TEST(Paths, SplitPathLikeTheRuntime)
{
    struct SCase {
        const wchar_t* path;  // '|' stands for the platform separator
        const wchar_t* drive;
        const wchar_t* directory;
        const wchar_t* name;
        const wchar_t* extension;
        bool windowsOnly;
    };
    const SCase cases[] = {
        {L"|dir|sub|vesk.log", L"", L"|dir|sub|", L"vesk", L".log", false},
        {L"vesk.debug-2024.log", L"", L"", L"vesk.debug-2024", L".log", false},
        {L"|dir.d|name", L"", L"|dir.d|", L"name", L"", false},
        {L"|dir|", L"", L"|dir|", L"", L"", false},
        {L"|dir|.hidden", L"", L"|dir|", L"", L".hidden", false},
        {L"", L"", L"", L"", L"", false},
        {L"C:\\Logs\\vesk.log", L"C:", L"\\Logs\\", L"vesk", L".log", true},
        {L"C:vesk.log", L"C:", L"", L"vesk", L".log", true},
        {L"C:/a/b.c", L"C:", L"/a/", L"b", L".c", true},
    };
    for (const SCase& c : cases) {
        if (c.windowsOnly && !WINDOWS) {
            continue;
        }
        const std::wstring path = c.windowsOnly ? std::wstring(c.path) : WithSeparators(c.path);
        const platform::SPathParts parts = platform::SplitPath(path.c_str());
        EXPECT_EQ(parts.drive, c.drive) << path;
        EXPECT_EQ(parts.directory, c.windowsOnly ? std::wstring(c.directory) : WithSeparators(c.directory)) << path;
        EXPECT_EQ(parts.name, c.name) << path;
        EXPECT_EQ(parts.extension, c.extension) << path;
    }
}

TEST(Paths, AppendResolvesDotParts)
{
    struct SCase {
        const wchar_t* base;
        const wchar_t* more;
        const wchar_t* expected;
    };
    const SCase cases[] = {
        {L"|app|bin", L".|logs", L"|app|bin|logs"},
        {L"|app|bin|", L".|logs", L"|app|bin|logs"},
        {L"|app|bin", L"..|logs|.|x", L"|app|logs|x"},
        {L"|app", L"..|..|..|x", L"|x"},
        {L"|app|bin", L"", L"|app|bin"},
        {L"|app|bin", L"|abs|dir", L"|abs|dir"},
    };
    for (const SCase& c : cases) {
        EXPECT_EQ(platform::AppendPath(WithSeparators(c.base), WithSeparators(c.more)), WithSeparators(c.expected))
            << WithSeparators(c.base) << L" + " << WithSeparators(c.more);
    }
    if (WINDOWS) {
        EXPECT_EQ(platform::AppendPath(L"C:\\app\\bin", L".\\..\\logs"), L"C:\\app\\logs");
        EXPECT_EQ(platform::AppendPath(L"C:\\", L"..\\x"), L"C:\\x");
    }
}

TEST(Paths, CreateMoveDeleteAndReadOnly)
{
    CTempDir dir;
    const std::wstring nested = dir.File(L"a") + platform::PATH_SEPARATOR + L"b" + platform::PATH_SEPARATOR + L"c";
    EXPECT_FALSE(platform::PathExists(nested.c_str()));
    EXPECT_TRUE(platform::CreateDirectories((nested + platform::PATH_SEPARATOR).c_str()));
    EXPECT_TRUE(platform::IsDirectory(nested.c_str()));
    EXPECT_TRUE(platform::CreateDirectories(nested.c_str()));  // already there

    const std::wstring from = dir.File(L"from.txt");
    const std::wstring to = dir.File(L"to.txt");
    WriteFile(from, "new");
    WriteFile(to, "old");
    EXPECT_TRUE(platform::PathExists(from.c_str()));
    EXPECT_FALSE(platform::IsDirectory(from.c_str()));
    ASSERT_TRUE(platform::SetReadOnly(to.c_str()));
    ASSERT_TRUE(platform::ClearReadOnly(to.c_str()));
    EXPECT_TRUE(platform::MovePath(from.c_str(), to.c_str()));
    EXPECT_FALSE(platform::PathExists(from.c_str()));
    EXPECT_EQ(ReadFile(to), "new");
    EXPECT_TRUE(platform::DeletePath(to.c_str()));
    EXPECT_FALSE(platform::DeletePath(to.c_str()));
    EXPECT_FALSE(platform::PathExists(to.c_str()));
    EXPECT_FALSE(platform::MovePath(from.c_str(), to.c_str()));
    EXPECT_FALSE(platform::CreateDirectories(L""));
}

TEST(Paths, ExecutableAndDesktop)
{
    const std::wstring exe = platform::ExecutablePath();
    ASSERT_FALSE(exe.empty());
    EXPECT_TRUE(platform::PathExists(exe.c_str()));
    EXPECT_NE(platform::SplitPath(exe.c_str()).name.find(L"vsk_platform_os_tests"), std::wstring::npos);

    if (WINDOWS) {
        const std::wstring desktop = platform::DesktopFolder();
        ASSERT_FALSE(desktop.empty());
        EXPECT_TRUE(platform::IsDirectory(desktop.c_str()));
        return;
    }
    // Linux: $HOME/Desktop, made when missing.
    CTempDir home;
    std::wstring savedHome;
    const bool hadHome = platform::GetEnvironment(L"HOME", savedHome);
    ASSERT_TRUE(platform::SetEnvironment(L"HOME", home.Path().wstring().c_str()));
    const std::wstring desktop = platform::DesktopFolder();
    platform::SetEnvironment(L"HOME", hadHome ? savedHome.c_str() : nullptr);
    EXPECT_EQ(desktop, home.File(L"Desktop"));
    EXPECT_TRUE(platform::IsDirectory(desktop.c_str()));
}

TEST(Paths, UserCacheFolder)
{
    if (WINDOWS) {
        // The local application data folder the system names, never the
        // roaming one.
        const std::wstring folder = platform::UserCacheFolder();
        ASSERT_FALSE(folder.empty());
        EXPECT_TRUE(platform::IsDirectory(folder.c_str()));
        EXPECT_NE(folder.find(L"Local"), std::wstring::npos) << std::string(folder.begin(), folder.end());
        return;
    }
    struct SRow {
        const wchar_t* xdg;  // nullptr: unset
        const wchar_t* expected;  // below the temporary home; nullptr: the XDG value itself
    };
    CTempDir home;
    CTempDir xdg;
    const std::wstring xdgPath = xdg.File(L"made/here");
    const SRow rows[] = {
        {nullptr, L".cache"},
        {L"", L".cache"},
        {L"relative/cache", L".cache"},  // not absolute: ignored, as the XDG rules say
        {xdgPath.c_str(), nullptr},
    };
    std::wstring savedHome;
    std::wstring savedXdg;
    const bool hadHome = platform::GetEnvironment(L"HOME", savedHome);
    const bool hadXdg = platform::GetEnvironment(L"XDG_CACHE_HOME", savedXdg);
    ASSERT_TRUE(platform::SetEnvironment(L"HOME", home.Path().wstring().c_str()));
    for (const SRow& row : rows) {
        platform::SetEnvironment(L"XDG_CACHE_HOME", row.xdg);
        const std::wstring folder = platform::UserCacheFolder();
        const std::wstring expected = row.expected != nullptr ? home.File(row.expected) : xdgPath;
        EXPECT_EQ(folder, expected);
        EXPECT_TRUE(platform::IsDirectory(folder.c_str()));
    }
    platform::SetEnvironment(L"HOME", hadHome ? savedHome.c_str() : nullptr);
    platform::SetEnvironment(L"XDG_CACHE_HOME", hadXdg ? savedXdg.c_str() : nullptr);
}
