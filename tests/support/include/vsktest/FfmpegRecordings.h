// Real recordings made during the test run by ffmpeg, GStreamer's muxer and
// mjpegtools (scripts/make-recordings.sh, run by the CTest fixture
// vsk_recordings into <build>/recordings), and what ffprobe read in each:
// the independent reader the parser's results are checked against. The test programs only read
// these files; under Wine the build folder is reached through drive Z:.
//
// A test that needs a recording links vsk_test_support, is registered with
// vsk_require_recordings(<test>) and skips when RecordingMissing() says why
// it cannot have it (ffmpeg not installed, an encoder missing, fixture not
// run). A program none of whose recordings is there prints
// RECORDINGS_UNAVAILABLE and the reason, so CTest counts it as skipped.
#pragma once

#include <cstdint>
#include <filesystem>
#include <iosfwd>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace vsktest {

enum class FfmpegRecording
{
    // MPEG-2 video and AC-3 audio in 188-byte packets.
    Mpeg2Ac3Ts,
    // H.264 with B-frames and AC-3 audio in 192-byte units whose prefixes
    // carry arrival time stamps.
    H264Ac3M2ts,
    // MPEG-2 program stream in 2048-byte packs, MPEG-2 video and AC-3
    // audio in private_stream_1.
    Mpeg2Ac3Vob,
    // MPEG-2 1920x1080 16:9 at 30000/1001 (at most 18 Mbit/s) with 5.1 AC-3
    // at 448 kbit/s, 188-byte packets.
    Mpeg2HdAc3Ts,
    // MPEG-2 720x576 4:3 at 25 (at most 9 Mbit/s) with MPEG audio layer II.
    Mpeg2SdMp2Ts,
    // H.264 High 4.0 1920x1080 at 30000/1001 with AC-3, 192-byte units with
    // arrival time stamps.
    H264HdAc3M2ts,
    // Two programs: MPEG-2 720x576 stating no rate with AC-3; MPEG-1 352x288
    // with mono MPEG audio at 44.1 kHz.
    TwoProgramsTs,
    // GStreamer's mpegtsmux: H.264 1920x1080 interlaced (25 frames, top
    // field first) with 5.1 AC-3, 188-byte packets.
    GstH264InterlacedAc3Ts,
    // GStreamer's mpegtsmux in m2ts mode: H.264 1280x720 at 50 with AAC,
    // 192-byte units with the muxer's arrival clock.
    GstH264Aac720p50M2ts,
    // GStreamer's mpegtsmux: MPEG-2 720x576 interlaced with MPEG audio
    // layer II, 188-byte packets.
    GstMpeg2InterlacedMp2Ts,
    // mjpegtools (mpeg2enc, mp2enc, mplex -f 8): a DVD program stream with
    // navigation packs.
    MjpegDvdVob,
};

// The recordings from muxers other than ffmpeg's.
inline constexpr FfmpegRecording OTHER_MUXER_RECORDINGS[] = {
    FfmpegRecording::GstH264InterlacedAc3Ts,
    FfmpegRecording::GstH264Aac720p50M2ts,
    FfmpegRecording::GstMpeg2InterlacedMp2Ts,
    FfmpegRecording::MjpegDvdVob,
};

// The recordings the stream reader's tests read unit for unit and search.
inline constexpr FfmpegRecording ALL_FFMPEG_RECORDINGS[] = {
    FfmpegRecording::Mpeg2Ac3Ts,
    FfmpegRecording::H264Ac3M2ts,
    FfmpegRecording::Mpeg2Ac3Vob,
    FfmpegRecording::GstH264InterlacedAc3Ts,
    FfmpegRecording::GstH264Aac720p50M2ts,
    FfmpegRecording::GstMpeg2InterlacedMp2Ts,
    FfmpegRecording::MjpegDvdVob,
};

// The recordings whose stream facts the probe's tests compare: ffmpeg's.
// (Those of the other muxers are compared in the damage table.)
inline constexpr FfmpegRecording PROBE_FFMPEG_RECORDINGS[] = {
    FfmpegRecording::Mpeg2Ac3Ts,   FfmpegRecording::H264Ac3M2ts,   FfmpegRecording::Mpeg2Ac3Vob,
    FfmpegRecording::Mpeg2HdAc3Ts, FfmpegRecording::Mpeg2SdMp2Ts, FfmpegRecording::H264HdAc3M2ts,
    FfmpegRecording::TwoProgramsTs,
};

