// The component where the build made it, with no parser library beside it;
// the host's setting names the folder the build put the real library in, and
// the info object makes the converters, handing that folder on.
#include "ComponentLibrary.h"
#include "ParserPlacement.h"

#include "vsktest/TempDir.h"
#include "vsktest/WideText.h"

namespace componenttest {

SParserPlacement ParserPlacement()
{
    const std::filesystem::path built = VSK_PARSER_LIBRARY_FILE;
    const std::filesystem::path parser = vsktest::LocateBuildOutput("parser", built.filename(), built);
    return {vsktest::CComponentLibrary::Path(), vsktest::WideFromPath(parser.parent_path()), false};
}

}  // namespace componenttest
