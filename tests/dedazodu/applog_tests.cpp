#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <set>

#include "dedazodu/AppLog.h"
#include "dedazodu/Levels.h"
#include "log_test_support.h"
#include "vsktest/Environment.h"
#include "platform/paths.h"
#include "platform/process.h"

using namespace deDazOdu;
using namespace vsk_log_test;

namespace {

namespace fs = std::filesystem;

const char APP_CONFIG[] = "vesk.middle.VeskMpeg2Transcoder.applog.xml";
const wchar_t APP_NAME[] = L"vesk.middle.VeskMpeg2Transcoder";

std::string Config(int minLevel, int maxLevel, const char* subject = "Default")
{
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<LOG4VESK>\r\n"
           "  <FACTORY name=\"IOutputLogSystemFactory\" class=\"deDazOdu::Null::COutputLogSystemFactory\"/>\r\n"
           "  <FILTERLIST>\r\n    <FILTER subject=\"" +
           std::string(subject) + "\" minLevel=\"" + std::to_string(minLevel) + "\" maxLevel=\"" +
           std::to_string(maxLevel) + "\"/>\r\n  </FILTERLIST>\r\n</LOG4VESK>\r\n";
}

// A copy of the child program in its own directory: the configuration and
// "vesk.log" live next to that copy only.
class CChildHome {
public:
    CChildHome() : m_exe(m_dir.File(L"host" + fs::path(ChildProgram()).extension().wstring()))
    {
        fs::copy_file(fs::path(ChildProgram()), fs::path(m_exe));
    }
    std::wstring File(const std::wstring& name) const { return m_dir.File(name); }
    const std::wstring& Exe() const { return m_exe; }

    // Starts the child; returns it so several can run at once.
    std::unique_ptr<platform::CChildProcess> Start(const std::wstring& appName, int threads, int lines,
                                                   const std::wstring& tag, const std::wstring& mode = L"") const
    {
        auto child = std::make_unique<platform::CChildProcess>();
        if (!child->Start(m_exe, {appName, std::to_wstring(threads), std::to_wstring(lines), tag, mode})) {
            return nullptr;
        }
        return child;
    }
    int Run(const std::wstring& appName, int threads, int lines, const std::wstring& tag) const
    {
        auto child = Start(appName, threads, lines, tag);
        return child ? child->Wait() : -100;
    }
    std::size_t FileCount() const
    {
        return static_cast<std::size_t>(std::distance(fs::directory_iterator(m_dir.Path()), fs::directory_iterator()));
    }

private:
    CTempDir m_dir;
    std::wstring m_exe;
};

struct SLine {
    std::string stamp;
    unsigned long pid = 0;
    std::string tid;
    std::string text;
};

// Parses "[YYYY/MM/DD hh:mm:ss.mmm][PID][TID] text"; false when malformed.
bool ParseLine(const std::string& line, SLine& parsed)
{
    static const std::regex FORMAT(R"(\[(\d{4}/\d{2}/\d{2} \d{2}:\d{2}:\d{2}\.\d{3})\]\[([0-9A-F]+)\]\[([0-9A-F]{8})\] (.*))");
    std::smatch match;
    if (!std::regex_match(line, match, FORMAT)) {
        return false;
    }
    parsed.stamp = match[1];
    parsed.pid = std::stoul(match[2], nullptr, 16);
    parsed.tid = match[3];
    parsed.text = match[4];
    return true;
}

}  // namespace

