// Throughput of the converter's read path against a plain read loop over the
// same cached file with the same request size, for a 188-byte source and a
// time-stamped AVC source (whose reads are cut to whole packets and have their
// prefixes cleared), with the host's request sizes of 64 KiB and 1 MiB. Each
// iteration reads the whole file once.
//
// How to run (Linux presets; the test command does not run it):
//   scripts/bench.sh converter
// or by hand:
//   cmake --build build/linux --target transcoder_read_bench
//   build/linux/bench/transcoder_read_bench --benchmark_repetitions=5 --benchmark_enable_random_interleaving=true
// It writes two recordings of 256 MiB each into a temporary directory (they
// should fit in the page cache), reads each once to bring it into the cache,
// and deletes them when it ends. VSK_BENCH_MIB sets another size in MiB. The
// closing table gives each pair's best rates and their ratio; the goals are
// at least 0.9 for the 188-byte source and 0.8 for the time-stamped one.
// The Windows build's counterpart is transcoder_com_read_bench (under Wine).
#include "ReadBenchSources.h"
#include "ReadBenchTable.h"
#include "platform/file.h"
#include "vsktest/WideText.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>
#include <stdexcept>
#include <vector>

namespace {

using namespace vskbench;

std::unique_ptr<SReadBenchFiles> g_files;
CReadBenchTable g_table;

void PlainReadLoop(benchmark::State& state)
{
    const auto source = static_cast<ESource>(state.range(0));
    const std::int64_t request = state.range(1);
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(request));
    for (auto _ : state) {
        std::int64_t total = 0;
        const double seconds = Seconds([&] {
            platform::CFile file;
            if (!file.Open(vsktest::WideFromPath(g_files->paths[source]).c_str(), platform::EFileMode::READ_SHARED))
                throw std::runtime_error("cannot open the recording");
            for (std::int64_t got; (got = file.Read(buffer.data(), buffer.size())) > 0;)
                total += got;
        });
        g_table.Record(source, request, CReadBenchTable::BASELINE, total, seconds);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * g_files->sizes[source]);
}

void ConverterRead(benchmark::State& state)
{
    const auto source = static_cast<ESource>(state.range(0));
    const std::int64_t request = state.range(1);
    std::int64_t delivered = 0;
    for (auto _ : state) {
        state.PauseTiming();
        CComPtr<MediaTranscoderLib::IVskMediaTranscoder> converter = OpenStartedConverter(*g_files, source);
        state.ResumeTiming();
        std::int64_t total = 0;
        const double seconds = Seconds([&] {
            for (std::int64_t got; (got = ReadOnce(converter, static_cast<LONG>(request))) > 0;)
                total += got;
        });
        g_table.Record(source, request, CReadBenchTable::CONVERTER, total, seconds);
        delivered += total;
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
    b->Unit(benchmark::kMillisecond);
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
        g_files = PrepareReadBenchFiles(BenchFileBytes());
        benchmark::RunSpecifiedBenchmarks();
        g_table.Print("Converter read, Linux build (best pass of each)", "plain read loop");
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
