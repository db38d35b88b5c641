#include "Didl.h"

#include "HttpRules.h"
#include "MediaTypes.h"
#include "TextEscape.h"
#include "Utf8.h"

#include <array>
#include <ctime>
#include <mutex>

namespace mediahost::server {
namespace {

constexpr std::string_view DIDL_HEAD =
    "<DIDL-Lite xmlns=\"urn:schemas-upnp-org:metadata-1-0/DIDL-Lite/\" "
    "xmlns:dc=\"http://purl.org/dc/elements/1.1/\" "
    "xmlns:upnp=\"urn:schemas-upnp-org:metadata-1-0/upnp/\" "
    "xmlns:dlna=\"urn:schemas-dlna-org:metadata-1-0/\">";
constexpr std::string_view DIDL_TAIL = "</DIDL-Lite>";

// The media properties the component names, and the res attribute each
// becomes (the same names, in DIDL-Lite's order).
struct SResAttribute {
    std::string_view property;
    bool duration;  // written in DIDL-Lite's duration form
};
constexpr std::array<SResAttribute, 6> RES_ATTRIBUTES{{
    {"size", false},
    {"duration", true},
    {"bitrate", false},
    {"resolution", false},
    {"nrAudioChannels", false},
    {"sampleFrequency", false},
}};

std::string Attribute(std::string_view name, std::string_view value)
{
    std::string text = " ";
    text += name;
    text += "=\"" + EscapeMarkup(value) + "\"";
    return text;
}

std::string Element(std::string_view name, std::string_view value)
{
    std::string text = "<";
    text += name;
    text += ">" + EscapeMarkup(value) + "</";
    text += name;
    text += ">";
    return text;
}

std::string LocalDate(std::int64_t seconds)
{
    // localtime's buffer is shared on some C libraries.
    static std::mutex lock;
    const std::time_t time = static_cast<std::time_t>(seconds);
    std::lock_guard guard(lock);
    const std::tm* local = std::localtime(&time);
    if (local == nullptr)
        return {};
    char text[32] = "";
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", local);
    return text;
}

void AppendContainer(std::string& out, const SObject& object)
{
    out += "<container" + Attribute("id", object.id) + Attribute("parentID", object.parentId) +
           Attribute("restricted", "1") + Attribute("searchable", "0") +
           Attribute("childCount", std::to_string(object.childCount)) + ">";
    out += Element("dc:title", object.title);
    out += Element("upnp:class", "object.container.storageFolder");
    out += Element("upnp:storageUsed", "-1");
    out += "</container>";
}

void AppendItem(std::string& out, const SObject& object, std::string_view host)
{
    out += "<item" + Attribute("id", object.id) + Attribute("parentID", object.parentId) +
           Attribute("restricted", "1") + ">";
    out += Element("dc:title", object.title);
    out += Element("upnp:class", "object.item.videoItem");
    const std::string date = LocalDate(object.modified);
    if (!date.empty())
        out += Element("dc:date", date);
    const std::string origin = "http://" + std::string(host);
    const SDescription* description = object.description.get();
    const bool durationKnown = description != nullptr && description->recording.facts.durationMs >= 0;
    if (description == nullptr || description->offers.empty()) {
        const std::string mime(RecordingMimeType(PathFromUtf8(object.relative)).value_or("application/octet-stream"));
        out += "<res" + Attribute("protocolInfo", ProtocolInfo(mime, "", false)) +
               Attribute("size", std::to_string(object.size)) + ">" +
               EscapeMarkup(origin + MediaPath(object.relative, nullptr)) + "</res>";
    } else {
        for (const SOffer& offer : description->offers) {
            out += "<res" + Attribute("protocolInfo", ProtocolInfo(offer.mimeType, offer.DlnaName(),
                                                                   offer.timeSeek && durationKnown));
            for (const SResAttribute& row : RES_ATTRIBUTES) {
                for (const auto& [name, value] : offer.properties) {
                    if (name != row.property)
                        continue;
                    const std::string text = row.duration ? DidlDuration(value) : value;
                    if (!text.empty())
                        out += Attribute(row.property, text);
                    break;
                }
            }
            out += ">" + EscapeMarkup(origin + MediaPath(object.relative, &offer.DlnaName())) + "</res>";
        }
    }
    out += "</item>";
}

}  // namespace

std::string ProtocolInfo(std::string_view mimeType, std::string_view profileName, bool timeSeek)
{
    return "http-get:*:" + std::string(mimeType) + ":" + http::ContentFeatures(profileName, timeSeek);
}

std::string MediaPath(std::string_view relative, const std::string* profile)
{
    std::vector<std::string> segments;
    for (std::size_t at = 0; at <= relative.size();) {
        const std::size_t slash = std::min(relative.find('/', at), relative.size());
        segments.emplace_back(relative.substr(at, slash - at));
        at = slash + 1;
    }
    std::string path = http::MediaPath(segments);
    if (profile != nullptr)
        path += "?profile=" + http::PercentEncode(*profile);
    return path;
}

std::string DidlDuration(std::string_view duration)
{
    // HH...:MM:SS.mmm
    const std::size_t colon = duration.find(':');
    if (colon == std::string_view::npos || colon == 0 || duration.size() != colon + 10)
        return {};
    auto digits = [&](std::size_t from, std::size_t count) {
        for (std::size_t i = from; i < from + count; ++i)
            if (duration[i] < '0' || duration[i] > '9')
                return false;
        return true;
    };
    if (!digits(0, colon) || !digits(colon + 1, 2) || duration[colon + 3] != ':' || !digits(colon + 4, 2) ||
        duration[colon + 6] != '.' || !digits(colon + 7, 3))
        return {};
    std::size_t first = 0;
    while (first + 1 < colon && duration[first] == '0')
        ++first;
    return std::string(duration.substr(first));
}

std::string DidlDocument(const std::vector<SObject>& objects, std::string_view host)
{
    std::string out(DIDL_HEAD);
    for (const SObject& object : objects) {
        if (object.container)
            AppendContainer(out, object);
        else
            AppendItem(out, object, host);
    }
    out += DIDL_TAIL;
    return out;
}

}  // namespace mediahost::server