TEST(AppLog, ConfigurationNamedAfterTheApplicationWritesVeskLog)
{
    CChildHome home;
    WriteFile(home.File(fs::path(APP_CONFIG).wstring()), Config(1, 1));
    auto child = home.Start(APP_NAME, 1, 2, L"solo");
    ASSERT_TRUE(child);
    const unsigned long pid = child->Id();
    ASSERT_EQ(child->Wait(), 0);

    const std::vector<std::string> lines = SplitLines(ReadFile(home.File(L"vesk.log")));
    ASSERT_EQ(lines.size(), 5u);  // banner, then only the [ERR] lines: the filter is 1 to 1
    std::vector<SLine> parsed(lines.size());
    for (std::size_t i = 0; i < lines.size(); ++i) {
        ASSERT_TRUE(ParseLine(lines[i], parsed[i])) << lines[i];
        EXPECT_EQ(parsed[i].pid, pid);
    }
    EXPECT_EQ(parsed[0].text, std::string(79, '-'));
    EXPECT_EQ(parsed[1].text, Narrow(home.Exe()));
    EXPECT_EQ(parsed[2].text, std::string(79, '-'));
    EXPECT_EQ(parsed[0].stamp, parsed[1].stamp);
    EXPECT_EQ(parsed[1].stamp, parsed[2].stamp);
    EXPECT_LE(parsed[2].stamp, parsed[3].stamp);  // started before it wrote
    EXPECT_EQ(parsed[3].text, "[ERR] solo t0 n0 {src\\child.cpp,77}");
    EXPECT_EQ(parsed[4].text, "[ERR] solo t0 n1 {src\\child.cpp,77}");
    EXPECT_EQ(ReadFile(home.File(L"vesk.log")).substr(ReadFile(home.File(L"vesk.log")).size() - 2), "\r\n");

    // A second run appends under a banner of its own.
    ASSERT_EQ(home.Run(APP_NAME, 1, 1, L"again"), 0);
    const std::vector<std::string> more = SplitLines(ReadFile(home.File(L"vesk.log")));
    ASSERT_EQ(more.size(), 9u);
    SLine last;
    ASSERT_TRUE(ParseLine(more[8], last));
    EXPECT_EQ(last.text, "[ERR] again t0 n0 {src\\child.cpp,77}");
}

TEST(AppLog, FallbackConfigurationAndDebugLevel)
{
    CChildHome home;
    WriteFile(home.File(L"l4v.applog.xml"), Config(0, 4));
    ASSERT_EQ(home.Run(L"some.other.Application", 1, 1, L"fb"), 0);
    const std::vector<std::string> lines = SplitLines(ReadFile(home.File(L"vesk.log")));
    ASSERT_EQ(lines.size(), 5u);
    SLine error;
    SLine debug;
    ASSERT_TRUE(ParseLine(lines[3], error));
    ASSERT_TRUE(ParseLine(lines[4], debug));
    EXPECT_EQ(error.text, "[ERR] fb t0 n0 {src\\child.cpp,77}");
    EXPECT_EQ(debug.text, "[DBG] fb t0 n0 {child.cpp,78}");
}

TEST(AppLog, NothingIsWrittenWithoutAMatchingConfiguration)
{
    {
        CChildHome home;
        ASSERT_EQ(home.Run(APP_NAME, 1, 3, L"none"), 0);
        EXPECT_FALSE(Exists(home.File(L"vesk.log")));
        EXPECT_EQ(home.FileCount(), 1u);  // the program alone: no log, no trace file
    }
    {
        CChildHome home;
        WriteFile(home.File(fs::path(APP_CONFIG).wstring()), Config(0, 4, "Other"));
        ASSERT_EQ(home.Run(APP_NAME, 1, 3, L"other"), 0);
        EXPECT_FALSE(Exists(home.File(L"vesk.log")));
    }
    {
        // Named after a different application, and no fallback.
        CChildHome home;
        WriteFile(home.File(fs::path(APP_CONFIG).wstring()), Config(0, 4));
        ASSERT_EQ(home.Run(L"another.App", 1, 3, L"mismatch"), 0);
        EXPECT_FALSE(Exists(home.File(L"vesk.log")));
    }
}

