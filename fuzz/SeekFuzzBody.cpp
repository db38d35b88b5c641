// The time-seek target: the stream (the bytes behind the control byte) as a
// file, searched for a duration and a time its last eight bytes choose; the
// search must answer within the file or fail with one of its codes, writing
// nothing then. Then the stream repeated into a file long enough for a seek
// pass to hand over to the header scan, where the scan must answer exactly
// as the demultiplexer alone does.
#include "FuzzSupport.h"

#include "TimeSeek.h"
#include "VskMpegParser.h"

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

namespace vskfuzz {
namespace {

// The file the time seek searches: one per process, named at random so
// fuzzing processes running side by side do not share it, removed at exit.
class CSeekFile
{
public:
    CSeekFile()
        : m_path(std::filesystem::temp_directory_path() /
                 ("vsk-fuzz-seek-" + std::to_string(std::random_device{}()) + ".bin"))
    {
    }
    ~CSeekFile()
    {
        std::error_code ignored;
        std::filesystem::remove(m_path, ignored);
    }
    const std::filesystem::path& Path() const noexcept { return m_path; }

private:
    std::filesystem::path m_path;
};

// The input repeated (whole 188-byte units of it, so its packets stay in
// step) into a file long enough for a seek pass to hand over to the header
// scan: the scan must answer exactly as the demultiplexer alone does.
void CompareSeekReadings(const std::filesystem::path& file, const std::uint8_t* data, std::size_t size,
                         std::uint32_t durationMs, std::uint32_t timeMs)
{
    constexpr std::size_t TILED_BYTES = 0x1C000;
    const std::size_t piece = size >= 4 * 188 ? size / 188 * 188 : size;
    {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        for (std::size_t written = 0; written < TILED_BYTES; written += piece)
            out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(piece));
        if (!out)
            return;
    }
    std::uint32_t found[2] = {0xFFFFFFFFu, 0xFFFFFFFFu};
    std::int64_t position[2] = {-2, -2};
    std::int32_t result[2] = {};
    const parser::ESeekReading readings[2] = {parser::ESeekReading::HeaderScan, parser::ESeekReading::Demultiplex};
    for (int i = 0; i < 2; ++i)
        result[i] = parser::FindTimeSeekPosition(file.wstring().c_str(), durationMs, timeMs, false, &found[i],
                                                 &position[i], nullptr, readings[i]);
    if (result[0] != result[1] || found[0] != found[1] || position[0] != position[1])
        Fault("the header scan answered otherwise than the demultiplexer");
}

// The whole input as a file, searched for a time it chooses: the search
// must answer within the file or fail with one of its codes.
void SeekInFile(const std::uint8_t* data, std::size_t size) noexcept
{
    if (size < 10)
        return;
    try {
        static const CSeekFile seekFile;
        const std::filesystem::path& file = seekFile.Path();
        {
            std::ofstream out(file, std::ios::binary | std::ios::trunc);
            out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
            if (!out)
                return;
        }
        auto word = [&](std::size_t at) {
            return std::uint32_t{data[at]} | std::uint32_t{data[at + 1]} << 8 | std::uint32_t{data[at + 2]} << 16 |
                   std::uint32_t{data[at + 3]} << 24;
        };
        const std::uint32_t durationMs = word(size - 8);
        const std::uint32_t timeMs = durationMs == 0 ? word(size - 4) : word(size - 4) % (durationMs + 1000u);
        std::uint32_t found = 0xFFFFFFFFu;
        std::int64_t position = -2;
        const std::int32_t result =
            parser::FindTimeSeekPosition(file.wstring().c_str(), durationMs, timeMs, false, &found, &position);
        switch (result) {
        case VSK_PARSER_RESULT_OK:
            if (position < 0 || static_cast<std::uint64_t>(position) > size)
                Fault("the time seek answered a position outside the file");
            if (timeMs == 0 && (position != 0 || found != 0))
                Fault("the time seek did not answer time 0 with the start of the file");
            break;
        case VSK_PARSER_RESULT_FAIL:
        case VSK_PARSER_RESULT_INVALIDARG:
        case VSK_PARSER_RESULT_OUTOFMEMORY:
            if (position != -2 || found != 0xFFFFFFFFu)
                Fault("a failed time seek wrote its outputs");
            if (durationMs == 0 && result != VSK_PARSER_RESULT_INVALIDARG)
                Fault("a duration of 0 was not refused");
            break;
        default:
            Fault("the time seek returned a code it does not have");
        }
        CompareSeekReadings(file, data, size, durationMs, timeMs);
    } catch (...) {
        // The file could not be written: nothing to search.
    }
}

}  // namespace
}  // namespace vskfuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // The control byte is the other targets'; the stream is what follows.
    if (size >= 2)
        vskfuzz::SeekInFile(data + 1, size - 1);
    return 0;
}
