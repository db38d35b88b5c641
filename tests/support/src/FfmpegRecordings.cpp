#include "vsktest/FfmpegRecordings.h"

#include "vsktest/TempDir.h"

#include <array>
#include <charconv>
#include <ostream>
#include <sstream>
#include <stdexcept>
#include <string_view>

namespace vsktest {
namespace {

namespace fs = std::filesystem;

constexpr const char* STATUS_FILE = "status.txt";
constexpr const char* PACKETS_SUFFIX = ".packets";
constexpr const char* FACTS_SUFFIX = ".streams";

std::string ReadText(const fs::path& path)
{
    const std::vector<std::uint8_t> bytes = ReadFileBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

// The status file's line for the recording ("ok NAME" or "missing NAME:
// why"), empty when it has none.
std::string StatusLine(const std::string& status, const std::string& name)
{
    std::istringstream lines(status);
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line == "ok " + name || line.rfind("missing " + name + ":", 0) == 0)
            return line;
    }
    return {};
}

// A PTS or position: a decimal number, or "N/A".
bool ParseField(std::string_view field, std::int64_t& value, bool& present)
{
    present = field != "N/A";
    if (!present)
        return true;
    const char* end = field.data() + field.size();
    const auto [stop, error] = std::from_chars(field.data(), end, value);
    return error == std::errc() && stop == end && value >= 0;
}

template <typename T>
bool ParseNumber(std::string_view field, T& value, int base)
{
    const char* end = field.data() + field.size();
    const auto [stop, error] = std::from_chars(field.data(), end, value, base);
    return !field.empty() && error == std::errc() && stop == end;
}

// Calls take(line, number) for each line of a list the fixture writes, a
// CR before its end taken off, comment lines ('#') and empty ones left out.
template <typename TTake>
void ForEachLine(const std::string& text, TTake take)
{
    std::istringstream lines(text);
    std::string line;
    std::size_t number = 0;
    while (std::getline(lines, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty() && line[0] != '#')
            take(line, number);
    }
}

// The blank-separated fields of a line; empty ones (two blanks) included.
std::vector<std::string_view> Fields(std::string_view line)
{
    std::vector<std::string_view> fields;
    for (std::size_t at = 0;;) {
        const std::size_t blank = line.find(' ', at);
        fields.push_back(line.substr(at, blank == std::string_view::npos ? std::string_view::npos : blank - at));
        if (blank == std::string_view::npos)
            return fields;
        at = blank + 1;
    }
}

}  // namespace

const char* RecordingFileName(FfmpegRecording recording)
{
    switch (recording) {
    case FfmpegRecording::Mpeg2Ac3Ts:
        return "mpeg2-ac3.ts";
    case FfmpegRecording::H264Ac3M2ts:
        return "h264-ac3.m2ts";
    case FfmpegRecording::Mpeg2Ac3Vob:
        return "mpeg2-ac3.vob";
    case FfmpegRecording::Mpeg2HdAc3Ts:
        return "mpeg2-hd-ac3.ts";
    case FfmpegRecording::Mpeg2SdMp2Ts:
        return "mpeg2-sd-mp2.ts";
    case FfmpegRecording::H264HdAc3M2ts:
        return "h264-hd-ac3.m2ts";
    case FfmpegRecording::TwoProgramsTs:
        return "two-programs.ts";
    case FfmpegRecording::GstH264InterlacedAc3Ts:
        return "gst-h264-1080i-ac3.ts";
    case FfmpegRecording::GstH264Aac720p50M2ts:
        return "gst-h264-720p50-aac.m2ts";
    case FfmpegRecording::GstMpeg2InterlacedMp2Ts:
        return "gst-mpeg2-576i-mp2.ts";
    case FfmpegRecording::MjpegDvdVob:
        return "mjpeg-dvd.vob";
    }
    return "unknown";
}

void PrintTo(FfmpegRecording recording, std::ostream* out)
{
    *out << RecordingFileName(recording);
}

std::uint32_t RecordingUnitSize(FfmpegRecording recording)
{
    switch (recording) {
    case FfmpegRecording::Mpeg2Ac3Ts:
    case FfmpegRecording::Mpeg2HdAc3Ts:
    case FfmpegRecording::Mpeg2SdMp2Ts:
    case FfmpegRecording::TwoProgramsTs:
    case FfmpegRecording::GstH264InterlacedAc3Ts:
    case FfmpegRecording::GstMpeg2InterlacedMp2Ts:
        return 188;
    case FfmpegRecording::H264Ac3M2ts:
    case FfmpegRecording::H264HdAc3M2ts:
    case FfmpegRecording::GstH264Aac720p50M2ts:
        return 192;
    case FfmpegRecording::Mpeg2Ac3Vob:
    case FfmpegRecording::MjpegDvdVob:
        return 0;
    }
    return 0;
}

fs::path RecordingsDirectory()
{
    return ReachableBuildFolder(VSK_RECORDINGS_DIR);
}

