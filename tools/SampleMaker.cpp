// Writes a short sample recording for the demo where ffmpeg is missing: the
// project's stream builder lays out an MPEG-2 video and AC-3 audio transport
// stream (188-byte packets, 29.97 fps time stamps), and each picture and
// audio frame gets the headers a reader looks for: an MPEG-2 sequence header
// and extension (1920x1080, 16:9, 29.97 fps, Main Profile at High Level,
// 18 Mbit/s) before every picture, and AC-3 sync information (48 kHz,
// 448 kbit/s, 5.1) on every audio frame. The pictures themselves are filler:
// the file classifies and seeks like a broadcast recording, but shows
// nothing when played.
//
//   VskSampleMaker OUT [SECONDS]
#include "vsktest/BitWriter.h"
#include "vsktest/Recording.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace {

std::vector<std::uint8_t> SequenceHeaders()
{
    vsktest::CBitWriter w;
    w.Put(0x000001B3, 32).Put(1920, 12).Put(1080, 12).Put(3, 4).Put(4, 4);  // 16:9, 30000/1001
    w.Put(18000000 / 400, 18).Marker().Put(112, 10).Put(0, 1).Put(0, 1).Put(0, 1);
    // Sequence extension: Main Profile at High Level, progressive, 4:2:0.
    w.Put(0x000001B5, 32).Put(1, 4).Put(0x44, 8).Put(1, 1).Put(1, 2).Put(0, 2).Put(0, 2).Put(0, 12);
    w.Marker().Put(0, 8).Put(0, 1).Put(0, 2).Put(0, 5);
    return w.Take();
}

// Finds `pattern` in the packet at `offset` behind `after`; 0 when absent.
std::size_t Find(const std::vector<std::uint8_t>& bytes, std::size_t offset, std::span<const std::uint8_t> pattern,
                 std::size_t after = 4)
{
    const auto begin = bytes.begin() + static_cast<std::ptrdiff_t>(offset + after);
    const auto end = bytes.begin() + static_cast<std::ptrdiff_t>(std::min(bytes.size(), offset + 188));
    const auto found = std::search(begin, end, pattern.begin(), pattern.end());
    return found == end ? 0 : static_cast<std::size_t>(found - bytes.begin());
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s OUT [SECONDS]\n", argv[0]);
        return 2;
    }
    const double seconds = argc > 2 ? std::atof(argv[2]) : 10.0;
    vsktest::RecordingParams params;
    params.audio = true;
    params.audioStreamType = 0x81;
    params.audioPtsStep = 2880;  // 1536 samples at 48 kHz
    params.videoPacketsPerPes = 32;
    // 32 video packets per picture plus one audio packet in every 12.
    params.packetCount = static_cast<std::size_t>(seconds * 30000.0 / 1001.0 * 32.0 * 13.0 / 12.0) + 8;
    vsktest::Recording recording = vsktest::MakeRecording(params);
    std::vector<std::uint8_t>& bytes = recording.bytes;

    const std::vector<std::uint8_t> headers = SequenceHeaders();
    static constexpr std::array<std::uint8_t, 4> PES_VIDEO = {0x00, 0x00, 0x01, 0xE0};
    static constexpr std::array<std::uint8_t, 4> PICTURE = {0x00, 0x00, 0x01, 0x00};
    for (const vsktest::UnitMark& unit : recording.video) {
        const std::size_t pes = Find(bytes, unit.unitOffset, PES_VIDEO);
        const std::size_t picture = pes == 0 ? 0 : Find(bytes, unit.unitOffset, PICTURE, pes - unit.unitOffset + 4);
        if (picture == 0 || picture + headers.size() + PICTURE.size() > unit.unitOffset + 188)
            continue;
        std::copy(headers.begin(), headers.end(), bytes.begin() + static_cast<std::ptrdiff_t>(picture));
        std::copy(PICTURE.begin(), PICTURE.end(), bytes.begin() + static_cast<std::ptrdiff_t>(picture + headers.size()));
    }
    // AC-3 sync information: CRC (not checked by readers of the header),
    // 48 kHz with 448 kbit/s frames, bsid 8, 3/2 channels with LFE.
    static constexpr std::array<std::uint8_t, 2> SYNC = {0x0B, 0x77};
    static constexpr std::array<std::uint8_t, 5> SYNC_INFO = {0x00, 0x00, 0x1E, 0x40, 0xE1};
    for (const vsktest::UnitMark& unit : recording.audio) {
        const std::size_t sync = Find(bytes, unit.unitOffset, SYNC);
        if (sync != 0 && sync + 2 + SYNC_INFO.size() <= unit.unitOffset + 188)
            std::copy(SYNC_INFO.begin(), SYNC_INFO.end(), bytes.begin() + static_cast<std::ptrdiff_t>(sync + 2));
    }

    std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
    if (!out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()))) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    std::printf("wrote %s: %zu bytes, %zu pictures, %zu audio frames\n", argv[1], bytes.size(), recording.video.size(),
                recording.audio.size());
    return 0;
}
