// The media host: the component at work on real recordings, as a media
// server uses it.
//
//   VskMediaHost probe FILE... [--json]
//   VskMediaHost profiles [--vendor] [--parser-dir DIR]
//   VskMediaHost classify FILE... [--json]
//   VskMediaHost stream FILE --profile NAME [--seek-bytes N | --seek-time T] [-o OUT]
//   VskMediaHost serve DIR [--port P] [--bind ADDR] [--name NAME] [--no-discovery]
//
// Every command takes --component PATH (the component library; default:
// beside this program, else <build>/component), --parser-dir DIR (the parser
// library's folder, handed to the component as its setting; default: beside
// this program, else <build>/parser), --vendor (vendor names for AVC
// profiles) and --registered (on Windows, the component registered with
// regsvr32 and found through the registry, as a media server finds it; by
// default it is found beside this program through the program's manifest,
// with nothing registered). Exit codes: 0 done, 1 a file or the component
// refused, 2 usage.
#include "ComponentHost.h"
#include "HttpRules.h"
#include "MediaServer.h"
#include "TextEscape.h"
#include "Utf8.h"
#include "platform/com_holders.h"
#include "platform/process.h"
#include "platform/terminal.h"

#include <CLI/CLI.hpp>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <optional>
#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace mediahost;
namespace fs = std::filesystem;

// ---------------------------------------------------------------------------
// Output helpers.

std::string Fraction(std::uint32_t numerator, std::uint32_t denominator)
{
    return std::to_string(numerator) + "/" + std::to_string(denominator);
}

std::string Seconds(std::uint64_t ms)
{
    return http::FormatNpt(ms) + " s";
}

const char* CategoryName(std::uint32_t category)
{
    return category == VSK_PROBE_STREAM_VIDEO ? "video" : category == VSK_PROBE_STREAM_AUDIO ? "audio" : "other";
}

std::string ProbeJson(const SRecording& r)
{
    const SVskStreamProbe& p = r.probe;
    std::ostringstream o;
    o << "{\"file\": " << JsonString(Utf8FromPath(r.path)) << ", \"result\": " << JsonString(HResultMessage(r.probeResult));
    if (r.probeResult == VSK_PARSER_RESULT_OK) {
        o << ", \"streamKind\": " << p.streamKind << ", \"packetFormat\": " << p.packetFormat
          << ", \"fileSize\": " << p.fileSize << ", \"durationMs\": " << p.durationMs << ", \"bitRate\": " << p.bitRate
          << ", \"programCount\": " << p.programCount << ", \"streams\": [";
        const std::uint32_t count = std::min(p.streamCount, VSK_PROBE_MAX_STREAMS);
        for (std::uint32_t i = 0; i < count; ++i) {
            const SVskProbeStream& s = p.streams[i];
            o << (i ? ", " : "") << "{\"category\": \"" << CategoryName(s.category) << "\", \"codec\": \""
              << CodecName(s.codec) << "\", \"programIndex\": " << s.programIndex
              << ", \"programNumber\": " << s.programNumber << ", \"pid\": " << s.pid
              << ", \"streamType\": " << s.streamType << ", \"streamId\": " << s.streamId
              << ", \"bitRate\": " << s.bitRate << ", \"bitRateMeasured\": " << s.bitRateMeasured;
            if (s.category == VSK_PROBE_STREAM_VIDEO)
                o << ", \"width\": " << s.width << ", \"height\": " << s.height << ", \"frameRate\": \""
                  << Fraction(s.frameRateNumerator, s.frameRateDenominator) << "\", \"displayAspect\": \""
                  << Fraction(s.displayAspectNumerator, s.displayAspectDenominator) << "\", \"sampleAspect\": \""
                  << Fraction(s.sampleAspectNumerator, s.sampleAspectDenominator) << "\", \"profile\": " << s.profile
                  << ", \"level\": " << s.level << ", \"progressive\": " << s.progressive;
            if (s.category == VSK_PROBE_STREAM_AUDIO)
                o << ", \"channels\": " << s.channels << ", \"samplingRate\": " << s.samplingRate
                  << ", \"layer\": " << s.layer;
            o << "}";
        }
        o << "]";
    }
    o << "}";
    return o.str();
}

