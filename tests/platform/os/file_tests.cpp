#include <gtest/gtest.h>

#include <fstream>

#include "os_test_support.h"
#include "platform/file.h"

using namespace vsk_os_test;
using platform::CFile;
using platform::EFileMode;

TEST(File, ReadsShortAtTheEndAndFailsOnAMissingFile)
{
    CTempDir dir;
    const std::wstring path = dir.File(L"ten.bin");
    WriteFile(path, "0123456789");
    CFile file;
    EXPECT_FALSE(file.Open(dir.File(L"missing.bin").c_str(), EFileMode::READ_SHARED));
    EXPECT_FALSE(file.IsOpen());
    ASSERT_TRUE(file.Open(path.c_str(), EFileMode::READ_SHARED));
    char buffer[100] = {};
    EXPECT_EQ(file.Read(buffer, 4), 4);
    EXPECT_EQ(std::string(buffer, 4), "0123");
    EXPECT_EQ(file.Read(buffer, sizeof buffer), 6);
    EXPECT_EQ(std::string(buffer, 6), "456789");
    EXPECT_EQ(file.Read(buffer, sizeof buffer), 0);
    EXPECT_EQ(file.Size(), 10);
    EXPECT_EQ(file.Write("x", 1), -1);  // opened for reading only
    file.Close();
    EXPECT_EQ(file.Read(buffer, 1), -1);
    EXPECT_EQ(file.Size(), -1);
}

TEST(File, SeeksBeyondTheEndAndRefusesNegativePositions)
{
    CTempDir dir;
    CFile file;
    ASSERT_TRUE(file.Open(dir.File(L"seek.bin").c_str(), EFileMode::READ_WRITE_EXCLUSIVE));
    EXPECT_EQ(file.Write("abcdef", 6), 6);
    EXPECT_FALSE(file.Seek(-1));
    EXPECT_EQ(file.Position(), 6);
    EXPECT_TRUE(file.Seek(100));
    EXPECT_EQ(file.Position(), 100);
    char c = 0;
    EXPECT_EQ(file.Read(&c, 1), 0);
    EXPECT_EQ(file.Size(), 6);  // moving alone does not grow the file
    EXPECT_TRUE(file.Seek(2));
    EXPECT_TRUE(file.Truncate());
    EXPECT_EQ(file.Size(), 2);
    EXPECT_TRUE(file.SeekToEnd());
    EXPECT_EQ(file.Position(), 2);
    EXPECT_TRUE(file.Flush());
}

TEST(File, SizesAndPositionsAbove4GiB)
{
    CTempDir dir;
    const std::wstring path = dir.File(L"sparse.bin");
    const std::int64_t far = (std::int64_t {5} << 30) + 3;  // crosses every 32-bit boundary
    {
        CFile file;
        ASSERT_TRUE(file.Open(path.c_str(), EFileMode::WRITE_SHARE_READ));
        ASSERT_TRUE(file.Seek(far));
        ASSERT_EQ(file.Write("TAIL", 4), 4);
        EXPECT_EQ(file.Position(), far + 4);
        EXPECT_EQ(file.Size(), far + 4);
    }
    CFile file;
    ASSERT_TRUE(file.Open(path.c_str(), EFileMode::READ_SHARED));
    EXPECT_EQ(file.Size(), far + 4);
    ASSERT_TRUE(file.Seek(far - 2));
    char buffer[16] = {};
    ASSERT_EQ(file.Read(buffer, sizeof buffer), 6);
    EXPECT_EQ(std::string(buffer, 6), std::string("\0\0TAIL", 6));
    EXPECT_EQ(file.Position(), far + 4);
}

