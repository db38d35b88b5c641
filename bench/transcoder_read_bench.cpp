// Throughput of the converter's read path against a plain read loop over the
// same cached file, for a 188-byte source and a time-stamped AVC source (whose
// reads are cut to whole packets and have their prefixes cleared), with the
// host's request sizes of 64 KiB and 1 MiB.
//
// How to run (Linux presets only; the test command does not run it):
//   cmake --preset linux && cmake --build build/linux --target transcoder_read_bench
//   build/linux/bench/transcoder_read_bench
// It writes two recordings of 1 GiB each into a temporary directory (so about
// 2 GiB must be free there and should fit in the page cache), reads each once
// to bring it into the cache, and deletes them when it ends. VSK_BENCH_MIB
// sets another file size in MiB (e.g. 64 for a quick run). The usual Google
// Benchmark options apply (--benchmark_filter=..., --benchmark_repetitions=...).
// Compare the bytes_per_second of each converter row with the PlainReadLoop
// row of the same file and request size.
#include "host/host_kit.h"
#include "platform/com.h"
#include "platform/file.h"
#include "transcoder/CMpeg2TSConverter.h"
#include "vsktest/Recording.h"
#include "vsktest/TempDir.h"
#include "vsktest/WideText.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <vector>

namespace {

using MediaTranscoderLib::IVskMediaTranscoder;

enum ESource : int { SOURCE_188 = 0, SOURCE_STAMPED = 1 };

struct SFiles {
    vsktest::CTempDir dir;
    std::filesystem::path paths[2];
    std::int64_t sizes[2] = {0, 0};
};

std::unique_ptr<SFiles> g_files;

std::uint64_t FileBytes()
{
    const char* mib = std::getenv("VSK_BENCH_MIB");
    const std::uint64_t size = mib != nullptr ? std::strtoull(mib, nullptr, 10) : 1024;
    return (size == 0 ? 1024 : size) << 20;
}

// Reads the whole file in blocks of `block` bytes; the bytes read.
std::int64_t PlainRead(const std::filesystem::path& path, std::vector<std::uint8_t>& buffer)
{
    platform::CFile file;
    if (!file.Open(vsktest::WideFromPath(path).c_str(), platform::EFileMode::READ_SHARED))
        throw std::runtime_error("cannot open " + path.string());
    std::int64_t total = 0;
    for (;;) {
        const std::int64_t got = file.Read(buffer.data(), buffer.size());
        if (got <= 0)
            break;
        total += got;
    }
    return total;
}

void PrepareFiles()
{
    g_files = std::make_unique<SFiles>();
    const std::uint64_t size = FileBytes();
    std::fprintf(stderr, "writing two recordings of %llu MiB into %s\n",
                 static_cast<unsigned long long>(size >> 20), g_files->dir.Path().string().c_str());

    vsktest::RecordingParams plain;
    plain.audio = true;
    g_files->paths[SOURCE_188] = g_files->dir / "plain.m2ts";
    vsktest::WriteLargeRecording(g_files->paths[SOURCE_188], size, plain);

    vsktest::RecordingParams stamped = plain;
    stamped.unitSize = vsktest::TS_UNIT_SIZE_192;
    stamped.prefixMode = vsktest::PrefixMode::ArrivalTime;
    stamped.videoStreamType = 0x1B;
    stamped.audioStreamType = 0x81;
    g_files->paths[SOURCE_STAMPED] = g_files->dir / "stamped.m2ts";
    vsktest::WriteLargeRecording(g_files->paths[SOURCE_STAMPED], size, stamped);

    // Bring both into the page cache, so every run reads from memory.
    std::vector<std::uint8_t> buffer(1 << 20);
    for (int s : {SOURCE_188, SOURCE_STAMPED})
        g_files->sizes[s] = PlainRead(g_files->paths[s], buffer);
}

// A media item the classifier takes for AVC 1920x1080 at 29.97 frames per
// second with valid time stamps (source profile code 26).
CComPtr<CComObject<CHostMediaItem>> StampedAvcItem(const std::filesystem::path& path)
{
    CComPtr<CComObject<CHostMediaItem>> item = CreateHostMediaItem();
    item->m_path = CComVariant(vsktest::WideFromPath(path).c_str());
    item->m_size = g_files->sizes[SOURCE_STAMPED];
    item->m_duration = 3600000;
    item->m_bitRate = 19000000;
    item->m_packetFormat = HOST_PACKET_FORMAT_192_STAMPED;
    item->m_videoStreamCount = 1;
    item->m_audioStreamCount = 1;
    CComPtr<CComObject<CHostStream>> video = CreateHostStream(HOST_DESCRIPTION_AVC_VIDEO);
    video->m_video.width = 1920;
    video->m_video.height = 1080;
    video->m_video.aspectRatioCode = 3;
    video->m_video.profile = 2;
    video->m_video.level = 10;
    video->m_video.frameRate = 29.97;
    video->m_video.primaryBitRate = 15000000;
    item->m_videoStream = static_cast<IHostAvcVideoDescription*>(video.p);
    CComPtr<CComObject<CHostStream>> audio = CreateHostStream(HOST_DESCRIPTION_AC3_AUDIO);
    audio->m_audio.sampleRate = 48000;
    audio->m_audio.channels = 6;
    audio->m_audio.bitRate = 448000;
    item->m_audioStream = static_cast<IHostAc3AudioDescription*>(audio.p);
    return item;
}

CComPtr<IVskMediaTranscoder> OpenConverter(ESource source)
{
    CComPtr<IVskMediaTranscoder> converter;
    if (FAILED(transcoder::CreateMpeg2TSConverter(L"", &converter)))
        throw std::runtime_error("cannot create a converter");
    CComPtr<CComObject<CHostTargetDescription>> target = CreateHostTargetDescription();
    target->m_mimeType = L"video/vnd.dlna.mpeg-tts";
    target->m_flag3 = VARIANT_TRUE;
    HRESULT hr = E_FAIL;
    if (source == SOURCE_188) {
        hr = converter->Open(CComVariant(vsktest::WideFromPath(g_files->paths[SOURCE_188]).c_str()), target);
    } else {
        CComPtr<CComObject<CHostMediaItem>> item = StampedAvcItem(g_files->paths[SOURCE_STAMPED]);
        hr = converter->Open(CComVariant(static_cast<IUnknown*>(static_cast<IHostMediaItem*>(item.p))), target);
    }
    if (FAILED(hr) || FAILED(converter->Start()))
        throw std::runtime_error("cannot open the recording");
    return converter;
}

void PlainReadLoop(benchmark::State& state)
{
    const auto source = static_cast<ESource>(state.range(0));
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(state.range(1)));
    for (auto _ : state) {
        const std::int64_t total = PlainRead(g_files->paths[source], buffer);
        benchmark::DoNotOptimize(total);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * g_files->sizes[source]);
}

