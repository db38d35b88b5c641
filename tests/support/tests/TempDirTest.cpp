#include "vsktest/Environment.h"
#include "vsktest/TempDir.h"
#include "vsktest/WideText.h"

#include <gtest/gtest.h>

#include <fstream>

namespace {

using namespace vsktest;
namespace fs = std::filesystem;

TEST(TempDir, IsUniqueAndRemovedWithItsContents)
{
    fs::path kept;
    {
        CTempDir a;
        CTempDir b;
        EXPECT_NE(a.Path(), b.Path());
        EXPECT_TRUE(fs::is_directory(a.Path()));
        EXPECT_TRUE(fs::is_empty(a.Path()));
        fs::create_directories(a / "sub" / "deeper");
        a.WriteFile("sub/deeper/file.bin", std::string_view("x"));
        a.WriteFile("top.txt", std::string_view("hello"));
        kept = a.Path();
    }
    EXPECT_FALSE(fs::exists(kept));
}

TEST(TempDir, FilesRoundTripByteForByte)
{
    CTempDir dir;
    std::vector<std::uint8_t> all(256 * 3 + 7);
    for (std::size_t i = 0; i < all.size(); ++i)
        all[i] = static_cast<std::uint8_t>(i);
    const fs::path p = dir.WriteFile("all.bin", all);
    EXPECT_EQ(p, dir / "all.bin");
    EXPECT_EQ(ReadFileBytes(p), all);

    // Replacing shortens; an empty file reads back empty.
    WriteFileBytes(p, std::vector<std::uint8_t>{1, 2});
    EXPECT_EQ(ReadFileBytes(p), (std::vector<std::uint8_t>{1, 2}));
    WriteFileBytes(p, {});
    EXPECT_TRUE(ReadFileBytes(p).empty());

    // Bytes that text mode would translate stay as they are.
    const std::vector<std::uint8_t> crlf{'\r', '\n', 0x1A, '\n', 0};
    EXPECT_EQ(ReadFileBytes(dir.WriteFile("crlf.bin", crlf)), crlf);

    EXPECT_THROW(ReadFileBytes(dir / "missing.bin"), std::runtime_error);
    EXPECT_THROW(WriteFileBytes(dir / "no" / "such" / "dir.bin", crlf), std::runtime_error);
}

TEST(TempDir, NonAsciiNamesWork)
{
    CTempDir dir;
    const fs::path name = PathFromWide(L"caf\u00e9 \u00fc\u00df \U0001F600.bin");
    dir.WriteFile(name, std::string_view("abc"));
    EXPECT_TRUE(fs::exists(dir / name));
    EXPECT_EQ(ReadFileBytes(dir / name).size(), 3u);
}

TEST(TestExecutableDirectory, HoldsTheRunningProgram)
{
    const fs::path d = TestExecutableDirectory();
    ASSERT_TRUE(fs::is_directory(d));
    bool found = false;
    for (const auto& entry : fs::directory_iterator(d))
        found |= entry.path().stem() == "vsk_support_tests";
    EXPECT_TRUE(found) << d;
}

TEST(ScopedEnvironment, SetsAndRestoresIncludingAbsence)
{
    const std::string name = "VSK_SUPPORT_TEST_VARIABLE";
    SetEnvironmentValue(name, std::nullopt);
    {
        CScopedEnvironment outer(name, "first");
        EXPECT_EQ(GetEnvironmentValue(name), fs::path("first").native());
        {
            CScopedEnvironment inner(name, PathFromWide(L"second \u00e9"));
            EXPECT_EQ(GetEnvironmentValue(name), PathFromWide(L"second \u00e9").native());
            CScopedEnvironment removed(name);
            EXPECT_FALSE(GetEnvironmentValue(name).has_value());
        }
        EXPECT_EQ(GetEnvironmentValue(name), fs::path("first").native());
    }
    EXPECT_FALSE(GetEnvironmentValue(name).has_value());
}

}  // namespace
