// Binding of the MPEG parser library (VskMpegParser), which the component
// never links: the first probe loads it explicitly and looks both entry points
// up by name. The same mechanism serves both builds, where lazy binding of
// imports would exist in one only.
//
// Where the library is looked for, at the first probe only: the directory the
// host configured (the probe's argument), else the component's own directory,
// else the system's search by bare file name. The probe's answer is computed
// once per process, under g_parserProbeLock, and then repeated; a library
// that loaded stays loaded for the life of the process.
#pragma once

#include "platform/com.h"

#include "VskMpegParser.h"

#include <cstdint>
#include <string>

namespace frame {

// True when the library could be loaded, has both entry points, and made a
// parser object (which is released again at once). Only the first call's
// directory text counts; later calls return the remembered answer.
bool IsParserLibraryAvailable(const std::wstring& directory);

// Loads the library (if not loaded yet) and asks it for a parser object: the
// new object, or null when the library is missing, lacks an entry point, or
// createVskMpegParser fails or gives no object.
IVskMpegParser* TryCreateParser(const std::wstring& directory);

// Forwards to the library's GetTimeSeekPosition; E_FAIL when the library is
// not loaded.
HRESULT CallGetTimeSeekPosition(const wchar_t* path, std::uint32_t durationMs, std::uint32_t timeMs, bool flag,
                                std::uint32_t* foundTimeMs, std::int64_t* bytePosition);

// The library's file name in this build ("VskMpegParser.dll" / ".so").
std::wstring ParserLibraryFileName();

}  // namespace frame
