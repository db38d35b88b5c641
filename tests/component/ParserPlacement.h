// Where a time-seek test program puts the real parser library. The component
// looks for it once per process, so each placement is a program of its own,
// and each program's main file says which one it is.
#pragma once

#include <filesystem>
#include <string>

namespace componenttest {

struct SParserPlacement {
    // The component library the program loads and registers.
    std::filesystem::path component;
    // The text of the host's parser-library setting ("SpecifiedExtensionPath").
    std::wstring settingsDirectory;
    // Converters made by class id, as a host may (they hold no directory
    // text), rather than by the info object.
    bool convertersByClassId = false;
};

SParserPlacement ParserPlacement();

}  // namespace componenttest
