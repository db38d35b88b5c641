// This program runs with the stand-in parser library, loaded from the
// directory the build puts it in.
#include "ConverterTesting.h"

#include "vsktest/StandIn.h"
#include "vsktest/TempDir.h"

#include <system_error>

namespace {

std::filesystem::path StandInDirectory()
{
    // The program sits in <build>/bin/<name>; the stand-in in <build>/standin.
    const std::filesystem::path beside =
        vsktest::TestExecutableDirectory().parent_path().parent_path() / "standin";
    std::error_code ec;
    if (std::filesystem::exists(beside / vsktest::StandInFileName(), ec))
        return beside;
    return vsktest::StandInLibraryPath().parent_path();
}

const bool g_environment = (transcodertest::InstallConverterEnvironment(StandInDirectory(), true), true);

}  // namespace
