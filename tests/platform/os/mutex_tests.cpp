#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "os_test_support.h"
#include "platform/process.h"
#include "platform/sync.h"

using namespace vsk_os_test;
using platform::CNamedMutex;
using platform::EWaitResult;

namespace {

int RunChild(const std::vector<std::wstring>& arguments)
{
    platform::CChildProcess child;
    if (!child.Start(ChildProgram(), arguments)) {
        return -100;
    }
    return child.Wait();
}

}  // namespace

TEST(CriticalSection, IsRecursiveAndExcludesOtherThreads)
{
    platform::CCriticalSection section;
    section.Enter();
    section.Enter();
    std::atomic<bool> otherGotIn {false};
    std::thread other([&] {
        platform::CCriticalSectionGuard guard(section);
        otherGotIn = true;
    });
    section.Leave();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(otherGotIn);  // still held once
    section.Leave();
    other.join();
    EXPECT_TRUE(otherGotIn);
}

TEST(NamedMutex, AlreadyExistedAnswerFollowsOpenHandles)
{
    const std::wstring name = UniqueName(L"vsk-test-exists");
    CNamedMutex first;
    bool existed = true;
    ASSERT_TRUE(first.Create(name.c_str(), &existed));
    EXPECT_FALSE(existed);
    {
        CNamedMutex second;  // another handle in the same process counts
        ASSERT_TRUE(second.Create(name.c_str(), &existed));
        EXPECT_TRUE(existed);
    }
    EXPECT_EQ(RunChild({L"exists", name}), 10);
    first.Close();
    // Last handle gone: the name is gone with it.
    EXPECT_EQ(RunChild({L"exists", name}), 11);
    ASSERT_TRUE(first.Create(name.c_str(), &existed));
    EXPECT_FALSE(existed);
}

TEST(NamedMutex, NameHeldByAnotherProcessExistsUntilItEnds)
{
    CTempDir dir;
    const std::wstring name = UniqueName(L"vsk-test-keep");
    platform::CChildProcess child;
    ASSERT_TRUE(child.Start(ChildProgram(), {L"keep", name, dir.File(L"ready"), dir.File(L"go")}));
    ASSERT_TRUE(WaitForFile(dir.File(L"ready")));
    {
        CNamedMutex mutex;
        bool existed = false;
        ASSERT_TRUE(mutex.Create(name.c_str(), &existed));
        EXPECT_TRUE(existed);
    }
    WriteFile(dir.File(L"go"), "go");
    EXPECT_EQ(child.Wait(), 0);
    CNamedMutex mutex;
    bool existed = true;
    ASSERT_TRUE(mutex.Create(name.c_str(), &existed));
    EXPECT_FALSE(existed);
}

TEST(NamedMutex, NameOfADeadCreatorIsGone)
{
    const std::wstring name = UniqueName(L"vsk-test-dead");
    EXPECT_EQ(RunChild({L"create-exit", name}), 12);
    CNamedMutex mutex;
    bool existed = true;
    ASSERT_TRUE(mutex.Create(name.c_str(), &existed));
    EXPECT_FALSE(existed);
    EXPECT_EQ(mutex.Wait(), EWaitResult::ACQUIRED);  // a new mutex is not abandoned
    EXPECT_TRUE(mutex.Release());
}

TEST(NamedMutex, OwnerThatDiesLeavesItAbandonedNotBlocked)
{
    CTempDir dir;
    const std::wstring name = UniqueName(L"vsk-test-die");
    CNamedMutex mutex;
    ASSERT_TRUE(mutex.Create(name.c_str()));  // keeps the name alive across the child's death
    EXPECT_EQ(RunChild({L"die", name, dir.File(L"ready")}), 13);
    ASSERT_TRUE(WaitForFile(dir.File(L"ready")));
    EXPECT_EQ(mutex.Wait(), EWaitResult::ABANDONED);
    EXPECT_TRUE(mutex.Release());
    EXPECT_EQ(mutex.Wait(), EWaitResult::ACQUIRED);
    EXPECT_TRUE(mutex.Release());
}

