#include "vsktest/StandIn.h"

#include "vsktest/TempDir.h"
#include "vsktest/WideText.h"

#include <sstream>
#include <stdexcept>

namespace vsktest {
namespace {

std::filesystem::path Locate(const char* folder, const std::filesystem::path& configured)
{
    return LocateBuildOutput(folder, StandInFileName(), configured / StandInFileName());
}

}  // namespace

std::filesystem::path StandInFileName()
{
    return VSK_STANDIN_FILE_NAME;
}

std::filesystem::path StandInLibraryPath()
{
    return Locate("standin", VSK_STANDIN_DIR);
}

std::filesystem::path BrokenStandInLibraryPath()
{
    return Locate("standin-broken", VSK_STANDIN_BROKEN_DIR);
}

std::filesystem::path CopyStandInTo(const std::filesystem::path& directory, bool broken)
{
    const std::filesystem::path target = directory / StandInFileName();
    std::filesystem::copy_file(broken ? BrokenStandInLibraryPath() : StandInLibraryPath(), target,
                               std::filesystem::copy_options::overwrite_existing);
    return target;
}

std::vector<StandInSeekCall> ReadStandInLog(const std::filesystem::path& log)
{
    std::vector<StandInSeekCall> calls;
    std::error_code ec;
    if (!std::filesystem::exists(log, ec))
        return calls;
    const std::vector<std::uint8_t> bytes = ReadFileBytes(log);
    std::istringstream in(std::string(bytes.begin(), bytes.end()));
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty())
            continue;
        std::vector<std::string> parts;
        std::size_t start = 0;
        for (;;) {
            const std::size_t tab = line.find('\t', start);
            parts.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
            if (tab == std::string::npos)
                break;
            start = tab + 1;
        }
        if (parts.size() != 4)
            throw std::runtime_error("malformed stand-in log line: " + line);
        StandInSeekCall call;
        call.path = FromUtf8(parts[0]);
        call.durationMs = static_cast<std::uint32_t>(std::stoul(parts[1]));
        call.timeMs = static_cast<std::uint32_t>(std::stoul(parts[2]));
        call.flag = parts[3] == "1";
        calls.push_back(std::move(call));
    }
    return calls;
}

}  // namespace vsktest