void PrintProbe(const SRecording& r)
{
    const SVskStreamProbe& p = r.probe;
    std::printf("%s\n", Utf8FromPath(r.path).c_str());
    if (r.probeResult != VSK_PARSER_RESULT_OK) {
        std::printf("  probe failed: %s\n", HResultMessage(r.probeResult).c_str());
        return;
    }
    std::printf("  %s, %lld bytes, %s, %.3f Mbit/s, %u program(s)\n", PacketFormatName(p.packetFormat),
                static_cast<long long>(p.fileSize), Seconds(p.durationMs).c_str(), p.bitRate / 1e6, p.programCount);
    const std::uint32_t count = std::min(p.streamCount, VSK_PROBE_MAX_STREAMS);
    for (std::uint32_t i = 0; i < count; ++i) {
        const SVskProbeStream& s = p.streams[i];
        std::printf("  program %u pid 0x%04X %-5s %-10s", s.programNumber, s.pid, CategoryName(s.category),
                    CodecName(s.codec));
        if (s.category == VSK_PROBE_STREAM_VIDEO) {
            std::printf(" %ux%u %s fps, aspect %s (samples %s), profile %u level %u, %s", s.width, s.height,
                        Fraction(s.frameRateNumerator, s.frameRateDenominator).c_str(),
                        Fraction(s.displayAspectNumerator, s.displayAspectDenominator).c_str(),
                        Fraction(s.sampleAspectNumerator, s.sampleAspectDenominator).c_str(), s.profile, s.level,
                        s.progressive ? "progressive" : "interlaced");
        } else if (s.category == VSK_PROBE_STREAM_AUDIO) {
            std::printf(" %u ch, %u Hz", s.channels, s.samplingRate);
            if (s.layer != 0)
                std::printf(", layer %u", s.layer);
        }
        if (s.bitRate != 0)
            std::printf(", %.3f Mbit/s%s", s.bitRate / 1e6, s.bitRateMeasured ? " (measured)" : "");
        std::printf("\n");
    }
}

std::string TargetJson(const STarget& t)
{
    std::ostringstream o;
    o << std::boolalpha << "{\"profileName\": " << JsonString(t.profileName) << ", \"alternativeName\": " << JsonString(t.alternativeName)
      << ", \"mimeType\": " << JsonString(t.mimeType) << ", \"flag1\": " << t.flag1 << ", \"timeSeek\": " << t.flag2
      << ", \"flag3\": " << t.flag3 << "}";
    return o.str();
}

void PrintTarget(std::size_t index, const STarget& t)
{
    std::printf("  %2zu  %-22s %-26s time seek %-3s%s\n", index, t.profileName.empty() ? "-" : t.profileName.c_str(),
                t.mimeType.c_str(), t.flag2 ? "yes" : "no",
                t.alternativeName.empty() ? "" : ("  alternative " + t.alternativeName).c_str());
}

std::string FactsJson(const SItemFacts& f)
{
    std::ostringstream o;
    o << std::boolalpha << "{\"size\": " << f.size << ", \"durationMs\": " << f.durationMs << ", \"bitRate\": " << f.bitRate
      << ", \"packetFormat\": " << f.packetFormat << ", \"videoStreamCount\": " << f.videoStreamCount
      << ", \"audioStreamCount\": " << f.audioStreamCount;
    if (f.video)
        o << ", \"video\": {\"codec\": \"" << (f.video->avc ? "avc" : "mpeg2") << "\", \"profile\": " << f.video->profile
          << ", \"level\": " << f.video->level << ", \"aspectRatioCode\": " << f.video->aspectRatioCode
          << ", \"bitRateFlag\": " << (f.video->bitRateFlag == VARIANT_TRUE)
          << ", \"primaryBitRate\": " << f.video->primaryBitRate << ", \"frameRate\": " << f.video->frameRate
          << ", \"width\": " << f.video->width << ", \"height\": " << f.video->height << "}";
    if (f.audio)
        o << ", \"audio\": {\"kind\": \""
          << (f.audio->kind == EAudioKind::AC3 ? "ac3" : f.audio->kind == EAudioKind::MPEG ? "mpeg" : "other")
          << "\", \"sampleRate\": " << f.audio->sampleRate << ", \"channels\": " << f.audio->channels
          << ", \"bitRate\": " << f.audio->bitRate << "}";
    o << "}";
    return o.str();
}

