// The parser against FFmpeg on the same cached transport stream:
//
// - Demultiplexing rate. The parser reads the file as the time seek does:
//   64 KiB at a time, each piece fed and worked through with NextUnits, and
//   every unit taken and released. FFmpeg runs
//     ffmpeg -nostdin -v error -i FILE -map 0 -c copy -f null -
//   which reads and demultiplexes every packet and writes nothing. Goal: the
//   parser at least twice FFmpeg's rate.
// - Seeking by time at 10 %, 50 % and 90 % of the duration: CPU time per
//   seek and bytes read per seek, beside the same seek with the
//   demultiplexer throughout (no header scan), a plain read of exactly the
//   bytes the seek read (same offsets, 64 KiB reads) and
//     ffprobe -v error -read_intervals T%+#1 -select_streams v
//             -show_entries packet=pts,pos FILE
//   Goal: a seek within 1.2 times the plain read of its bytes.
//
// How to run (Linux presets only; the test command does not run it):
//   scripts/bench.sh
// or by hand:
//   cmake --preset linux && cmake --build build/linux --target parser_read_bench
//   build/linux/bench/parser_read_bench
// It writes a recording (MPEG-2 video PES with PTS and PCR, MPEG audio, PAT
// and PMT every 2,000 packets; 1 GB, VSK_BENCH_MB sets another size in
// megabytes) into a temporary directory, reads it once to bring it into the
// page cache and deletes it at the end. The FFmpeg runs are skipped with a
// message when ffmpeg is not installed (Debian package ffmpeg). The closing
// lines give the rates and ratios.
#include "StreamReader.h"
#include "TimeSeek.h"
#include "UnitInfo.h"
#include "vsktest/BitWriter.h"
#include "vsktest/PsiSections.h"
#include "vsktest/ReceiverRecordings.h"
#include "vsktest/Recording.h"
#include "vsktest/TempDir.h"
#include "vsktest/TsStreamBuilder.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

constexpr std::size_t READ_SIZE = 0x10000;  // what the time seek reads at once
constexpr double MEGABYTE = 1e6;

struct SFile
{
    vsktest::CTempDir dir;
    std::filesystem::path path;
    std::uint64_t size = 0;
};

std::unique_ptr<SFile> g_file;
double g_parserRate = 0;  // MB/s of the best parser run
double g_ffmpegRate = 0;  // MB/s of the best FFmpeg run
std::uint32_t g_durationMs = 0;

// Per seek position (10 %, 50 %, 90 %): the seek's CPU time and bytes, the
// plain read's time, ffprobe's time.
struct SSeekFigures {
    double seekMs = 0;
    double demultiplexMs = 0;  // the same seek with the demultiplexer throughout
    double readMs = 0;
    double ffprobeMs = 0;
    std::uint64_t bytes = 0;
    std::uint32_t passes = 0;
};
SSeekFigures g_seeks[3];
constexpr int SEEK_PERCENT[3] = {10, 50, 90};

std::uint64_t FileBytes()
{
    const char* mb = std::getenv("VSK_BENCH_MB");
    const std::uint64_t size = mb != nullptr ? std::strtoull(mb, nullptr, 10) : 1000;
    return (size == 0 ? 1000 : size) * 1000000;
}