TEST(File, OpeningForWritingCreatesAndKeepsContent)
{
    CTempDir dir;
    const std::wstring path = dir.File(L"append.txt");
    for (EFileMode mode : {EFileMode::WRITE_SHARE_READ, EFileMode::READ_WRITE_EXCLUSIVE}) {
        CFile file;
        ASSERT_TRUE(file.Open(path.c_str(), mode));
        ASSERT_TRUE(file.SeekToEnd());
        EXPECT_EQ(file.Write("ab", 2), 2);
    }
    EXPECT_EQ(ReadFile(path), "abab");
    CFile directory;
    EXPECT_FALSE(directory.Open(dir.Path().wstring().c_str(), EFileMode::READ_WRITE_EXCLUSIVE));
}

TEST(File, MoveKeepsOneHandle)
{
    CTempDir dir;
    const std::wstring path = dir.File(L"move.txt");
    CFile a;
    ASSERT_TRUE(a.Open(path.c_str(), EFileMode::READ_WRITE_EXCLUSIVE));
    CFile b(std::move(a));
    EXPECT_FALSE(a.IsOpen());
    EXPECT_TRUE(b.IsOpen());
    EXPECT_EQ(b.Write("z", 1), 1);
    CFile c;
    c = std::move(b);
    EXPECT_EQ(c.Size(), 1);
    c.Close();
    // The exclusive open is free again once the only handle closed.
    EXPECT_TRUE(b.Open(path.c_str(), EFileMode::READ_WRITE_EXCLUSIVE));
}

// Which second open succeeds while a first one is held. Windows answers
// from share modes; the POSIX layer reproduces the same answers among the
// project's own opens.
TEST(File, SharingBetweenTheProjectsOwnOpens)
{
    struct SCase {
        EFileMode first;
        EFileMode second;
        bool secondOpens;
    };
    const SCase cases[] = {
        {EFileMode::READ_SHARED, EFileMode::READ_SHARED, true},
        {EFileMode::READ_SHARED, EFileMode::WRITE_SHARE_READ, false},
        {EFileMode::READ_SHARED, EFileMode::READ_WRITE_EXCLUSIVE, false},
        {EFileMode::WRITE_SHARE_READ, EFileMode::READ_SHARED, false},
        {EFileMode::WRITE_SHARE_READ, EFileMode::WRITE_SHARE_READ, false},
        {EFileMode::WRITE_SHARE_READ, EFileMode::READ_WRITE_EXCLUSIVE, false},
        {EFileMode::READ_WRITE_EXCLUSIVE, EFileMode::READ_SHARED, false},
        {EFileMode::READ_WRITE_EXCLUSIVE, EFileMode::WRITE_SHARE_READ, false},
        {EFileMode::READ_WRITE_EXCLUSIVE, EFileMode::READ_WRITE_EXCLUSIVE, false},
    };
    CTempDir dir;
    const std::wstring path = dir.File(L"shared.bin");
    WriteFile(path, "data");
    int index = 0;
    for (const SCase& c : cases) {
        CFile first;
        CFile second;
        ASSERT_TRUE(first.Open(path.c_str(), c.first)) << index;
        EXPECT_EQ(second.Open(path.c_str(), c.second), c.secondOpens) << index;
        ++index;
    }
}

// Windows only: share modes also hold off programs that do not cooperate.
TEST(File, ExclusiveOpenFailsWhileAnotherProgramHoldsTheFile)
{
    if (!platform::OS_HAS_SHARE_MODES) {
        GTEST_SKIP() << "POSIX has no share modes; only the project's own opens are excluded";
    }
    CTempDir dir;
    const std::wstring path = dir.File(L"held.txt");
    WriteFile(path, "x");
    std::ifstream foreign(std::filesystem::path(path), std::ios::binary);
    ASSERT_TRUE(foreign.is_open());
    CFile file;
    EXPECT_FALSE(file.Open(path.c_str(), EFileMode::READ_WRITE_EXCLUSIVE));
    foreign.close();
    EXPECT_TRUE(file.Open(path.c_str(), EFileMode::READ_WRITE_EXCLUSIVE));
}
