// The two recordings the converter's read benchmarks stream (a 188-byte
// source and a time-stamped AVC source of code 26), written into a temporary
// directory and read once so that every run reads from the page cache, and a
// started converter over either of them.
#pragma once

#include "frame/MediaTranscoderLib.h"
#include "platform/com.h"
#include "platform/com_holders.h"
#include "vsktest/TempDir.h"

#include <cstdint>
#include <filesystem>
#include <memory>

namespace vskbench {

enum ESource : int { SOURCE_188 = 0, SOURCE_STAMPED = 1 };
inline constexpr const char* SOURCE_NAMES[] = {"188-byte", "AVC time-stamped"};

struct SReadBenchFiles {
    vsktest::CTempDir dir;
    std::filesystem::path paths[2];
    std::int64_t sizes[2] = {0, 0};
};

// VSK_BENCH_MIB, in MiB; 256 when unset.
std::uint64_t BenchFileBytes();

// Writes both recordings of `bytes` bytes each and brings them into the cache.
std::unique_ptr<SReadBenchFiles> PrepareReadBenchFiles(std::uint64_t bytes);

// A converter opened on the source and started; raises std::runtime_error.
CComPtr<MediaTranscoderLib::IVskMediaTranscoder> OpenStartedConverter(const SReadBenchFiles& files, ESource source);

// One converter read of `count` bytes; the bytes delivered, 0 at the end.
std::int64_t ReadOnce(MediaTranscoderLib::IVskMediaTranscoder* converter, LONG count);

}  // namespace vskbench