struct SFileCloser
{
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using UniqueFile = std::unique_ptr<std::FILE, SFileCloser>;

UniqueFile OpenFile()
{
    UniqueFile file(std::fopen(g_file->path.string().c_str(), "rb"));
    if (!file)
        throw std::runtime_error("cannot open " + g_file->path.string());
    return file;
}

// The recording's elementary data is a pattern behind a picture start code
// (video) and a bare sync word (audio). FFmpeg refuses to copy a video stream
// whose dimensions it never learns, so each unit's payload gets what a real
// one starts with: an MPEG-2 sequence header (1920x1080, 29.97 frames/s),
// its extension, a GOP header, an I picture header and a slice start; each
// audio unit a whole MPEG-1 Layer II frame header (256 kbit/s, 48 kHz).
std::vector<std::uint8_t> VideoUnitStart()
{
    vsktest::CBitWriter w;
    w.Put(0x000001B3, 32).Put(1920, 12).Put(1080, 12).Put(3, 4).Put(4, 4);
    w.Put(15000000 / 400, 18).Marker().Put(597, 10).Put(0, 3);
    w.Put(0x000001B5, 32).Put(1, 4).Put(0x44, 8).Put(0, 1).Put(1, 2).Put(0, 2).Put(0, 2).Put(0, 12);
    w.Marker().Put(0, 8).Put(0, 1).Put(0, 2).Put(0, 5);
    w.Put(0x000001B8, 32).Put(0, 1).Put(0, 5).Put(0, 6).Marker().Put(0, 6).Put(0, 6).Put(1, 1).Put(0, 1).Put(0, 5);
    w.Put(0x00000100, 32).Put(0, 10).Put(1, 3).Put(0xFFFF, 16).Put(0, 1).Put(0, 2);
    // A slice start: FFmpeg's parser ends a frame only after one.
    w.Put(0x00000101, 32).Put(0x2A, 8);
    return w.Take();
}

constexpr std::uint8_t AUDIO_FRAME_HEADER[4] = {0xFF, 0xFD, 0xC4, 0x04};

void AddCodecHeaders(const vsktest::RecordingParams& params)
{
    const std::vector<std::uint8_t> video = VideoUnitStart();
    std::unique_ptr<std::FILE, SFileCloser> file(std::fopen(g_file->path.string().c_str(), "r+b"));
    if (!file)
        throw std::runtime_error("cannot open " + g_file->path.string());
    std::vector<std::uint8_t> block(188 * 4096);
    long offset = 0;
    for (;;) {
        const std::size_t got = std::fread(block.data(), 1, block.size(), file.get());
        if (got == 0)
            break;
        for (std::size_t at = 0; at + 188 <= got; at += 188) {
            std::uint8_t* p = &block[at];
            const unsigned pid = ((p[1] & 0x1Fu) << 8) | p[2];
            if (!(p[1] & 0x40u) || (pid != params.videoPid && pid != params.audioPid))
                continue;
            std::size_t payload = 4 + ((p[3] & 0x20u) ? 1u + p[4] : 0u);
            if (payload + 9 > 188 || p[payload] != 0 || p[payload + 1] != 0 || p[payload + 2] != 1)
                continue;
            const std::size_t data = payload + 9 + p[payload + 8];
            if (pid == params.videoPid && data + video.size() <= 188)
                std::copy(video.begin(), video.end(), p + data);
            else if (pid == params.audioPid && data + 4 <= 188)
                std::copy(std::begin(AUDIO_FRAME_HEADER), std::end(AUDIO_FRAME_HEADER), p + data);
        }
        if (std::fseek(file.get(), offset, SEEK_SET) != 0 || std::fwrite(block.data(), 1, got, file.get()) != got)
            throw std::runtime_error("cannot write " + g_file->path.string());
        offset += static_cast<long>(got);
        std::fseek(file.get(), offset, SEEK_SET);
    }
}

// The time of the last video unit in the file's last 8 MB, from the first
// one's, in 90 kHz ticks.
std::uint32_t LastVideoTicks(std::uint64_t firstPts)
{
    UniqueFile file = OpenFile();
    const long tail = static_cast<long>(std::min<std::uint64_t>(g_file->size, 8u << 20));
    std::fseek(file.get(), -tail, SEEK_END);
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(tail));
    bytes.resize(std::fread(bytes.data(), 1, bytes.size(), file.get()));
    parser::CStreamReader reader;
    reader.Initialize();
    reader.Configure(2, 1, 0xFF, 0x20000, parser::STREAM_KIND_TS188);
    std::uint64_t last = firstPts;
    if (reader.Feed(bytes.data(), static_cast<std::uint32_t>(bytes.size())) == parser::RESULT_OK) {
        while (reader.NextUnits() > 0) {
            parser::SUnitInfo unit;
            reader.TakeUnit(unit);
            last = std::max(last, unit.header.pts);
            reader.ReleaseUnit(unit);
        }
    }
    return static_cast<std::uint32_t>(last - firstPts);
}