void ConverterRead(benchmark::State& state)
{
    const auto source = static_cast<ESource>(state.range(0));
    const auto count = static_cast<LONG>(state.range(1));
    std::int64_t delivered = 0;
    for (auto _ : state) {
        state.PauseTiming();
        CComPtr<IVskMediaTranscoder> converter = OpenConverter(source);
        state.ResumeTiming();
        for (;;) {
            SAFEARRAY* data = nullptr;
            VARIANT_BOOL end = VARIANT_FALSE;
            if (FAILED(converter->Read(count, &data, &end)))
                throw std::runtime_error("read failed");
            delivered += static_cast<std::int64_t>(data->rgsabound[0].cElements);
            SafeArrayDestroy(data);
            if (end == VARIANT_TRUE)
                break;
        }
    }
    state.SetBytesProcessed(delivered);
}

void Arguments(benchmark::internal::Benchmark* b)
{
    b->ArgNames({"stamped", "request"});
    for (int source : {SOURCE_188, SOURCE_STAMPED}) {
        for (int request : {64 << 10, 1 << 20})
            b->Args({source, request});
    }
    b->Unit(benchmark::kMillisecond)->UseRealTime();
}

BENCHMARK(PlainReadLoop)->Apply(Arguments);
BENCHMARK(ConverterRead)->Apply(Arguments);

}  // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    const bool comInitialised = SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED));
    int result = 0;
    try {
        PrepareFiles();
        benchmark::RunSpecifiedBenchmarks();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "benchmark failed: %s\n", e.what());
        result = 1;
    }
    benchmark::Shutdown();
    g_files.reset();  // deletes the recordings
    if (comInitialised)
        CoUninitialize();
    return result;
}
