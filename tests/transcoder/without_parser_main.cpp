// This program runs with the parser library out of reach: the directory it
// names does not exist, and none lies beside the program.
#include "ConverterTesting.h"

#include "vsktest/TempDir.h"

namespace {

const bool g_environment = (transcodertest::InstallConverterEnvironment(
                                vsktest::TestExecutableDirectory() / "no-parser-library-here", false),
                            true);

}  // namespace
