#include "MediaRequest.h"

#include "Dispatcher.h"
#include "HttpRules.h"

#include <algorithm>
#include <cctype>

namespace mediahost::server {
namespace {

std::size_t Count(const SRequest& request, std::string_view name)
{
    return static_cast<std::size_t>(
        std::count_if(request.headers.begin(), request.headers.end(), [&](const auto& header) {
            return header.first.size() == name.size() &&
                   std::equal(header.first.begin(), header.first.end(), name.begin(), [](char a, char b) {
                       return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
                   });
        }));
}

SMediaPlan Refused(unsigned status, const std::string& why, SHeaders headers = {})
{
    SMediaPlan plan;
    plan.refusal = Refusal(status, why, std::move(headers));
    return plan;
}

std::string Note(const std::string& notes, const std::string& more)
{
    return notes.empty() ? more : notes + "; " + more;
}

}  // namespace

SMediaPlan PlanMedia(const SRequest& request, const SMediaFacts& facts)
{
    SMediaPlan plan;
    if (const auto asked = request.Header("getcontentFeatures.dlna.org"); asked && *asked != "1")
        return Refused(400, "getcontentFeatures.dlna.org other than 1");

    if (const auto mode = request.Header("transferMode.dlna.org")) {
        switch (http::ParseTransferMode(*mode)) {
        case http::ETransferMode::STREAMING:
            break;
        case http::ETransferMode::INTERACTIVE:
            plan.notes = Note(plan.notes, "transfer mode Interactive served as Streaming (a video)");
            break;
        case http::ETransferMode::BACKGROUND:
            plan.transferMode = "Background";
            break;
        case http::ETransferMode::UNKNOWN:
            return Refused(400, "unknown transfer mode " + std::string(*mode));
        }
    }

    if (const auto speed = request.Header("PlaySpeed.dlna.org")) {
        const http::SPlaySpeed parsed = http::ParsePlaySpeed(*speed);
        if (!parsed.valid)
            return Refused(400, "malformed PlaySpeed.dlna.org");
        if (!parsed.normal)
            return Refused(406, "play speed other than 1 (" + std::string(*speed) + ")");
        plan.playSpeed = true;
    }

    const std::size_t ranges = Count(request, "Range");
    const std::size_t timeSeeks = Count(request, "TimeSeekRange.dlna.org");
    if (ranges > 1 || timeSeeks > 1)
        return Refused(400, "the same range header twice");

    if (ranges == 1) {
        const http::SByteRange range = http::ParseRange(*request.Header("Range"), facts.size);
        if (range.kind == http::SByteRange::MALFORMED)
            return Refused(400, "malformed or multiple Range");
        if (range.kind == http::SByteRange::UNSATISFIABLE)
            return Refused(416, "range past the end", {{"Content-Range", "bytes */" + std::to_string(facts.size)}});
        plan.kind = SMediaPlan::BYTES;
        plan.first = range.first;
        plan.last = range.last;
        if (timeSeeks == 1)
            plan.notes = Note(plan.notes, "TimeSeekRange.dlna.org ignored: Range given too");
        return plan;
    }

    if (timeSeeks == 1) {
        if (!facts.timeSeek || !facts.durationMs)
            return Refused(406, facts.durationMs ? "this resource has no time seek"
                                                 : "time seek with an unknown duration");
        const http::STimeRange range = http::ParseTimeSeekRange(*request.Header("TimeSeekRange.dlna.org"));
        if (!range.valid)
            return Refused(400, "malformed TimeSeekRange.dlna.org");
        const std::uint32_t duration = *facts.durationMs;
        if (range.startMs > duration || (range.endMs && *range.endMs > duration))
            return Refused(416, "time past the duration of " + http::FormatNpt(duration) + " s");
        if (range.endMs && *range.endMs < range.startMs)
            return Refused(400, "time seek end before its start");
        plan.kind = SMediaPlan::TIME;
        plan.startMs = static_cast<std::uint32_t>(range.startMs);
        if (range.endMs)
            plan.endMs = static_cast<std::uint32_t>(*range.endMs);
    }
    return plan;
}

SMediaHead MediaHead(const SMediaPlan& plan, const SMediaFacts& facts, const STimeSeekFound& found)
{
    SMediaHead head;
    SAnswer& answer = head.answer;
    answer.contentType = facts.mimeType;
    answer.headers = {
        {"contentFeatures.dlna.org", http::ContentFeatures(facts.profileName, facts.timeSeek)},
        {"transferMode.dlna.org", plan.transferMode},
        {"realTimeInfo.dlna.org", "DLNA.ORG_TLAG=*"},
        {"Accept-Ranges", "bytes"},
    };
    if (plan.playSpeed)
        answer.headers.emplace_back("PlaySpeed.dlna.org", "speed=1");

    const std::string size = std::to_string(facts.size);
    switch (plan.kind) {
    case SMediaPlan::WHOLE:
        head.first = 0;
        head.length = facts.size;
        answer.log = std::to_string(facts.size) + " bytes";
        break;
    case SMediaPlan::BYTES: {
        head.first = plan.first;
        head.length = plan.last - plan.first + 1;
        const std::string value = "bytes " + std::to_string(plan.first) + "-" + std::to_string(plan.last) + "/" + size;
        answer.status = 206;
        answer.headers.emplace_back("Content-Range", value);
        answer.log = value;
        break;
    }
    case SMediaPlan::TIME: {
        const std::uint32_t duration = facts.durationMs.value_or(0);
        const std::int64_t first = std::clamp<std::int64_t>(found.first, 0, facts.size);
        const std::int64_t end = std::clamp<std::int64_t>(found.end.value_or(facts.size), 0, facts.size);
        if (end <= first) {
            head.answer = Refusal(416, "the time range holds no whole video unit (both ends at byte " +
                                           std::to_string(first) + ")");
            return head;
        }
        head.first = first;
        head.length = end - first;
        const std::string value = "npt=" + http::FormatNpt(found.foundMs) + "-" +
                                  http::FormatNpt(plan.endMs.value_or(duration)) + "/" + http::FormatNpt(duration) +
                                  " bytes=" + std::to_string(first) + "-" + std::to_string(end - 1) + "/" + size;
        answer.headers.emplace_back("TimeSeekRange.dlna.org", value);
        answer.log = value;
        break;
    }
    }
    answer.log += " as " + (facts.profileName.empty() ? facts.mimeType : facts.profileName);
    if (!plan.notes.empty())
        answer.log += " (" + plan.notes + ")";
    return head;
}

}  // namespace mediahost::server
