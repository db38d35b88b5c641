// The real parser library lies beside the component (the build copies both
// into one folder), and the host's setting names a folder without it: the
// component finds the library in its own folder. Converters are made by class
// id, so they carry no directory of their own.
#include "ComponentLibrary.h"
#include "ParserPlacement.h"

#include "vsktest/TempDir.h"
#include "vsktest/WideText.h"

namespace componenttest {

SParserPlacement ParserPlacement()
{
    static const vsktest::CTempDir empty;
    const std::filesystem::path built = VSK_COMPONENT_WITH_PARSER_FILE;
    return {vsktest::LocateBuildOutput(built.parent_path().filename().string().c_str(), built.filename(), built),
            vsktest::WideFromPath(empty.Path()), true};
}

}  // namespace componenttest
