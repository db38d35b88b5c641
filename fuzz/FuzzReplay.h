// The replay side of a fuzz target, for its tests in the normal builds: the
// target's committed corpus and a way to run one input through its body
// with every fault collected instead of aborting.
#pragma once

#include "vsktest/TempDir.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace vskfuzz {

// The largest input scripts/fuzz.sh lets libFuzzer make; seeds stay within
// it, so each stays a case the fuzzer can mutate.
inline constexpr std::uintmax_t FUZZ_MAX_INPUT_BYTES = 16384;

// The target's corpus folder (VSK_FUZZ_CORPUS_DIR) as this program reaches
// it, and its files in name order.
std::filesystem::path CorpusDirectory();
std::vector<std::filesystem::path> CorpusFiles();

// A test name for a corpus file: its name with other characters than
// letters and digits as '_', and its index, which keeps names unique.
std::string CorpusTestName(const testing::TestParamInfo<std::filesystem::path>& info);

// Runs the input through LLVMFuzzerTestOneInput; the faults it reported.
std::vector<std::string> ReplayInput(const std::vector<std::uint8_t>& input);

}  // namespace vskfuzz
