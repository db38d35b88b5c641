#include <gtest/gtest.h>

#include "os_test_support.h"
#include "platform/dynlib.h"
#include "platform/paths.h"

using namespace vsk_os_test;

namespace {

using PFN_ANSWER = int (*)();
using PFN_INNER = const void* (*)();

bool SameFile(const std::wstring& a, const std::wstring& b)
{
    std::error_code ignored;
    return std::filesystem::equivalent(std::filesystem::path(a), std::filesystem::path(b), ignored);
}

}  // namespace

TEST(DynamicLibrary, LoadsLooksUpAndNamesTheContainingLibrary)
{
    platform::CDynamicLibrary library;
    ASSERT_TRUE(library.Load(TestLibrary().c_str()));
    auto answer = reinterpret_cast<PFN_ANSWER>(library.Symbol("VskTestLibAnswer"));
    ASSERT_NE(answer, nullptr);
    EXPECT_EQ(answer(), 42);
    EXPECT_EQ(library.Symbol("NoSuchSymbol"), nullptr);
    EXPECT_EQ(library.Symbol(nullptr), nullptr);

    auto inner = reinterpret_cast<PFN_INNER>(library.Symbol("VskTestLibInnerAddress"));
    ASSERT_NE(inner, nullptr);
    EXPECT_TRUE(SameFile(platform::ModulePathFromAddress(inner()), TestLibrary()));
    // An address in the test program itself names the executable.
    static const int local = 0;
    EXPECT_TRUE(SameFile(platform::ModulePathFromAddress(&local), platform::ExecutablePath()));
    EXPECT_TRUE(platform::ModulePathFromAddress(nullptr).empty());
}

TEST(DynamicLibrary, MissingLibraryFails)
{
    platform::CDynamicLibrary library;
    EXPECT_FALSE(library.Load((ProgramDirectory() / "no-such-library.bin").wstring().c_str()));
    EXPECT_FALSE(library.IsLoaded());
    EXPECT_FALSE(library.Load(L""));
    EXPECT_EQ(library.Symbol("VskTestLibAnswer"), nullptr);
}

TEST(DynamicLibrary, KeptLibraryOutlivesItsHolder)
{
    PFN_INNER inner = nullptr;
    {
        platform::CDynamicLibrary library;
        ASSERT_TRUE(library.Load(TestLibrary().c_str()));
        library.KeepLoaded();
        inner = reinterpret_cast<PFN_INNER>(library.Symbol("VskTestLibInnerAddress"));
        ASSERT_NE(inner, nullptr);
    }
    // Still mapped: calling into it is safe and it is still found by address.
    EXPECT_TRUE(SameFile(platform::ModulePathFromAddress(inner()), TestLibrary()));
}