void PrepareFile()
{
    g_file = std::make_unique<SFile>();
    g_file->path = g_file->dir / "recording.m2ts";
    vsktest::RecordingParams params;
    params.audio = true;
    params.psiInterval = 2000;
    std::fprintf(stderr, "writing a recording of %llu MB into %s\n",
                 static_cast<unsigned long long>(FileBytes() / 1000000), g_file->dir.Path().string().c_str());
    g_file->size = vsktest::WriteLargeRecording(g_file->path, FileBytes(), params);
    AddCodecHeaders(params);
    g_durationMs = LastVideoTicks(params.firstPts) / 90;
    // Into the page cache, so both contenders read from memory.
    std::vector<std::uint8_t> buffer(1 << 20);
    UniqueFile file = OpenFile();
    while (std::fread(buffer.data(), 1, buffer.size(), file.get()) > 0) {
    }
}

// One pass over the file; the units the reader reported.
std::uint64_t ParseFile(std::vector<std::uint8_t>& buffer)
{
    parser::CStreamReader reader;
    if (reader.Initialize() != parser::RESULT_OK)
        throw std::runtime_error("the reader cannot be initialised");
    reader.Configure(2, 4, 0xFF, 0x20000, 0);
    UniqueFile file = OpenFile();
    std::uint64_t units = 0;
    for (;;) {
        const std::size_t got = std::fread(buffer.data(), 1, buffer.size(), file.get());
        if (got == 0)
            break;
        if (reader.Feed(buffer.data(), static_cast<std::uint32_t>(got)) != parser::RESULT_OK)
            throw std::runtime_error("Feed failed");
        for (;;) {
            const std::int32_t n = reader.NextUnits();
            if (n < 0)
                throw std::runtime_error("NextUnits failed");
            if (n == 0)
                break;
            parser::SUnitInfo unit;
            if (reader.TakeUnit(unit) != parser::RESULT_OK)
                throw std::runtime_error("TakeUnit found no unit");
            if (unit.payloadLength != 0)
                ++units;
            reader.ReleaseUnit(unit);
        }
    }
    reader.Shutdown();
    return units;
}

void ParserRead(benchmark::State& state)
{
    std::vector<std::uint8_t> buffer(READ_SIZE);
    std::uint64_t units = 0;
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state)
        units += ParseFile(buffer);
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    const double bytes = static_cast<double>(g_file->size) * static_cast<double>(state.iterations());
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
    const double rate = bytes / MEGABYTE / elapsed.count();
    state.counters["MB_per_s"] = rate;
    state.counters["units_per_pass"] = static_cast<double>(units) / static_cast<double>(state.iterations());
    if (rate > g_parserRate)
        g_parserRate = rate;
}

bool FfmpegInstalled()
{
    return std::system("command -v ffmpeg >/dev/null 2>&1") == 0;
}

void FfmpegDemux(benchmark::State& state)
{
    if (!FfmpegInstalled()) {
        state.SkipWithError("ffmpeg is not installed (Debian package ffmpeg): no comparison");
        return;
    }
    const std::string command =
        "ffmpeg -nostdin -v error -i '" + g_file->path.string() + "' -map 0 -c copy -f null -";
    double best = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const int status = std::system(command.c_str());
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        if (status != 0) {
            state.SkipWithError("ffmpeg failed on the recording");
            return;
        }
        state.SetIterationTime(elapsed.count());
        const double rate = static_cast<double>(g_file->size) / MEGABYTE / elapsed.count();
        if (rate > best)
            best = rate;
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(g_file->size) * static_cast<std::int64_t>(state.iterations()));
    state.counters["MB_per_s"] = best;
    if (g_parserRate > 0)
        state.counters["parser_to_ffmpeg"] = g_parserRate / best;
    g_ffmpegRate = best;
}

