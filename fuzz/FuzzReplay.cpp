#include "FuzzReplay.h"

#include "FuzzSupport.h"

#include <algorithm>
#include <cctype>

namespace vskfuzz {
namespace {

std::vector<std::string>* g_collected = nullptr;

void Collect(const char* what)
{
    if (g_collected != nullptr)
        g_collected->emplace_back(what);
}

}  // namespace

std::filesystem::path CorpusDirectory()
{
    return vsktest::ReachableBuildFolder(VSK_FUZZ_CORPUS_DIR);
}

std::vector<std::filesystem::path> CorpusFiles()
{
    std::vector<std::filesystem::path> files;
    std::error_code error;
    for (const std::filesystem::directory_entry& entry : std::filesystem::directory_iterator(CorpusDirectory(), error)) {
        if (entry.is_regular_file(error))
            files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::string CorpusTestName(const testing::TestParamInfo<std::filesystem::path>& info)
{
    std::string name = info.param.stem().string();
    for (char& c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c)))
            c = '_';
    }
    return name + "_" + std::to_string(info.index);
}

std::vector<std::string> ReplayInput(const std::vector<std::uint8_t>& input)
{
    std::vector<std::string> faults;
    g_collected = &faults;
    SetFaultHandler(Collect);
    LLVMFuzzerTestOneInput(input.data(), input.size());
    SetFaultHandler(nullptr);
    g_collected = nullptr;
    return faults;
}

}  // namespace vskfuzz