TEST(AppLog, NullLogWritesNothing)
{
    CAppLog* log = nullptr;
    std::wostringstream message;
    message << L"[ERR] x";
    WriteAppLog(log, message, LOG_LEVEL_ERROR, "f.cpp", 1);
    EXPECT_EQ(message.str(), L"[ERR] x");
    DestroyAppLog(log);  // harmless on null
}

// Two processes of different environments (an interactive host and a
// service, say) meet under one file mutex: no line is lost or cut into.
TEST(AppLog, TwoProcessesWithThreadsShareOneFileWithoutLosingLines)
{
    CChildHome home;
    WriteFile(home.File(fs::path(APP_CONFIG).wstring()), Config(1, 1));
    const int threads = 4;
    const int perThread = 1000;  // 2 processes x 4 threads x 1,000 = 8,000 lines
    const CTempDir runtime;
    std::unique_ptr<platform::CChildProcess> a;
    {
        const vsktest::CScopedEnvironment xdg("XDG_RUNTIME_DIR", runtime.Path());
        const vsktest::CScopedEnvironment tmp("TMPDIR", runtime.Path());
        a = home.Start(APP_NAME, threads, perThread, L"A");
    }
    auto b = home.Start(APP_NAME, threads, perThread, L"B");
    ASSERT_TRUE(a && b);
    const std::map<unsigned long, std::string> tags {{a->Id(), "A"}, {b->Id(), "B"}};
    ASSERT_EQ(a->Wait(), 0);
    ASSERT_EQ(b->Wait(), 0);

    const std::string content = ReadFile(home.File(L"vesk.log"));
    ASSERT_EQ(content.substr(content.size() - 2), "\r\n");
    const std::vector<std::string> lines = SplitLines(content);
    ASSERT_EQ(lines.size(), 2u * threads * perThread + 6);
    std::set<std::string> seen;
    std::map<unsigned long, std::vector<std::string>> banners;
    std::map<unsigned long, std::size_t> messages;
    for (const std::string& line : lines) {
        SLine parsed;
        ASSERT_TRUE(ParseLine(line, parsed)) << line;
        ASSERT_EQ(tags.count(parsed.pid), 1u) << line;
        if (parsed.text.rfind("[ERR] ", 0) != 0) {
            EXPECT_EQ(messages[parsed.pid], 0u) << "banner after a message: " << line;
            banners[parsed.pid].push_back(parsed.text);
            continue;
        }
        static const std::regex MESSAGE(R"(\[ERR\] ([AB]) t(\d) n(\d+) \{src\\child\.cpp,77\})");
        std::smatch match;
        ASSERT_TRUE(std::regex_match(parsed.text, match, MESSAGE)) << line;
        EXPECT_EQ(match[1].str(), tags.at(parsed.pid));
        EXPECT_TRUE(seen.insert(parsed.text).second) << "twice: " << line;
        ++messages[parsed.pid];
    }
    EXPECT_EQ(seen.size(), 2u * threads * perThread);
    for (const auto& [pid, tag] : tags) {
        EXPECT_EQ(messages[pid], static_cast<std::size_t>(threads * perThread)) << tag;
        EXPECT_EQ(banners[pid], (std::vector<std::string> {std::string(79, '-'), Narrow(home.Exe()), std::string(79, '-')}))
            << tag;
    }
}

// A process may exit while other threads still log: what the library holds
// for the process stays in place for them.
TEST(AppLog, ProcessExitsWhileThreadsLog)
{
    CChildHome home;
    WriteFile(home.File(fs::path(APP_CONFIG).wstring()), Config(1, 1));
    // What such a process leaves in place is no leak, and a leak check that
    // stops every thread while they log is not what this test is about.
    const vsktest::CScopedEnvironment noLeakCheck("ASAN_OPTIONS", "detect_leaks=0:abort_on_error=1");
    for (int run = 0; run < 16; ++run) {
        auto child = home.Start(APP_NAME, 8, 20, L"X", L"exit");
        ASSERT_TRUE(child);
        EXPECT_EQ(child->Wait(), 0) << run;
    }
}