std::uint32_t SeekTime(int index)
{
    return static_cast<std::uint32_t>(std::uint64_t{g_durationMs} * SEEK_PERCENT[index] / 100);
}

double CpuSeconds()
{
    return static_cast<double>(std::clock()) / CLOCKS_PER_SEC;
}

void Seek(benchmark::State& state, parser::ESeekReading reading)
{
    const int index = static_cast<int>(state.range(0));
    const std::wstring path = g_file->path.wstring();
    parser::STimeSeekStats stats;
    double cpu = 0;
    for (auto _ : state) {
        std::uint32_t found = 0;
        std::int64_t position = 0;
        const double before = CpuSeconds();
        const std::int32_t result =
            parser::FindTimeSeekPosition(path.c_str(), g_durationMs, SeekTime(index), false, &found, &position, &stats,
                                         reading);
        cpu += CpuSeconds() - before;
        if (result != 0) {
            state.SkipWithError("the seek failed");
            return;
        }
        benchmark::DoNotOptimize(position);
    }
    const double ms = cpu * 1000 / static_cast<double>(state.iterations());
    state.counters["cpu_ms"] = ms;
    state.counters["MiB_read"] = static_cast<double>(stats.bytesRead) / (1 << 20);
    state.counters["passes"] = stats.passes;
    state.counters["scanned_passes"] = stats.scannedPasses;
    SSeekFigures& f = g_seeks[index];
    if (reading == parser::ESeekReading::Demultiplex) {
        f.demultiplexMs = ms;
        return;
    }
    f.seekMs = ms;
    f.bytes = stats.bytesRead;
    f.passes = stats.passes;
}

// The bytes a seek's passes read, read again in the same pieces: CPU ms.
double PlainReadMs(const std::filesystem::path& path, const parser::STimeSeekStats& stats)
{
    std::vector<std::uint8_t> buffer(READ_SIZE);
    const double before = CpuSeconds();
    for (std::uint32_t pass = 0; pass < stats.passes && pass < parser::STimeSeekStats::PASSES_NOTED; ++pass) {
        UniqueFile file(std::fopen(path.string().c_str(), "rb"));
        if (!file)
            throw std::runtime_error("cannot open " + path.string());
        std::fseek(file.get(), static_cast<long>(stats.passReads[pass].offset), SEEK_SET);
        for (std::uint64_t left = stats.passReads[pass].bytes; left > 0;) {
            const std::size_t got = std::fread(buffer.data(), 1, std::min<std::uint64_t>(left, READ_SIZE), file.get());
            if (got == 0)
                break;
            left -= got;
        }
    }
    benchmark::DoNotOptimize(buffer.data());
    return (CpuSeconds() - before) * 1000;
}

// ffprobe's best wall time of three for the first video packet from
// `timeMs` on; 0 without ffmpeg.
double FfprobeMs(const std::filesystem::path& path, std::uint32_t timeMs)
{
    if (!FfmpegInstalled())
        return 0;
    const std::string command = "ffprobe -v error -read_intervals " + std::to_string(timeMs / 1000.0) +
                                "%+#1 -select_streams v -show_entries packet=pts,pos '" + path.string() +
                                "' >/dev/null 2>&1";
    double best = 1e9;
    for (int run = 0; run < 3; ++run) {
        const auto start = std::chrono::steady_clock::now();
        if (std::system(command.c_str()) != 0)
            return -1;
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        best = std::min(best, elapsed.count());
    }
    return best * 1000;
}

