// Replays the HTTP fuzz target's corpus in the normal builds (under the
// sanitizers in linux-asan, under Wine in the Windows build), so every input
// the fuzzer once found stays a regression case everywhere.
#include "HttpFuzzBody.h"

#include "vsktest/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

std::vector<std::string> g_faults;

void RecordFault(const char* what)
{
    g_faults.emplace_back(what);
}

std::vector<fs::path> CorpusFiles()
{
    std::vector<fs::path> files;
    std::error_code error;
    for (const fs::directory_entry& entry :
         fs::directory_iterator(vsktest::ReachableBuildFolder(VSK_HTTP_CORPUS_DIR), error)) {
        if (entry.is_regular_file(error))
            files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::string TestName(const testing::TestParamInfo<fs::path>& info)
{
    std::string name = info.param.stem().string();
    for (char& c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c)))
            c = '_';
    }
    return name;
}

class HttpCorpus : public testing::TestWithParam<fs::path> {
};

TEST_P(HttpCorpus, KeepsEveryRule)
{
    const std::vector<std::uint8_t> input = vsktest::ReadFileBytes(GetParam());
    g_faults.clear();
    vskfuzz::SetHttpFaultHandler(RecordFault);
    EXPECT_EQ(vskfuzz::RunHttpInput(input.data(), input.size()), 0);
    vskfuzz::SetHttpFaultHandler(nullptr);
    for (const std::string& fault : g_faults)
        ADD_FAILURE() << fault;
}

INSTANTIATE_TEST_SUITE_P(Corpus, HttpCorpus, testing::ValuesIn(CorpusFiles()), TestName);

TEST(HttpCorpusFolder, HoldsSeeds)
{
    EXPECT_GE(CorpusFiles().size(), 10u) << "corpus not found in " << VSK_HTTP_CORPUS_DIR;
}

}  // namespace