fs::path RecordingPath(FfmpegRecording recording)
{
    return RecordingsDirectory() / RecordingFileName(recording);
}

std::string RecordingMissing(FfmpegRecording recording)
{
    const fs::path directory = RecordingsDirectory();
    const std::string name = RecordingFileName(recording);
    std::error_code error;
    if (!fs::is_regular_file(directory / STATUS_FILE, error))
        return "no recordings in " + directory.string() +
               ": the fixture vsk_recordings (scripts/make-recordings.sh) has not run";
    const std::string line = StatusLine(ReadText(directory / STATUS_FILE), name);
    if (line.empty())
        return name + " is not listed in " + (directory / STATUS_FILE).string();
    if (line.rfind("missing ", 0) == 0)
        return line.substr(std::string("missing ").size());
    for (const fs::path& file :
         {directory / name, directory / (name + PACKETS_SUFFIX), directory / (name + FACTS_SUFFIX)}) {
        if (!fs::is_regular_file(file, error))
            return file.string() + " was made but is not there";
    }
    return {};
}

std::uint32_t Crc32(std::span<const std::uint8_t> bytes)
{
    static const std::array<std::uint32_t, 256> table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t c = i;
            for (int bit = 0; bit < 8; ++bit)
                c = (c & 1u) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::uint8_t byte : bytes)
        crc = table[(crc ^ byte) & 0xFFu] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

std::string AllRecordingsMissing()
{
    std::string first;
    for (FfmpegRecording recording : ALL_FFMPEG_RECORDINGS) {
        const std::string missing = RecordingMissing(recording);
        if (missing.empty())
            return {};
        if (first.empty())
            first = missing;
    }
    return first;
}

std::vector<std::uint8_t> ReadRecording(FfmpegRecording recording)
{
    return ReadFileBytes(RecordingPath(recording));
}

ProbePacketList ParseProbePackets(const std::string& text)
{
    ProbePacketList list;
    ForEachLine(text, [&list](const std::string& line, std::size_t number) {
        const std::vector<std::string_view> fields = Fields(line);
        ProbePacket packet;
        ProbePayload payload;
        bool hasPts = false;
        bool hasPos = false;
        if (fields.size() != 4 || !ParseField(fields[0], packet.pts, hasPts) ||
            !ParseField(fields[1], packet.pos, hasPos) || !ParseNumber(fields[2], payload.size, 10) ||
            fields[3].size() != 8 || !ParseNumber(fields[3], payload.crc32, 16))
            throw std::runtime_error("packet list line " + std::to_string(number) +
                                     " is not \"PTS POS SIZE CRC32\": " + line);
        if (hasPts && hasPos) {
            list.packets.push_back(packet);
            list.payloads.push_back(payload);
        } else {
            ++list.incompleteRows;
        }
    });
    return list;
}

ProbeFacts ParseProbeFacts(const std::string& text)
{
    ProbeFacts facts;
    ForEachLine(text, [&facts](const std::string& line, std::size_t number) {
        const std::size_t equals = line.find('=');
        if (equals == 0 || equals == std::string::npos)
            throw std::runtime_error("facts line " + std::to_string(number) + " is not \"name=value\": " + line);
        std::string value = line.substr(equals + 1);
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
            value = value.substr(1, value.size() - 2);
        facts[line.substr(0, equals)] = value;
    });
    return facts;
}

std::string FactText(const ProbeFacts& facts, const std::string& key)
{
    const auto found = facts.find(key);
    return found == facts.end() ? std::string() : found->second;
}

std::optional<std::int64_t> FactNumber(const ProbeFacts& facts, const std::string& key, int base)
{
    const auto found = facts.find(key);
    if (found == facts.end())
        return std::nullopt;
    std::string_view text = found->second;
    if (base == 16 && text.starts_with("0x"))
        text.remove_prefix(2);
    std::int64_t value = 0;
    if (!ParseNumber(text, value, base))
        return std::nullopt;
    return value;
}

std::optional<std::pair<std::uint32_t, std::uint32_t>> FactRatio(const std::string& text)
{
    const std::size_t cut = text.find_first_of("/:");
    std::uint32_t a = 0;
    std::uint32_t b = 0;
    if (cut == std::string::npos || !ParseNumber(std::string_view(text).substr(0, cut), a, 10) ||
        !ParseNumber(std::string_view(text).substr(cut + 1), b, 10) || a == 0 || b == 0)
        return std::nullopt;
    return std::make_pair(a, b);
}

ProbeFacts ReadProbeFacts(FfmpegRecording recording)
{
    const fs::path path = RecordingsDirectory() / (std::string(RecordingFileName(recording)) + FACTS_SUFFIX);
    return ParseProbeFacts(ReadText(path));
}

ProbePacketList ReadProbePackets(FfmpegRecording recording)
{
    const fs::path path = RecordingsDirectory() / (std::string(RecordingFileName(recording)) + PACKETS_SUFFIX);
    return ParseProbePackets(ReadText(path));
}

}  // namespace vsktest
