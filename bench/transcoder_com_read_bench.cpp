// Throughput of the converter's read path in the Windows build, driven through
// its COM interface as a media server drives it, against the least any Read
// must do there: allocate the returned byte array with SafeArrayCreateVector
// and fill it with one ReadFile. Same recordings, sources and request sizes
// as transcoder_read_bench of the Linux build; each round reads every file
// once per request size with the baseline and with the converter, in turn.
//
// How to run (Windows preset, under Wine; the test command does not run it):
//   scripts/bench.sh converter-windows
// VSK_BENCH_MIB sets the file size in MiB (256), VSK_BENCH_ROUNDS the number
// of rounds (5). The closing table gives each pair's best rates and their
// ratio; the goals are at least 0.9 for the 188-byte source and 0.8 for the
// time-stamped one.
#include "ReadBenchSources.h"
#include "ReadBenchTable.h"
#include "platform/file.h"
#include "vsktest/WideText.h"

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace {

using namespace vskbench;

// Array and ReadFile: what every Read returns at the least.
std::int64_t BaselinePass(const std::filesystem::path& path, std::int64_t request)
{
    platform::CFile file;
    if (!file.Open(vsktest::WideFromPath(path).c_str(), platform::EFileMode::READ_SHARED))
        throw std::runtime_error("cannot open the recording");
    std::int64_t total = 0;
    for (;;) {
        SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(request));
        if (array == nullptr)
            throw std::runtime_error("out of memory");
        const std::int64_t got = file.Read(array->pvData, static_cast<std::size_t>(request));
        SafeArrayDestroy(array);
        if (got <= 0)
            return total;
        total += got;
    }
}

std::int64_t ConverterPass(const SReadBenchFiles& files, ESource source, std::int64_t request)
{
    CComPtr<MediaTranscoderLib::IVskMediaTranscoder> converter = OpenStartedConverter(files, source);
    std::int64_t total = 0;
    for (std::int64_t got; (got = ReadOnce(converter, static_cast<LONG>(request))) > 0;)
        total += got;
    return total;
}

int Rounds()
{
    const char* text = std::getenv("VSK_BENCH_ROUNDS");
    const int rounds = text != nullptr ? std::atoi(text) : 5;
    return rounds > 0 ? rounds : 5;
}

}  // namespace

int main()
{
    const bool comInitialised = SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED));
    int result = 0;
    try {
        const auto files = PrepareReadBenchFiles(BenchFileBytes());
        CReadBenchTable table;
        const int rounds = Rounds();
        for (int round = 1; round <= rounds; ++round) {
            std::fprintf(stderr, "round %d of %d\n", round, rounds);
            for (ESource source : {SOURCE_188, SOURCE_STAMPED}) {
                for (std::int64_t request : {std::int64_t {64} << 10, std::int64_t {1} << 20}) {
                    std::int64_t bytes = 0;
                    double seconds = Seconds([&] { bytes = BaselinePass(files->paths[source], request); });
                    table.Record(source, request, CReadBenchTable::BASELINE, bytes, seconds);
                    seconds = Seconds([&] { bytes = ConverterPass(*files, source, request); });
                    table.Record(source, request, CReadBenchTable::CONVERTER, bytes, seconds);
                }
            }
        }
        table.Print("Converter read, Windows build under Wine (best pass of each)",
                    "SafeArrayCreateVector + ReadFile");
    } catch (const std::exception& e) {
        std::fprintf(stderr, "benchmark failed: %s\n", e.what());
        result = 1;
    }
    if (comInitialised)
        CoUninitialize();
    return result;
}
