// The media resource's decisions, apart from files and converters: what a
// request for a recording asks for, what is refused and why, and the head
// of the answer once the seeks have landed. The media resource does the
// opening, seeking and reading around these.
//
// Answers:
//   200 the whole recording; 206 a Range; 200 with TimeSeekRange.dlna.org
//       for a time seek.
//   400 a malformed Range, TimeSeekRange.dlna.org or PlaySpeed.dlna.org, the
//       same range header twice, a time seek ending before its start,
//       getcontentFeatures.dlna.org other than 1, an unknown transfer mode.
//   406 a time seek on a resource without one (a profile without time seek,
//       a duration the component does not know, a recording served as a
//       plain file), PlaySpeed.dlna.org other than 1.
//   416 a range past the end (with Content-Range: bytes */SIZE), a time past
//       the duration, a time range that holds no whole video unit.
//
// Choices made here:
// - Range together with TimeSeekRange.dlna.org: the byte range is served
//   and the time seek ignored (and logged), as peers do; some TVs send both
//   and mean the bytes.
// - transferMode.dlna.org Interactive is served, and answered Streaming:
//   every resource here is a video, streamed (some TVs ask Interactive for
//   video all the same). Background is answered Background.
// - A time seek with an end time: the body ends right before the video unit
//   that the component's time seek finds for the end time, the unit whose
//   presentation is the last not later than the end. A client that asks for
//   "npt=A-B" and then "npt=B-" gets the bytes of "npt=A-" without a gap or
//   a byte twice; an end at or past the duration runs to the end of the
//   file. When that unit is the one the body starts at, the range holds no
//   whole unit and is refused (416) rather than answered with no body.
//   The answer's npt range names the end time asked for.
// - Every media answer carries realTimeInfo.dlna.org: DLNA.ORG_TLAG=*
//   (recordings, no live lag) and, when the client sent PlaySpeed.dlna.org,
//   PlaySpeed.dlna.org: speed=1.
#pragma once

#include "Exchange.h"

#include <cstdint>
#include <optional>
#include <string>

namespace mediahost::server {

struct SMediaFacts {
    std::int64_t size = 0;                    // the bytes served
    std::optional<std::uint32_t> durationMs;  // known to the source
    bool timeSeek = false;                    // the resource offers time seek (and the duration is known)
    std::string mimeType;
    std::string profileName;  // the DLNA.ORG_PN a client sees; empty for none
};

struct SMediaPlan {
    std::optional<SAnswer> refusal;  // when set, the whole answer
    enum EKind { WHOLE, BYTES, TIME } kind = WHOLE;
    std::int64_t first = 0;  // BYTES: the range, both ends included
    std::int64_t last = 0;
    std::uint32_t startMs = 0;  // TIME: within the duration
    std::optional<std::uint32_t> endMs;
    std::string transferMode = "Streaming";
    bool playSpeed = false;  // the client asked with PlaySpeed.dlna.org (speed 1)
    std::string notes;       // what the log line adds: what was ignored or answered otherwise
};
SMediaPlan PlanMedia(const SRequest& request, const SMediaFacts& facts);

// Where a TIME plan's seeks landed.
struct STimeSeekFound {
    std::int64_t first = 0;           // the byte the time seek found for the start
    std::uint32_t foundMs = 0;        // the play time at that byte
    std::optional<std::int64_t> end;  // the byte found for the end time, when one before the duration was asked
};

struct SMediaHead {
    SAnswer answer;  // status, content type, headers, log; a refusal when `length` is unset
    std::int64_t first = 0;
    std::optional<std::int64_t> length;  // bytes of the body from `first`
};
// The head of the answer to a plan that was not refused; `found` only for
// TIME plans.
SMediaHead MediaHead(const SMediaPlan& plan, const SMediaFacts& facts, const STimeSeekFound& found = {});

}  // namespace mediahost::server
