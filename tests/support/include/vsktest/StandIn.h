// The stand-in parser library: a test-only build of VskMpegParser whose
// answers a test chooses through environment variables read at every call.
//
//   VSK_STANDIN_CREATE_RESULT  status createVskMpegParser returns (decimal or
//                              0x hex; default 0). Non-zero: no object is made
//                              and the out-pointer is left as it was.
//   VSK_STANDIN_CREATE_NULL    "1": return the status above but store null.
//   VSK_STANDIN_SEEK_RESULT    status GetTimeSeekPosition returns (default 0).
//                              Outputs are written only when it is not negative.
//   VSK_STANDIN_SEEK_FOUND_MS  value stored in *foundTimeMs (default: timeMs).
//   VSK_STANDIN_SEEK_POSITION  value stored in *bytePosition (default 0).
//   VSK_STANDIN_LOG            file to which every GetTimeSeekPosition call
//                              appends "path<TAB>durationMs<TAB>timeMs<TAB>flag"
//                              (path in UTF-8, flag 0 or 1, one line per call).
//
// Extra exports: StandInLiveParsers() (objects created and not yet released),
// StandInSeekCalls() (GetTimeSeekPosition calls so far). The broken variant
// lacks GetTimeSeekPosition.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace vsktest {

inline constexpr char STANDIN_ENV_CREATE_RESULT[] = "VSK_STANDIN_CREATE_RESULT";
inline constexpr char STANDIN_ENV_CREATE_NULL[] = "VSK_STANDIN_CREATE_NULL";
inline constexpr char STANDIN_ENV_SEEK_RESULT[] = "VSK_STANDIN_SEEK_RESULT";
inline constexpr char STANDIN_ENV_SEEK_FOUND_MS[] = "VSK_STANDIN_SEEK_FOUND_MS";
inline constexpr char STANDIN_ENV_SEEK_POSITION[] = "VSK_STANDIN_SEEK_POSITION";
inline constexpr char STANDIN_ENV_LOG[] = "VSK_STANDIN_LOG";

inline constexpr char STANDIN_EXPORT_LIVE_PARSERS[] = "StandInLiveParsers";
inline constexpr char STANDIN_EXPORT_SEEK_CALLS[] = "StandInSeekCalls";

using PfnStandInLiveParsers = std::int32_t (*)();
using PfnStandInSeekCalls = std::int32_t (*)();

// "VskMpegParser.dll" or "VskMpegParser.so".
std::filesystem::path StandInFileName();
// The built stand-in, and the variant without GetTimeSeekPosition.
std::filesystem::path StandInLibraryPath();
std::filesystem::path BrokenStandInLibraryPath();
// Copies the stand-in (or the broken variant) into `directory` under its
// library file name and returns the copy's path.
std::filesystem::path CopyStandInTo(const std::filesystem::path& directory, bool broken = false);

struct StandInSeekCall
{
    std::wstring path;
    std::uint32_t durationMs = 0;
    std::uint32_t timeMs = 0;
    bool flag = false;
};

// The calls recorded in a VSK_STANDIN_LOG file (none when it does not exist).
std::vector<StandInSeekCall> ReadStandInLog(const std::filesystem::path& log);

}  // namespace vsktest
