// The stand-in loaded the way the component loads the parser library: through
// the platform layer's loader, by a wide path, entry points looked up by name.
#include "VskMpegParser.h"
#include "platform/dynlib.h"
#include "vsktest/StandIn.h"
#include "vsktest/TempDir.h"
#include "vsktest/WideText.h"

#include <gtest/gtest.h>

namespace {

using namespace vsktest;
namespace fs = std::filesystem;

TEST(StandInThroughPlatformLoader, LoadsFromANonAsciiDirectoryAndReportsItsPath)
{
    CTempDir dir;
    const fs::path folder = dir / PathFromWide(L"plug-ins \u00e9\u6771");
    fs::create_directory(folder);
    const fs::path copy = CopyStandInTo(folder);

    platform::CDynamicLibrary library;
    ASSERT_TRUE(library.Load(WideFromPath(copy).c_str()));
    auto create = reinterpret_cast<PfnCreateVskMpegParser>(library.Symbol(VSK_PARSER_EXPORT_CREATE));
    auto seek = reinterpret_cast<PfnGetTimeSeekPosition>(library.Symbol(VSK_PARSER_EXPORT_TIME_SEEK));
    auto live = reinterpret_cast<PfnStandInLiveParsers>(library.Symbol(STANDIN_EXPORT_LIVE_PARSERS));
    ASSERT_NE(create, nullptr);
    ASSERT_NE(seek, nullptr);
    ASSERT_NE(live, nullptr);

    const std::wstring where = platform::ModulePathFromAddress(reinterpret_cast<const void*>(create));
    EXPECT_TRUE(fs::equivalent(PathFromWide(where), copy)) << ToUtf8(where);

    IVskMpegParser* parser = nullptr;
    ASSERT_EQ(create(&parser), 0);
    ASSERT_NE(parser, nullptr);
    EXPECT_EQ(live(), 1);
    parser->ReleaseParser();
    EXPECT_EQ(live(), 0);
}

TEST(StandInThroughPlatformLoader, BrokenVariantLoadsButLacksTheSeekEntry)
{
    CTempDir dir;
    platform::CDynamicLibrary library;
    ASSERT_TRUE(library.Load(WideFromPath(CopyStandInTo(dir.Path(), true)).c_str()));
    EXPECT_NE(library.Symbol(VSK_PARSER_EXPORT_CREATE), nullptr);
    EXPECT_EQ(library.Symbol(VSK_PARSER_EXPORT_TIME_SEEK), nullptr);

    platform::CDynamicLibrary missing;
    EXPECT_FALSE(missing.Load(WideFromPath(dir / "absent" / StandInFileName()).c_str()));
    EXPECT_EQ(missing.Symbol(VSK_PARSER_EXPORT_CREATE), nullptr);
}

}  // namespace