void PrintFacts(const SItemFacts& f)
{
    std::printf("  host media item: packet format %ld, %lld bytes, %ld ms, %ld bit/s, %ld video / %ld audio stream(s)\n",
                static_cast<long>(f.packetFormat), static_cast<long long>(f.size), static_cast<long>(f.durationMs),
                static_cast<long>(f.bitRate), static_cast<long>(f.videoStreamCount),
                static_cast<long>(f.audioStreamCount));
    if (f.video)
        std::printf("    %s video: %ldx%ld, %.3f fps, profile %ld, level %ld, aspect code %ld, bit rate %ld (%s)\n",
                    f.video->avc ? "AVC" : "MPEG-2", static_cast<long>(f.video->width),
                    static_cast<long>(f.video->height), f.video->frameRate, static_cast<long>(f.video->profile),
                    static_cast<long>(f.video->level), static_cast<long>(f.video->aspectRatioCode),
                    static_cast<long>(f.video->primaryBitRate),
                    f.video->bitRateFlag == VARIANT_TRUE ? "stated" : "measured");
    if (f.audio)
        std::printf("    %s audio: %ld Hz, %ld channel(s), %ld bit/s\n",
                    f.audio->kind == EAudioKind::AC3 ? "AC-3" : f.audio->kind == EAudioKind::MPEG ? "MPEG" : "other",
                    static_cast<long>(f.audio->sampleRate), static_cast<long>(f.audio->channels),
                    static_cast<long>(f.audio->bitRate));
}

// ---------------------------------------------------------------------------
// Commands.

struct SCommon {
    std::string component;
    std::string parserDir;
    bool vendor = false;
    bool registered = false;

    void AddTo(CLI::App& command)
    {
        command.add_flag("--registered", registered,
                         "register the component (regsvr32) and create it through the registry");
        command.add_option("--component", component, "the component library (default: beside this program)");
        command.add_option("--parser-dir", parserDir, "the parser library's folder, handed to the component");
        command.add_flag("--vendor", vendor, "vendor profile names for AVC entries");
    }
};

// COM on this thread and the component started, or the reason on stderr.
class CSession {
public:
    bool Start(const SCommon& common)
    {
        if (FAILED(m_com.Result())) {
            std::fprintf(stderr, "error: COM could not be initialised: %s\n", HResultMessage(m_com.Result()).c_str());
            return false;
        }
        SHostOptions options;
        options.component = PathFromUtf8(common.component);
        options.parserDir = PathFromUtf8(common.parserDir);
        options.vendor = common.vendor;
        options.registered = common.registered;
        m_host = std::make_unique<CComponentHost>();
        std::string why;
        if (!m_host->Start(options, why)) {
            std::fprintf(stderr, "error: %s\n", why.c_str());
            return false;
        }
        return true;
    }
    CComponentHost& Host() { return *m_host; }

private:
    CComThread m_com;
    std::unique_ptr<CComponentHost> m_host;  // released before COM is
};

// Runs `each` (host, file, first) on every file, inside one JSON array when
// json; the exit code is 1 when any of them answered false.
template <class Each>
int OverFiles(const SCommon& common, const std::vector<std::string>& files, bool json, Each each)
{
    CSession session;
    if (!session.Start(common))
        return 1;
    int status = 0;
    if (json)
        std::printf("[");
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (json)
            std::printf("%s\n", i ? "," : "");
        if (!each(session.Host(), files[i]))
            status = 1;
    }
    if (json)
        std::printf("]\n");
    return status;
}

int Probe(const SCommon& common, const std::vector<std::string>& files, bool json)
{
    return OverFiles(common, files, json, [&](CComponentHost& host, const std::string& file) {
        const SRecording r = host.Describe(PathFromUtf8(file));
        if (json)
            std::printf("%s", ProbeJson(r).c_str());
        else
            PrintProbe(r);
        return r.probeResult == VSK_PARSER_RESULT_OK;
    });
}

int Profiles(const SCommon& common)
{
    CSession session;
    if (!session.Start(common))
        return 1;
    std::vector<STarget> targets;
    const HRESULT hr = session.Host().SupportedProfiles(targets);
    if (FAILED(hr)) {
        std::fprintf(stderr, "error: GetSupportedProfiles failed: %s\n", HResultMessage(hr).c_str());
        return 1;
    }
    std::printf("%zu profiles (%s names)\n", targets.size(), common.vendor ? "vendor" : "DLNA");
    for (std::size_t i = 0; i < targets.size(); ++i)
        PrintTarget(i + 1, targets[i]);
    return 0;
}

