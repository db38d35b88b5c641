#include "Listing.h"

#include "FolderRules.h"
#include "HttpRules.h"
#include "MediaTypes.h"
#include "RecordingCache.h"
#include "TextEscape.h"

#include <algorithm>
#include <sstream>

namespace mediahost::server {
namespace {

namespace fs = std::filesystem;

std::string DescribeFacts(const SRecording& recording)
{
    if (recording.probeResult != VSK_PARSER_RESULT_OK)
        return "no probe facts (" + HResultMessage(recording.probeResult) + ")";
    const SVskStreamProbe& p = recording.probe;
    std::ostringstream out;
    out << (p.durationMs / 1000) << "." << (p.durationMs % 1000) / 100 << " s";
    const std::uint32_t count = std::min(p.streamCount, VSK_PROBE_MAX_STREAMS);
    for (std::uint32_t i = 0; i < count; ++i) {
        const SVskProbeStream& s = p.streams[i];
        if (s.category == VSK_PROBE_STREAM_VIDEO) {
            out << ", " << CodecName(s.codec) << " " << s.width << "x" << s.height;
            if (s.frameRateDenominator != 0)
                out << " " << static_cast<double>(s.frameRateNumerator) / s.frameRateDenominator << " fps";
        } else if (s.category == VSK_PROBE_STREAM_AUDIO) {
            out << ", " << CodecName(s.codec) << " " << s.channels << " ch " << s.samplingRate << " Hz";
        }
    }
    return out.str();
}

std::string Link(const std::string& href, const std::string& text)
{
    return "<a href=\"" + EscapeMarkup(href) + "\">" + EscapeMarkup(text) + "</a>";
}

}  // namespace

SAnswer Listing(const SLibrary& library, const SRequest&)
{
    std::string html =
        "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Recordings</title></head><body>\n"
        "<h1>Recordings</h1>\n<table border=\"1\" cellpadding=\"4\">\n"
        "<tr><th>file</th><th>size</th><th>facts</th><th>profiles</th></tr>\n";
    const std::vector<fs::path> files = library.rules.Recordings(LISTING_MAX_RECORDINGS);
    for (const fs::path& file : files) {
        const std::vector<std::string> segments = library.rules.Segments(file);
        const std::string path = http::MediaPath(segments);
        std::string name;
        for (const std::string& segment : segments)
            name += (name.empty() ? "" : "/") + segment;
        const SRecording recording = library.cache.Recording(file);
        std::vector<STarget> targets;
        const HRESULT listed = library.host.SourceProfiles(recording, targets);
        std::error_code ec;
        html += "<tr><td>" + EscapeMarkup(name) + "</td><td>" + std::to_string(fs::file_size(file, ec)) + "</td><td>" +
                EscapeMarkup(DescribeFacts(recording)) + "</td><td>";
        if (FAILED(listed) || targets.empty())
            html += Link(path, "as it is") + " " + EscapeMarkup(std::string(RecordingMimeType(file).value_or(""))) +
                    ", no profile of the component<br>";
        for (const STarget& t : targets) {
            const std::string query = t.DlnaName().empty() ? "" : "?profile=" + http::PercentEncode(t.DlnaName());
            html += Link(path + query, t.DlnaName().empty() ? "(no profile name)" : t.DlnaName()) + " " +
                    EscapeMarkup(t.mimeType) + (t.flag2 ? ", time seek" : "") + "<br>";
        }
        html += "</td></tr>\n";
    }
    html += "</table>\n</body></html>\n";

    SAnswer answer;
    answer.contentType = "text/html; charset=utf-8";
    answer.body = std::move(html);
    answer.log = "listing of " + std::to_string(files.size()) + " recording(s)";
    return answer;
}

}  // namespace mediahost::server
