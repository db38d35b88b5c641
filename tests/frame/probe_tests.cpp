// The parser-library probe, each case in a fresh child process (the answer is
// fixed per process): where the library is looked for, what is logged, and
// what makes the answer false.
#include "platform/paths.h"
#include "platform/process.h"
#include "vsktest/StandIn.h"
#include "vsktest/TempDir.h"
#include "vsktest/WideText.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr char PROBE_SOURCE_SUFFIX[] = " {.\\ParserLibrary,";

// The child is built into <build>/probe.
fs::path ChildProgram()
{
    return vsktest::LocateBuildOutput("probe", fs::path(VSK_PROBE_CHILD).filename(), VSK_PROBE_CHILD);
}

// A child in a directory of its own, optionally with the library beside it.
class CProbeRun {
public:
    explicit CProbeRun(bool libraryBesideChild, bool broken = false)
    {
        m_child = m_dir / fs::path(VSK_PROBE_CHILD).filename();
        fs::copy_file(ChildProgram(), m_child);
        if (libraryBesideChild)
            vsktest::CopyStandInTo(m_dir.Path(), broken);
    }

    int Run(const std::vector<std::wstring>& directories)
    {
        platform::CChildProcess child;
        EXPECT_TRUE(child.Start(vsktest::WideFromPath(m_child), directories));
        return child.Wait();
    }

    std::vector<std::string> DebugLines() const
    {
        std::vector<std::string> lines;
        std::ifstream in(m_dir / "vesk.log", std::ios::binary);
        std::string line;
        while (std::getline(in, line)) {
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            const auto at = line.find("[DBG] ");
            if (at != std::string::npos)
                lines.push_back(line.substr(at));
        }
        return lines;
    }

private:
    vsktest::CTempDir m_dir;
    fs::path m_child;
};

std::string PathLine(const fs::path& library)
{
    return "[DBG] [SpecifiedExtensionPath][DelayLoad](path:" + vsktest::ToUtf8(vsktest::WideFromPath(library)) + ")";
}

bool StartsWith(const std::string& text, const std::string& prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

// Sets an environment variable for the children started while it lives.
class CScopedVariable {
public:
    CScopedVariable(const wchar_t* name, const wchar_t* value) : m_name(name) { platform::SetEnvironment(name, value); }
    ~CScopedVariable() { platform::SetEnvironment(m_name, nullptr); }

private:
    const wchar_t* m_name;
};

TEST(ParserProbe, LoadsFromTheConfiguredDirectory)
{
    vsktest::CTempDir configured;
    const fs::path library = vsktest::CopyStandInTo(configured.Path());
    for (const bool trailing : {false, true}) {
        CProbeRun run(false);
        std::wstring dir = vsktest::WideFromPath(configured.Path());
        if (trailing)
            dir += platform::PATH_SEPARATOR;
        EXPECT_EQ(run.Run({dir}), 1);
        const auto lines = run.DebugLines();
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_TRUE(StartsWith(lines[0], PathLine(library) + PROBE_SOURCE_SUFFIX)) << lines[0];
    }
}

TEST(ParserProbe, FallsBackToTheComponentsDirectory)
{
    vsktest::CTempDir withoutLibrary;
    for (const std::wstring& dir : {std::wstring(), vsktest::WideFromPath(withoutLibrary.Path())}) {
        CProbeRun run(true);
        EXPECT_EQ(run.Run({dir.empty() ? L"" : dir}), 1);
        const auto lines = run.DebugLines();
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_TRUE(StartsWith(lines[0], std::string("[DBG] [SpecifiedExtensionPath][DelayLoad] no extension path") +
                                             PROBE_SOURCE_SUFFIX))
            << lines[0];
    }
}

TEST(ParserProbe, LibraryNowhereAnswersFalse)
{
    CProbeRun run(false);
    EXPECT_EQ(run.Run({L""}), 0);
}

TEST(ParserProbe, OnlyTheFirstProbeCounts)
{
    vsktest::CTempDir configured;
    vsktest::CopyStandInTo(configured.Path());
    vsktest::CTempDir empty;
    {
        CProbeRun run(false);
        EXPECT_EQ(run.Run({vsktest::WideFromPath(empty.Path()), vsktest::WideFromPath(configured.Path())}), 0);
    }
    {
        CProbeRun run(false);
        EXPECT_EQ(run.Run({vsktest::WideFromPath(configured.Path()), vsktest::WideFromPath(empty.Path())}), 3);
        EXPECT_EQ(run.DebugLines().size(), 1u);
    }
}

TEST(ParserProbe, LibraryThatCannotMakeAParserAnswersFalse)
{
    {
        CScopedVariable failing(L"VSK_STANDIN_CREATE_RESULT", L"0x80004005");
        CProbeRun run(true);
        EXPECT_EQ(run.Run({L""}), 0);
    }
    {
        CScopedVariable noObject(L"VSK_STANDIN_CREATE_NULL", L"1");
        CProbeRun run(true);
        EXPECT_EQ(run.Run({L""}), 0);
    }
    {
        // Loads, but lacks GetTimeSeekPosition.
        CProbeRun run(true, true);
        EXPECT_EQ(run.Run({L""}), 0);
    }
}

}  // namespace