int Classify(const SCommon& common, const std::vector<std::string>& files, bool json)
{
    return OverFiles(common, files, json, [&](CComponentHost& host, const std::string& file) {
        const SRecording r = host.Describe(PathFromUtf8(file));
        std::vector<STarget> targets;
        const HRESULT hr = host.SourceProfiles(r, targets);
        std::vector<SProperty> properties;
        const HRESULT propertiesHr =
            SUCCEEDED(hr) && !targets.empty() ? host.MediaProperties(r, targets.front(), properties) : S_OK;
        const bool ok = SUCCEEDED(hr) && SUCCEEDED(propertiesHr);
        if (json) {
            std::printf("{\"file\": %s, \"probe\": %s, \"result\": %s, \"facts\": %s, \"profiles\": [",
                        JsonString(file).c_str(), JsonString(HResultMessage(r.probeResult)).c_str(),
                        JsonString(HResultMessage(hr)).c_str(), FactsJson(r.facts).c_str());
            for (std::size_t t = 0; t < targets.size(); ++t)
                std::printf("%s%s", t ? ", " : "", TargetJson(targets[t]).c_str());
            std::printf("], \"properties\": {");
            for (std::size_t p = 0; p < properties.size(); ++p)
                std::printf("%s%s: %s", p ? ", " : "", JsonString(properties[p].first).c_str(),
                            JsonString(properties[p].second).c_str());
            std::printf("}}");
            return ok;
        }
        std::printf("%s\n", file.c_str());
        if (r.probeResult != VSK_PARSER_RESULT_OK)
            std::printf("  probe failed (%s): the item carries no stream facts\n", HResultMessage(r.probeResult).c_str());
        else
            PrintFacts(r.facts);
        if (FAILED(hr)) {
            std::printf("  GetSourceProfiles refused: %s\n", HResultMessage(hr).c_str());
            return ok;
        }
        std::printf("  source profiles offered:\n");
        for (std::size_t t = 0; t < targets.size(); ++t)
            PrintTarget(t + 1, targets[t]);
        if (targets.empty())
            std::printf("   (none)\n");
        if (!properties.empty()) {
            std::printf("  media properties:\n");
            for (const auto& [name, value] : properties)
                std::printf("    %-16s %s\n", name.c_str(), value.c_str());
        }
        return ok;
    });
}

// Bytes, rate and time left on one line of standard error.
class CProgress {
public:
    CProgress(std::int64_t total) : m_total(total), m_enabled(platform::IsTerminal(stderr)) {}

    void Update(std::int64_t done, bool last = false)
    {
        if (!m_enabled)
            return;
        const auto now = std::chrono::steady_clock::now();
        if (!last && now - m_shown < std::chrono::milliseconds(100))
            return;
        m_shown = now;
        const double seconds = std::chrono::duration<double>(now - m_start).count();
        const double rate = seconds > 0 ? done / seconds : 0;
        const double fraction = m_total > 0 ? static_cast<double>(done) / m_total : 0;
        const int filled = static_cast<int>(fraction * 30);
        const double left = rate > 0 && m_total > done ? (m_total - done) / rate : 0;
        std::fprintf(stderr, "\r[%-30s] %6.1f / %.1f MiB  %6.1f MiB/s  %3.0f s left ", std::string(filled, '#').c_str(),
                     done / 1048576.0, m_total / 1048576.0, rate / 1048576.0, left);
        if (last)
            std::fprintf(stderr, "\n");
        std::fflush(stderr);
    }

private:
    std::int64_t m_total;
    bool m_enabled;
    std::chrono::steady_clock::time_point m_start = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point m_shown{};
};

int Refused(const char* what, HRESULT hr)
{
    std::fprintf(stderr, "error: %s refused: %s\n", what, HResultMessage(hr).c_str());
    return 1;
}