// Seeks on the recordings receivers write (each made from clean 38 MB
// recordings), at 10, 50 and 90 % of the play time: bytes read and CPU per
// seek beside a plain read of the same bytes and ffprobe.
void ReceiverTable()
{
    std::vector<vsktest::ReceiverRecording> cases = vsktest::MakeReceiverRecordings(200000);
    // A file whose video no search compares: the clean one with its video
    // mapped as a private stream.
    vsktest::ReceiverRecording noVideo;
    noVideo.name = "no video that takes part";
    noVideo.bytes = cases.front().bytes;
    noVideo.units = cases.front().units;
    vsktest::PmtParams pmt;
    pmt.pcrPid = 0x0200;
    pmt.streams = {{0x06, 0x0200, {}}, {0x04, 0x0201, {}}};
    vsktest::CTsStreamBuilder map;
    map.AddSection(0x0100, vsktest::MakePmt(pmt));
    for (std::size_t at = 0; at + 188 <= noVideo.bytes.size(); at += 188) {
        if ((((noVideo.bytes[at + 1] & 0x1Fu) << 8) | noVideo.bytes[at + 2]) == 0x0100)
            std::copy(map.Bytes().begin(), map.Bytes().end(), noVideo.bytes.begin() + static_cast<std::ptrdiff_t>(at));
    }
    cases.push_back(std::move(noVideo));

    std::printf("\n| case | MB | seek at | passes | MiB read | read / file | seek CPU ms | plain read CPU ms "
                "| ffprobe ms |\n|---|---|---|---|---|---|---|---|---|\n");
    vsktest::CTempDir dir;
    for (const vsktest::ReceiverRecording& c : cases) {
        const std::filesystem::path path = dir.WriteFile("case.ts", c.bytes);
        const std::uint32_t durationMs = static_cast<std::uint32_t>(c.units.back().playTicks / 90 + 40);
        for (const int percent : SEEK_PERCENT) {
            const std::uint32_t timeMs = static_cast<std::uint32_t>(std::uint64_t{durationMs} * percent / 100);
            parser::STimeSeekStats stats;
            double best = 1e9;
            for (int run = 0; run < 5; ++run) {
                std::uint32_t found = 0;
                std::int64_t position = 0;
                const double before = CpuSeconds();
                parser::FindTimeSeekPosition(path.wstring().c_str(), durationMs, timeMs, false, &found, &position,
                                             &stats);
                best = std::min(best, (CpuSeconds() - before) * 1000);
            }
            double read = 1e9;
            for (int run = 0; run < 5; ++run)
                read = std::min(read, PlainReadMs(path, stats));
            std::printf("| %s | %.1f | %d %% | %u | %.2f | %.2f | %.3f | %.3f | %.1f |\n", c.name,
                        static_cast<double>(c.bytes.size()) / MEGABYTE, percent, stats.passes,
                        static_cast<double>(stats.bytesRead) / (1 << 20),
                        static_cast<double>(stats.bytesRead) / static_cast<double>(c.bytes.size()), best, read,
                        FfprobeMs(path, timeMs));
        }
    }
}

// A seek as the library makes it: the header scan once the demultiplexer runs.
void ParserSeek(benchmark::State& state)
{
    Seek(state, parser::ESeekReading::HeaderScan);
}

// The same seek with the demultiplexer throughout, for comparison.
void ParserSeekDemultiplex(benchmark::State& state)
{
    Seek(state, parser::ESeekReading::Demultiplex);
}

