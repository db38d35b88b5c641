// Replays a fuzz target's corpus (VSK_FUZZ_CORPUS_DIR, corpus/NAME/) through
// the target's body in the normal builds: under the sanitizers in
// linux-asan, under Wine in the Windows build. Each file runs as committed;
// a rule the body checks and the code breaks is a test failure naming it.
#include "FuzzReplay.h"

#include "FuzzSupport.h"

#include <gtest/gtest.h>

#include <string>

namespace vskfuzz {
namespace {

class CorpusFile : public testing::TestWithParam<std::filesystem::path>
{
};

TEST_P(CorpusFile, RunsWithoutFault)
{
    const std::vector<std::uint8_t> input = vsktest::ReadFileBytes(GetParam());
    for (const std::string& fault : ReplayInput(input))
        ADD_FAILURE() << fault;
}

INSTANTIATE_TEST_SUITE_P(Corpus, CorpusFile, testing::ValuesIn(CorpusFiles()), CorpusTestName);

TEST(CorpusFolder, HoldsSmallSeeds)
{
    const std::vector<std::filesystem::path> files = CorpusFiles();
    ASSERT_FALSE(files.empty()) << "no corpus in " << CorpusDirectory().string();
    for (const std::filesystem::path& file : files)
        EXPECT_LE(std::filesystem::file_size(file), FUZZ_MAX_INPUT_BYTES) << file.filename().string();
}

}  // namespace
}  // namespace vskfuzz
