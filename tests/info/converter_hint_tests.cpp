// A converter created by the info object carries the parser-library directory
// the host configured there. The first probe of this process is the
// converter's own, made when it checks a time-seeking target, so only the
// directory it was handed can make the library available.
#include "InfoTestSupport.h"

#include "frame/ParserLibrary.h"
#include "vsktest/StandIn.h"
#include "vsktest/TsStreamBuilder.h"

#include <filesystem>

namespace infotest {

bool InfoParserPresent()
{
    return true;
}

namespace {

TEST(ConverterHint, ConverterProbesWithTheDirectoryFromTheSettings)
{
    // Without the hint the probe would look beside this program, where no
    // parser library may be for the test to mean anything.
    std::error_code ec;
    ASSERT_FALSE(std::filesystem::exists(vsktest::TestExecutableDirectory() / vsktest::StandInFileName(), ec));
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
    {
        const auto info = CreateInfo();
        ASSERT_EQ(LoadSettings(info, ParserPathSettings(StandInDirectory())), S_OK);
        CComPtr<MediaTranscoderLib::IVskMediaTranscoder> converter;
        ASSERT_EQ(info->CreateTranscoder(&converter), S_OK);

        vsktest::CTempDir dir;
        const auto item = MakeItem(SItemFacts(), WriteRecording(dir, "code18.m2ts", vsktest::TS_UNIT_SIZE_188));
        // Time seeking asked for: served only when the probe finds the library.
        const auto target = MakeTarget(Target(L"MPEG_TS_HD_KO_ISO", L"video/mpeg", true));
        EXPECT_EQ(converter->Open(ObjectSource(item->GetUnknown()), target), S_OK);
        EXPECT_EQ(converter->Close(), S_OK);
        EXPECT_TRUE(frame::IsParserLibraryAvailable(L""));
    }
    CoUninitialize();
}

}  // namespace
}  // namespace infotest