int Stream(const SCommon& common, const std::string& file, const std::string& profile,
           const std::optional<long long>& seekBytes, const std::optional<std::string>& seekTime,
           const std::string& output)
{
    std::uint64_t seekMs = 0;
    if (seekTime && !http::ParseNptTime(*seekTime, seekMs)) {
        std::fprintf(stderr, "error: --seek-time takes seconds (12.5) or h:mm:ss(.sss), not %s\n", seekTime->c_str());
        return 2;
    }
    CSession session;
    if (!session.Start(common))
        return 1;
    const SRecording r = session.Host().Describe(PathFromUtf8(file));
    if (r.probeResult != VSK_PARSER_RESULT_OK)
        std::fprintf(stderr, "warning: probe failed (%s): the item carries no stream facts\n",
                     HResultMessage(r.probeResult).c_str());
    std::vector<STarget> targets;
    HRESULT hr = session.Host().SourceProfiles(r, targets);
    if (FAILED(hr))
        return Refused("GetSourceProfiles", hr);
    const auto chosen = std::find_if(targets.begin(), targets.end(), [&](const STarget& t) { return t.Answers(profile); });
    if (chosen == targets.end()) {
        std::fprintf(stderr, "error: %s is not offered for %s; offered:\n", profile.c_str(), file.c_str());
        for (std::size_t t = 0; t < targets.size(); ++t)
            std::fprintf(stderr, "  %s%s (%s)\n", targets[t].profileName.empty() ? "\"\"" : targets[t].profileName.c_str(),
                         targets[t].alternativeName.empty() ? "" : (" / " + targets[t].alternativeName).c_str(),
                         targets[t].mimeType.c_str());
        return 1;
    }
    CComPtr<IVskMediaTranscoder> converter;
    hr = session.Host().OpenConverter(r, *chosen, converter);
    if (FAILED(hr))
        return Refused("Open", hr);
    LONGLONG size = -1;
    converter->GetSize(&size);
    std::int64_t position = 0;
    if (seekBytes) {
        hr = converter->SeekByBytes(*seekBytes);
        if (FAILED(hr))
            return Refused("SeekByBytes", hr);
        position = *seekBytes;
    } else if (seekTime) {
        ULONG found = 0;
        LONGLONG at = -1;
        hr = converter->SeekByTime(static_cast<ULONG>(std::min<std::uint64_t>(seekMs, 0xFFFFFFFFu)), &found, &at);
        if (FAILED(hr))
            return Refused("SeekByTime", hr);
        std::fprintf(stderr, "time seek: asked %s, found %lu ms at byte %lld\n", Seconds(seekMs).c_str(),
                     static_cast<unsigned long>(found), static_cast<long long>(at));
        position = at;
    }
    hr = converter->Start();
    if (FAILED(hr))
        return Refused("Start", hr);

    std::ofstream fileOut;
    if (output.empty() || output == "-") {
        if (platform::IsTerminal(stdout)) {
            std::fprintf(stderr, "error: standard output is a terminal; name a file with -o\n");
            return 2;
        }
        platform::SetBinaryMode(stdout);
    } else {
        fileOut.open(PathFromUtf8(output), std::ios::binary | std::ios::trunc);
        if (!fileOut) {
            std::fprintf(stderr, "error: cannot write %s\n", output.c_str());
            return 1;
        }
    }
    auto write = [&](const BYTE* data, std::size_t n) {
        if (fileOut.is_open())
            return static_cast<bool>(fileOut.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(n)));
        return std::fwrite(data, 1, n, stdout) == n;
    };
    CProgress progress(size > position ? size - position : 0);
    std::int64_t written = 0;
    for (;;) {
        SAFEARRAY* data = nullptr;
        VARIANT_BOOL end = VARIANT_FALSE;
        hr = converter->Read(NextReadCount(position + written, size, r.facts.packetFormat >= 2), &data, &end);
        if (FAILED(hr))
            return Refused("Read", hr);
        CComSafeArray<BYTE> bytes;
        bytes.Attach(data);
        if (bytes.GetCount() != 0 && !write(bytes.GetData(), bytes.GetCount())) {
            std::fprintf(stderr, "error: writing the output failed\n");
            return 1;
        }
        written += bytes.GetCount();
        progress.Update(written);
        if (end == VARIANT_TRUE)
            break;
    }
    progress.Update(written, true);
    converter->Close();
    if (fileOut.is_open() ? !fileOut.flush() : std::fflush(stdout) != 0) {
        std::fprintf(stderr, "error: writing the output failed\n");
        return 1;
    }
    std::fprintf(stderr, "wrote %lld bytes as %s (%s)\n", static_cast<long long>(written),
                 chosen->DlnaName().empty() ? "-" : chosen->DlnaName().c_str(), chosen->mimeType.c_str());
    return 0;
}

int ServeCommand(const SCommon& common, SServeOptions options)
{
    CSession session;
    if (!session.Start(common))
        return 1;
    return Serve(session.Host(), options);
}

}  // namespace

