// The media server's reading of requests, apart from any socket: which file a
// request target names, and what its Range and TimeSeekRange.dlna.org headers
// ask for; and the DLNA texts of the answers.
//
// Choices made here:
// - A request names one file directly inside the served folder: "/NAME" with
//   NAME percent-decoded once. Anything else (a second path segment, an
//   encoded slash or backslash, "." or "..", a drive or stream colon, control
//   characters, Windows device names such as CON or NUL, a name ending in a
//   dot or blank, which Windows would silently strip) is no file of the
//   folder. Links are followed only when they stay inside it (the server
//   checks that on the resolved path).
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
//   milliseconds; digits beyond the third decimal are dropped. "now" and
//   anything else are malformed (400).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace mediahost::http {

// %XX escapes decoded ('+' stays '+': paths carry no form encoding, and query
// values are decoded with plusIsSpace). False for a broken escape or an
// encoded NUL.
bool PercentDecode(std::string_view text, std::string& out, bool plusIsSpace = false);
// Every byte but unreserved characters escaped (for links).
std::string PercentEncode(std::string_view text);

// Splits "/NAME?QUERY". False when the target does not name a single file of
// the folder; `name` is then empty.
bool RequestedFile(std::string_view target, std::string& name, std::string& query);
bool IsSafeFileName(std::string_view name);
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

// contentFeatures.dlna.org for an entry: PN when there is a name, OP with the
// time-seek and range flags, CI and FLAGS.
std::string ContentFeatures(std::string_view profileName, bool timeSeek);

}  // namespace mediahost::http
