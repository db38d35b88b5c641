// The media server's reading of requests, apart from any socket: which
// recording a request target names, what its Range, TimeSeekRange.dlna.org,
// PlaySpeed.dlna.org and transferMode.dlna.org headers ask for; and the DLNA
// texts of the answers.
//
// Choices made here:
// - Targets come in origin form ("/media/a.ts?x") or in absolute form
//   ("http://host:port/media/a.ts?x", which HTTP/1.1 servers must take as
//   well as proxies); the authority of the absolute form is not compared
//   with this server's, since a client behind a NAT or a name may see another
//   one. Any other form is a bad request, but for OPTIONS' "*".
// - A recording is "/media/" and its path below the served folder, one
//   percent-encoded segment per folder or file name. A segment must decode
//   to a name the folder could hold and serve: valid UTF-8 (an overlong or
//   broken sequence such as %C0%AE or %FF names nothing, and would not
//   convert to a Windows name), not "." or "..", not hidden (a leading dot),
//   no slash or backslash (so no encoded %2F), no drive or stream colon, no
//   control characters, no Windows device name such as CON or NUL, no
//   trailing dot or blank (which Windows would silently strip), at most 255
//   bytes, and at most 32 segments. Links are the folder rules' business:
//   they are checked on the opened file.
// - Range: one range, "bytes=A-B", "bytes=A-" or "bytes=-N". A last byte past
//   the end is cut to the end; "-N" larger than the file is the whole file.
//   A first byte at or past the end, N = 0, or an empty file are
//   unsatisfiable (416). A malformed value, A > B, or several ranges are a bad
//   request (400): this server sends no multipart answers, and a client that
//   cannot phrase its range gets told so rather than a whole file it did not
//   expect.
// - TimeSeekRange: "npt=S-" or "npt=S-E", each time either seconds with an
//   optional fraction ("12", "12.5") or h:mm:ss with an optional fraction
//   ("0:01:02.345", minutes and seconds below 60). Times are counted in whole
//   milliseconds; digits beyond the third decimal are dropped. Every number
//   saturates, hours before they are multiplied, so a huge time stays huge
//   (and lies past every duration) instead of wrapping into a small one.
//   "now" and anything else are malformed (400).
// - PlaySpeed: "speed=N" or "speed=N/D", N with an optional minus. Only the
//   normal speed (N = D) is served; the value is malformed when D is 0.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mediahost::http {

// %XX escapes decoded ('+' stays '+': paths carry no form encoding, and query
// values are decoded with plusIsSpace). False for a broken escape or an
// encoded NUL.
bool PercentDecode(std::string_view text, std::string& out, bool plusIsSpace = false);
// Every byte but unreserved characters escaped (for links).
std::string PercentEncode(std::string_view text);

// The path and query of a request target in origin or absolute form; false
// for any other form ("*" comes back as the path "*").
bool SplitTarget(std::string_view target, std::string& path, std::string& query);

// Where the recordings are, below the served folder.
inline constexpr std::string_view MEDIA_PREFIX = "/media/";
inline constexpr std::size_t MAX_SEGMENTS = 32;

// A name of the folder that may be offered, by the rules above.
bool IsServableName(std::string_view name);
// The decoded segments below MEDIA_PREFIX of a (still encoded) path; false
// when the path does not start with it or any segment is no servable name.
bool MediaSegments(std::string_view path, std::vector<std::string>& segments);
// The path of a recording by its segments below the folder: MEDIA_PREFIX and
// each segment percent-encoded, joined by '/'. The one URL form of a
// recording, for the listing, the directory and the media resource alike.
std::string MediaPath(const std::vector<std::string>& segments);

// The decoded value of key in a query string; nullopt when absent or broken.
std::optional<std::string> QueryValue(std::string_view query, std::string_view key);

struct SByteRange {
    enum EKind { VALID, UNSATISFIABLE, MALFORMED } kind = MALFORMED;
    std::int64_t first = 0;
    std::int64_t last = 0;
};
SByteRange ParseRange(std::string_view value, std::int64_t size);

// One npt time in milliseconds; false when malformed.
bool ParseNptTime(std::string_view text, std::uint64_t& ms);
struct STimeRange {
    bool valid = false;
    std::uint64_t startMs = 0;
    std::optional<std::uint64_t> endMs;
};
STimeRange ParseTimeSeekRange(std::string_view value);
// Seconds with three decimals: 1234 -> "1.234".
std::string FormatNpt(std::uint64_t ms);

struct SPlaySpeed {
    bool valid = false;
    bool normal = false;  // exactly 1
};
SPlaySpeed ParsePlaySpeed(std::string_view value);

enum class ETransferMode { STREAMING, INTERACTIVE, BACKGROUND, UNKNOWN };
ETransferMode ParseTransferMode(std::string_view value);

// The primary flags of DLNA.ORG_FLAGS, by bit (the other 96 bits of the
// field are reserved, zero).
namespace dlna {
inline constexpr std::uint32_t SENDER_PACED = 1u << 31;
inline constexpr std::uint32_t LIMITED_TIME_SEEK = 1u << 30;
inline constexpr std::uint32_t LIMITED_BYTE_SEEK = 1u << 29;
inline constexpr std::uint32_t STREAMING_TRANSFER = 1u << 24;
inline constexpr std::uint32_t INTERACTIVE_TRANSFER = 1u << 23;
inline constexpr std::uint32_t BACKGROUND_TRANSFER = 1u << 22;
inline constexpr std::uint32_t HTTP_STALLING = 1u << 21;
inline constexpr std::uint32_t DLNA_V15 = 1u << 20;
// What every resource of this server offers. Streaming and background
// transfers are served; a client may stall the connection mid-body (pause)
// as long as it likes, since bodies are written without a time-out.
inline constexpr std::uint32_t SERVED_FLAGS = STREAMING_TRANSFER | BACKGROUND_TRANSFER | HTTP_STALLING | DLNA_V15;
}  // namespace dlna
// The 32 hex digits of DLNA.ORG_FLAGS.
std::string DlnaFlags(std::uint32_t primary);

// contentFeatures.dlna.org for an entry: PN when there is a name, OP with the
// time-seek and range flags, CI and FLAGS. Also the fourth field of the
// entry's protocolInfo.
std::string ContentFeatures(std::string_view profileName, bool timeSeek);

// An HTTP date (IMF-fixdate, always GMT) of seconds since 1970.
std::string HttpDate(std::int64_t unixSeconds);

}  // namespace mediahost::http