// The file name ("mpeg2-ac3.ts", ...); also a readable name in test output.
const char* RecordingFileName(FfmpegRecording recording);
// Test output names the recording.
void PrintTo(FfmpegRecording recording, std::ostream* out);
// Bytes per transport unit (188 or 192); 0 for the program stream.
std::uint32_t RecordingUnitSize(FfmpegRecording recording);

// One video packet as ffprobe reads it (-fflags nofillin, so nothing is
// guessed): its PTS in 90 kHz ticks and the byte position ffprobe gives it.
struct ProbePacket
{
    std::int64_t pts = 0;
    std::int64_t pos = 0;

    bool operator==(const ProbePacket&) const = default;
};

// The data of that packet: its length and CRC32() of its bytes. In a
// transport stream written by ffmpeg it is the PES payload of one picture; in
// a program stream the picture, gathered from several PES packets.
struct ProbePayload
{
    std::uint32_t size = 0;
    std::uint32_t crc32 = 0;

    bool operator==(const ProbePayload&) const = default;
};

// ffprobe's video packets of one recording, in the order ffprobe read them.
struct ProbePacketList
{
    // The packets that have both a PTS and a position, and their data.
    std::vector<ProbePacket> packets;
    std::vector<ProbePayload> payloads;
    // Rows without a PTS or a position ("N/A"): pictures that start in a PES
    // packet after the one whose time stamp that packet carries.
    std::size_t incompleteRows = 0;
};

// The CRC-32 ffprobe gives packet data (-show_data_hash CRC32): reflected
// polynomial 0xEDB88320, all ones in and out, as zlib's.
std::uint32_t Crc32(std::span<const std::uint8_t> bytes);

// What CTest looks for in the output of a program that had no recording at
// all (see vsk_require_recordings).
inline constexpr const char* RECORDINGS_UNAVAILABLE = "recordings unavailable:";

// ffprobe's programs, streams and format of a recording, as the fixture
// writes them (-of flat): "section.index.key" names and their values, the
// quotes around text taken off ("streams.stream.0.width" -> "1920").
using ProbeFacts = std::map<std::string, std::string>;

// A fact as text ("" when absent) and as a number (nullopt when absent or
// not one; base 16 takes "0x41").
std::string FactText(const ProbeFacts& facts, const std::string& key);
std::optional<std::int64_t> FactNumber(const ProbeFacts& facts, const std::string& key, int base = 10);
// "30000/1001" or "16:9" as a pair; nullopt for "0/0", "0:1" and "N/A".
std::optional<std::pair<std::uint32_t, std::uint32_t>> FactRatio(const std::string& text);

// The folder the fixture writes to, as this program reaches it.
std::filesystem::path RecordingsDirectory();
// Empty when the recording, its packet list and its facts are there;
// otherwise why not, fit for a skip message.
std::string RecordingMissing(FfmpegRecording recording);
// Empty when at least one recording is there; otherwise why none is.
std::string AllRecordingsMissing();
std::filesystem::path RecordingPath(FfmpegRecording recording);
// The whole file. Throws std::runtime_error when it cannot be read.
std::vector<std::uint8_t> ReadRecording(FfmpegRecording recording);
// ffprobe's list for the recording. Throws std::runtime_error when it cannot
// be read or a row is not "PTS POS SIZE CRC32" (PTS and POS decimal or N/A,
// SIZE decimal, CRC32 eight hex digits).
ProbePacketList ReadProbePackets(FfmpegRecording recording);
// The same from the text of a list file.
ProbePacketList ParseProbePackets(const std::string& text);
// ffprobe's facts of the recording. Throws std::runtime_error when they
// cannot be read or a line is not "name=value".
ProbeFacts ReadProbeFacts(FfmpegRecording recording);
// The same from the text of a facts file; '#' lines and empty lines are
// passed over.
ProbeFacts ParseProbeFacts(const std::string& text);

}  // namespace vsktest