// The bytes the seek read, read again in the same pieces and nothing else.
void PlainRead(benchmark::State& state)
{
    const int index = static_cast<int>(state.range(0));
    parser::STimeSeekStats stats;
    std::uint32_t found = 0;
    std::int64_t position = 0;
    parser::FindTimeSeekPosition(g_file->path.wstring().c_str(), g_durationMs, SeekTime(index), false, &found,
                                 &position, &stats);
    std::vector<std::uint8_t> buffer(READ_SIZE);
    double cpu = 0;
    for (auto _ : state) {
        const double before = CpuSeconds();
        for (std::uint32_t pass = 0; pass < stats.passes && pass < parser::STimeSeekStats::PASSES_NOTED; ++pass) {
            UniqueFile file = OpenFile();
            std::fseek(file.get(), static_cast<long>(stats.passReads[pass].offset), SEEK_SET);
            std::uint64_t left = stats.passReads[pass].bytes;
            while (left > 0) {
                const std::size_t got = std::fread(buffer.data(), 1, std::min<std::uint64_t>(left, READ_SIZE), file.get());
                if (got == 0)
                    break;
                left -= got;
            }
        }
        cpu += CpuSeconds() - before;
        benchmark::DoNotOptimize(buffer.data());
    }
    SSeekFigures& f = g_seeks[index];
    f.readMs = cpu * 1000 / static_cast<double>(state.iterations());
    state.counters["cpu_ms"] = f.readMs;
    if (f.readMs > 0)
        state.counters["seek_to_read"] = f.seekMs / f.readMs;
}

void FfprobeSeek(benchmark::State& state)
{
    if (!FfmpegInstalled()) {
        state.SkipWithError("ffmpeg is not installed (Debian package ffmpeg): no comparison");
        return;
    }
    const int index = static_cast<int>(state.range(0));
    const std::string command = "ffprobe -v error -read_intervals " + std::to_string(SeekTime(index) / 1000.0) +
                                "%+#1 -select_streams v -show_entries packet=pts,pos '" + g_file->path.string() +
                                "' >/dev/null";
    double best = 1e9;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const int status = std::system(command.c_str());
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        if (status != 0) {
            state.SkipWithError("ffprobe failed on the recording");
            return;
        }
        state.SetIterationTime(elapsed.count());
        best = std::min(best, elapsed.count());
    }
    g_seeks[index].ffprobeMs = best * 1000;
    state.counters["ms"] = best * 1000;
}

BENCHMARK(ParserRead)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(FfmpegDemux)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);
BENCHMARK(ParserSeek)->Unit(benchmark::kMillisecond)->DenseRange(0, 2)->MinTime(1.0);
BENCHMARK(ParserSeekDemultiplex)->Unit(benchmark::kMillisecond)->DenseRange(0, 2)->MinTime(1.0);
BENCHMARK(PlainRead)->Unit(benchmark::kMillisecond)->DenseRange(0, 2)->MinTime(1.0);
BENCHMARK(FfprobeSeek)->Unit(benchmark::kMillisecond)->UseManualTime()->DenseRange(0, 2)->Iterations(5);

}  // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    int result = 0;
    try {
        PrepareFile();
        benchmark::RunSpecifiedBenchmarks();
        if (g_parserRate > 0 && g_ffmpegRate > 0) {
            std::printf("parser %.0f MB/s, ffmpeg %.0f MB/s: the parser is %.2f times as fast (goal: 2)\n",
                        g_parserRate, g_ffmpegRate, g_parserRate / g_ffmpegRate);
        }
        std::printf("\n| seek at | passes | MiB read | seek CPU ms | plain read CPU ms | seek / read "
                    "| demultiplexer throughout, CPU ms | ffprobe ms |\n"
                    "|---|---|---|---|---|---|---|---|\n");
        for (int i = 0; i < 3; ++i) {
            const SSeekFigures& f = g_seeks[i];
            std::printf("| %d %% | %u | %.2f | %.3f | %.3f | %.2f | %.3f | %.1f |\n", SEEK_PERCENT[i], f.passes,
                        static_cast<double>(f.bytes) / (1 << 20), f.seekMs, f.readMs,
                        f.readMs > 0 ? f.seekMs / f.readMs : 0.0, f.demultiplexMs, f.ffprobeMs);
        }
        ReceiverTable();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "benchmark failed: %s\n", e.what());
        result = 1;
    }
    benchmark::Shutdown();
    g_file.reset();  // deletes the recording
    return result;
}
