// A served folder made by the test, and a describer that stands in for the
// component: it counts its calls and answers with facts taken from the file
// itself, so a test knows what each recording must show.
#pragma once

#include "Library.h"
#include "vsktest/TempDir.h"

#include <atomic>
#include <filesystem>
#include <fstream>
#include <string>

namespace librarytest {

namespace fs = std::filesystem;
using mediahost::server::SDescription;
using mediahost::server::SOffer;

// The offers a recording gets: none when its name says "plain", else two,
// the second with an empty profile name.
inline SDescription FakeDescription(const fs::path& path)
{
    SDescription description;
    description.recording.path = path;
    std::error_code ec;
    const auto size = static_cast<std::int64_t>(fs::file_size(path, ec));
    if (path.filename().string().find("plain") != std::string::npos)
        return description;
    description.recording.probeResult = 0;
    description.recording.probe.fileSize = size;
    description.recording.probe.durationMs = 8000;
    description.recording.probe.streamCount = 1;
    description.recording.probe.streams[0].category = VSK_PROBE_STREAM_VIDEO;
    description.recording.probe.streams[0].codec = VSK_PROBE_CODEC_MPEG2_VIDEO;
    description.recording.probe.streams[0].width = 1920;
    description.recording.probe.streams[0].height = 1080;
    description.recording.facts = mediahost::MapProbe(description.recording.probe);
    const std::string bytes = std::to_string(size);
    description.offers.push_back(SOffer{"NAME_ONE", "", "video/mpeg", false, true, true,
                                        {{"duration", "00:00:08.000"}, {"size", bytes}, {"resolution", "1920x1080"}}});
    description.offers.push_back(SOffer{"", "", "video/vnd.dlna.mpeg-tts", false, false, true, {{"size", bytes}}});
    return description;
}

struct SCountingDescriber {
    std::atomic<int> calls{0};
    SDescription operator()(const fs::path& path)
    {
        ++calls;
        return FakeDescription(path);
    }
};

inline void Write(const fs::path& path, std::size_t size, char fill = 'x')
{
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << std::string(size, fill);
}

// The folder rules as a person states them: no hidden entry, no link whose
// target lies outside the folder.
inline bool Served(const fs::path& folder, const fs::path& entry)
{
    if (entry.filename().string().rfind('.', 0) == 0)
        return false;
    std::error_code ec;
    const fs::path real = fs::canonical(entry, ec);
    const fs::path root = fs::canonical(folder, ec);
    const auto [end, rest] = std::mismatch(root.begin(), root.end(), real.begin(), real.end());
    return !ec && end == root.end();
}

}  // namespace librarytest