int main(int argc, char** argv)
{
    CLI::App app{"VskMediaHost: probe, classify, stream and serve recordings through the component"};
    app.set_version_flag("--version", std::string("VskMediaHost ") + VSK_VERSION);
    app.require_subcommand(1);

    SCommon common;
    std::vector<std::string> files;
    bool json = false;

    CLI::App* probe = app.add_subcommand("probe", "the stream facts of each recording, one block per file");
    probe->add_option("FILE", files, "recordings")->required();
    probe->add_flag("--json", json, "machine-readable output");
    common.AddTo(*probe);

    CLI::App* profiles = app.add_subcommand("profiles", "the component's catalogue, with each entry's time-seek flag");
    common.AddTo(*profiles);

    CLI::App* classify = app.add_subcommand("classify", "the source profiles and media properties the component gives each recording");
    classify->add_option("FILE", files, "recordings")->required();
    classify->add_flag("--json", json, "machine-readable output");
    common.AddTo(*classify);

    std::string file;
    std::string profile;
    long long seekBytes = 0;
    std::string seekTime;
    std::string output;
    CLI::App* stream = app.add_subcommand("stream", "write what a converter delivers for one profile, from a seek on");
    stream->add_option("FILE", file, "the recording")->required();
    stream->add_option("--profile", profile, "profile name or alternative name, as classify lists it")->required();
    CLI::Option* bytesOption = stream->add_option("--seek-bytes", seekBytes, "start at this byte");
    CLI::Option* timeOption = stream->add_option("--seek-time", seekTime, "start at this play time: seconds (12.5) or h:mm:ss(.sss)");
    bytesOption->excludes(timeOption);
    stream->add_option("-o,--output", output, "output file (default: standard output, not a terminal)");
    common.AddTo(*stream);

    SServeOptions serveOptions;
    std::string folder;
    unsigned timeout = 30;
    unsigned headerTimeout = 10;
    bool noDiscovery = false;
    CLI::App* serve = app.add_subcommand("serve", "DLNA media server of a folder's recordings, with byte and time seek");
    serve->add_option("DIR", folder, "the folder")->required();
    serve->add_option("--port", serveOptions.port, "TCP port; 0 picks a free one")->capture_default_str();
    serve->add_option("--bind", serveOptions.bind, "address to listen on; 0.0.0.0 for the whole network")
        ->capture_default_str();
    serve->add_option("--name", serveOptions.friendlyName, "the name clients show (default: VskMediaHost on HOSTNAME)");
    serve->add_flag("--no-discovery", noDiscovery, "do not announce the server on the network (SSDP)");
    serve->add_option("--timeout", timeout, "seconds a connection may stay idle between requests")->capture_default_str();
    serve->add_option("--header-timeout", headerTimeout, "seconds a request's head may take to arrive")
        ->capture_default_str();
    common.AddTo(*serve);

    try {
        // UTF-8 whatever the system's code page: a folder or a --name
        // beyond it arrives whole. CLI11 takes the list last first.
        const std::vector<std::string> arguments = platform::Utf8Arguments(argc, argv);
        std::vector<std::string> reversed(arguments.rbegin(), arguments.rend());
        if (!reversed.empty())
            reversed.pop_back();  // the program
        app.parse(reversed);
    } catch (const CLI::ParseError& e) {
        return app.exit(e) == 0 ? 0 : 2;
    }

    try {
        if (probe->parsed())
            return Probe(common, files, json);
        if (profiles->parsed())
            return Profiles(common);
        if (classify->parsed())
            return Classify(common, files, json);
        if (stream->parsed())
            return Stream(common, file, profile,
                          bytesOption->count() ? std::optional<long long>(seekBytes) : std::nullopt,
                          timeOption->count() ? std::optional<std::string>(seekTime) : std::nullopt, output);
        if (serve->parsed()) {
            serveOptions.folder = PathFromUtf8(folder);
            serveOptions.timeout = std::chrono::seconds(timeout == 0 ? 1 : timeout);
            serveOptions.headerTimeout = std::chrono::seconds(headerTimeout == 0 ? 1 : headerTimeout);
            serveOptions.discovery = !noDiscovery;
            return ServeCommand(common, serveOptions);
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "error: %s\n", e.what());
        return 1;
    } catch (const CAtlException& e) {
        std::fprintf(stderr, "error: %s\n", HResultMessage(e.m_hr).c_str());
        return 1;
    }
    return 2;
}