TEST(NamedMutex, OwnerInAnotherProcessBlocksUntilRelease)
{
    CTempDir dir;
    const std::wstring name = UniqueName(L"vsk-test-hold");
    platform::CChildProcess child;
    ASSERT_TRUE(child.Start(ChildProgram(), {L"hold", name, dir.File(L"ready"), dir.File(L"go")}));
    ASSERT_TRUE(WaitForFile(dir.File(L"ready")));
    CNamedMutex mutex;
    ASSERT_TRUE(mutex.Create(name.c_str()));
    std::atomic<bool> acquired {false};
    std::thread waiter([&] {
        EXPECT_EQ(mutex.Wait(), EWaitResult::ACQUIRED);
        acquired = true;
        EXPECT_TRUE(mutex.Release());
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_FALSE(acquired);
    WriteFile(dir.File(L"go"), "go");
    waiter.join();
    EXPECT_TRUE(acquired);
    EXPECT_EQ(child.Wait(), 0);
}

TEST(NamedMutex, TwoProcessesAndAThreadCountWithoutLosingUpdates)
{
    CTempDir dir;
    const std::wstring name = UniqueName(L"vsk-test-count");
    const std::wstring counter = dir.File(L"counter");
    WriteFile(counter, "0");
    platform::CChildProcess a;
    platform::CChildProcess b;
    ASSERT_TRUE(a.Start(ChildProgram(), {L"count", name, counter, L"150"}));
    ASSERT_TRUE(b.Start(ChildProgram(), {L"count", name, counter, L"150"}));
    CNamedMutex mutex;
    ASSERT_TRUE(mutex.Create(name.c_str()));
    for (int i = 0; i < 100; ++i) {
        ASSERT_NE(mutex.Wait(), EWaitResult::FAILED);
        const long value = std::stol(ReadFile(counter).empty() ? std::string("0") : ReadFile(counter));
        WriteFile(counter, std::to_string(value + 1));
        ASSERT_TRUE(mutex.Release());
    }
    EXPECT_EQ(a.Wait(), 0);
    EXPECT_EQ(b.Wait(), 0);
    EXPECT_EQ(ReadFile(counter), "400");
}

TEST(NamedMutex, OwnershipIsPerThreadAndRecursive)
{
    const std::wstring name = UniqueName(L"vsk-test-thread");
    CNamedMutex first;
    CNamedMutex second;
    ASSERT_TRUE(first.Create(name.c_str()));
    ASSERT_TRUE(second.Create(name.c_str()));
    ASSERT_EQ(first.Wait(), EWaitResult::ACQUIRED);
    // The owning thread gets through on any handle of the same mutex.
    ASSERT_EQ(second.Wait(), EWaitResult::ACQUIRED);

    std::atomic<bool> acquired {false};
    std::thread other([&] {
        EXPECT_FALSE(second.Release());  // not the owner
        EXPECT_EQ(second.Wait(), EWaitResult::ACQUIRED);
        acquired = true;
        EXPECT_TRUE(second.Release());
    });
    EXPECT_TRUE(first.Release());
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(acquired);  // one level of recursion left
    EXPECT_TRUE(first.Release());
    other.join();
    EXPECT_TRUE(acquired);
    EXPECT_FALSE(first.Release());  // nothing owned any more
}

TEST(NamedMutex, UnusualNamesWork)
{
    for (const std::wstring& stem : {std::wstring(L"DEDAZODU_ERRORLOG_0000_C__x_vesk_log"),
                                     std::wstring(L"COutputErrorLogIO::vesk"), std::wstring(240, L'x'),
                                     std::wstring(L"dots.colons: and blanks")}) {
        const std::wstring name = stem + UniqueName(L"");
        CNamedMutex a;
        CNamedMutex b;
        bool existed = true;
        ASSERT_TRUE(a.Create(name.c_str(), &existed)) << name.size();
        EXPECT_FALSE(existed);
        ASSERT_TRUE(b.Create(name.c_str(), &existed));
        EXPECT_TRUE(existed);
        EXPECT_EQ(a.Wait(), EWaitResult::ACQUIRED);
        EXPECT_TRUE(a.Release());
    }
}
