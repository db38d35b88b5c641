// The server's reading of request targets and range headers, one table per
// rule. The end-to-end test runs the same requests through curl against the
// running server; these pin the edge values a client rarely sends.
#include "ComponentHost.h"
#include "HttpRules.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace mediahost::http;

TEST(HttpRules, RequestTargetsInOriginAndAbsoluteForm)
{
    struct SRow {
        const char* target;
        const char* path;  // nullptr: refused
        const char* query;
    };
    const SRow rows[] = {
        {"/media/a.ts?profile=X", "/media/a.ts", "profile=X"},
        {"/", "/", ""},
        {"http://192.168.1.5:8280/media/a.ts?profile=X", "/media/a.ts", "profile=X"},
        {"HTTP://host/media/a.ts", "/media/a.ts", ""},
        {"https://host", "/", ""},
        {"http://host?x=1", "/", "x=1"},
        {"*", "*", ""},
        {"http:///media/a.ts", nullptr, ""},
        {"ftp://host/a.ts", nullptr, ""},
        {"media/a.ts", nullptr, ""},
        {"", nullptr, ""},
    };
    for (const SRow& row : rows) {
        std::string path;
        std::string query;
        const bool ok = SplitTarget(row.target, path, query);
        EXPECT_EQ(ok, row.path != nullptr) << row.target;
        if (ok && row.path != nullptr) {
            EXPECT_EQ(path, row.path) << row.target;
            EXPECT_EQ(query, row.query) << row.target;
        }
    }
}

TEST(HttpRules, MediaPathsNameServableNamesBelowTheFolder)
{
    struct SRow {
        const char* path;
        std::vector<std::string> segments;  // empty: refused
    };
    const SRow rows[] = {
        {"/media/show.ts", {"show.ts"}},
        {"/media/my%20show.m2ts", {"my show.m2ts"}},
        {"/media/%C3%A9t%C3%A9/a+b.ts", {"\xC3\xA9t\xC3\xA9", "a+b.ts"}},
        {"/media/2024/05/news.ts", {"2024", "05", "news.ts"}},
        {"/media/", {}},
        {"/media", {}},
        {"/show.ts", {}},
        {"/media//show.ts", {}},
        {"/media/sub/", {}},
        {"/media/../etc/passwd", {}},
        {"/media/sub/../show.ts", {}},
        {"/media/%2e%2e", {}},
        {"/media/..%2f..%2fetc", {}},
        {"/media/..%5c..%5cwindows", {}},
        {"/media/a%2Fb.ts", {}},
        {"/media/C:%5Cwindows%5Cwin.ini", {}},
        {"/media/show.ts%00.txt", {}},
        {"/media/show%zz.ts", {}},
        {"/media/show.ts%", {}},
        // Not UTF-8: a lone byte, and ".." written as overlong sequences.
        {"/media/%FF.ts", {}},
        {"/media/%C0%AE%C0%AE", {}},
        {"/media/%ED%A0%80.ts", {}},
        {"/media/.hidden.ts", {}},
        {"/media/.config/show.ts", {}},
        {"/media/CON", {}},
        {"/media/sub/nul.ts", {}},
        {"/media/com1.txt", {}},
        {"/media/show.ts.", {}},
        {"/media/show.ts%20", {}},
        {"/media/file:stream", {}},
    };
    for (const SRow& row : rows) {
        std::vector<std::string> segments;
        const bool ok = MediaSegments(row.path, segments);
        EXPECT_EQ(ok, !row.segments.empty()) << row.path;
        EXPECT_EQ(segments, row.segments) << row.path;
        // The URL form written for the names reads back as the same names.
        if (ok) {
            std::vector<std::string> again;
            EXPECT_TRUE(MediaSegments(MediaPath(segments), again)) << row.path;
            EXPECT_EQ(again, segments) << row.path;
        }
    }
    std::vector<std::string> segments;
    std::string deep = "/media";
    for (std::size_t i = 0; i < MAX_SEGMENTS; ++i)
        deep += "/d";
    EXPECT_TRUE(MediaSegments(deep, segments));
    EXPECT_FALSE(MediaSegments(deep + "/d", segments));
}

TEST(HttpRules, QueryValues)
{
    EXPECT_EQ(QueryValue("profile=AVC_TS_HD_60_AC3", "profile"), "AVC_TS_HD_60_AC3");
    EXPECT_EQ(QueryValue("x=1&profile=A%5FB&y", "profile"), "A_B");
    EXPECT_EQ(QueryValue("profile=", "profile"), "");
    EXPECT_EQ(QueryValue("profiles=1", "profile"), std::nullopt);
    EXPECT_EQ(QueryValue("profile=%4", "profile"), std::nullopt);
}

TEST(HttpRules, ByteRanges)
{
    using K = SByteRange;
    struct SRow {
        const char* value;
        std::int64_t size;
        K::EKind kind;
        std::int64_t first, last;
    };
    const SRow rows[] = {
        {"bytes=0-99", 1000, K::VALID, 0, 99},
        {"bytes=100-", 1000, K::VALID, 100, 999},
        {"bytes=-100", 1000, K::VALID, 900, 999},
        {"bytes=-5000", 1000, K::VALID, 0, 999},
        {"bytes=990-5000", 1000, K::VALID, 990, 999},
        {"bytes=999-999", 1000, K::VALID, 999, 999},
        {"BYTES = 1-2", 1000, K::VALID, 1, 2},
        {"bytes=1000-", 1000, K::UNSATISFIABLE, 0, 0},
        {"bytes=1000-2000", 1000, K::UNSATISFIABLE, 0, 0},
        {"bytes=99999999999999999999999-", 1000, K::UNSATISFIABLE, 0, 0},
        {"bytes=-0", 1000, K::UNSATISFIABLE, 0, 0},
        {"bytes=0-", 0, K::UNSATISFIABLE, 0, 0},
        {"bytes=5-4", 1000, K::MALFORMED, 0, 0},
        {"bytes=0-1,5-6", 1000, K::MALFORMED, 0, 0},
        {"bytes=-", 1000, K::MALFORMED, 0, 0},
        {"bytes=a-b", 1000, K::MALFORMED, 0, 0},
        {"items=0-1", 1000, K::MALFORMED, 0, 0},
        {"bytes 0-1", 1000, K::MALFORMED, 0, 0},
        {"bytes=+1-2", 1000, K::MALFORMED, 0, 0},
    };
    for (const SRow& row : rows) {
        const SByteRange range = ParseRange(row.value, row.size);
        EXPECT_EQ(range.kind, row.kind) << row.value;
        if (row.kind == K::VALID) {
            EXPECT_EQ(range.first, row.first) << row.value;
            EXPECT_EQ(range.last, row.last) << row.value;
        }
    }
}

TEST(HttpRules, TimeSeekRanges)
{
    struct SRow {
        const char* value;
        bool valid;
        std::uint64_t start;
        std::optional<std::uint64_t> end;
    };
    const SRow rows[] = {
        {"npt=0-", true, 0, std::nullopt},
        {"npt=12.5-", true, 12500, std::nullopt},
        {"npt=1.2345-2", true, 1234, 2000},
        {"npt=0:01:02.345-0:01:03", true, 62345, 63000},
        {"npt=10:00:00-", true, 36000000, std::nullopt},
        {" npt = 3 - 4 ", true, 3000, 4000},
        {"NPT=3-", true, 3000, std::nullopt},
        {"npt=3", false, 0, std::nullopt},
        {"npt=-3", false, 0, std::nullopt},
        {"npt=now-", false, 0, std::nullopt},
        {"npt=1:2:3-", false, 0, std::nullopt},
        {"npt=0:60:00-", false, 0, std::nullopt},
        {"npt=0:00:60-", false, 0, std::nullopt},
        {"npt=1.-", false, 0, std::nullopt},
        {"npt=.5-", false, 0, std::nullopt},
        {"npt=1e3-", false, 0, std::nullopt},
        {"bytes=0-", false, 0, std::nullopt},
        {"npt=3-x", false, 0, std::nullopt},
    };
    // Hours so large that in milliseconds they would wrap past 2^64 stay
    // past every duration a converter can have (2^32 ms).
    for (const char* huge : {"npt=3007844103129863:00:00-", "npt=99999999999999999999:00:00-", "npt=5124095576030432-"}) {
        const STimeRange range = ParseTimeSeekRange(huge);
        EXPECT_TRUE(range.valid) << huge;
        EXPECT_GT(range.startMs, 0xFFFFFFFFull) << huge;
    }
    for (const SRow& row : rows) {
        const STimeRange range = ParseTimeSeekRange(row.value);
        EXPECT_EQ(range.valid, row.valid) << row.value;
        if (row.valid) {
            EXPECT_EQ(range.startMs, row.start) << row.value;
            EXPECT_EQ(range.endMs, row.end) << row.value;
        }
    }
    EXPECT_EQ(FormatNpt(0), "0.000");
    EXPECT_EQ(FormatNpt(62345), "62.345");
}

TEST(HttpRules, PlaySpeeds)
{
    struct SRow {
        const char* value;
        bool valid;
        bool normal;
    };
    const SRow rows[] = {
        {"speed=1", true, true},         {" SPEED = 1 ", true, true}, {"speed=2/2", true, true},
        {"speed=2", true, false},        {"speed=-1", true, false},   {"speed=1/2", true, false},
        {"speed=-1/2", true, false},     {"speed=0", true, false},    {"speed=1/0", false, false},
        {"speed=", false, false},        {"speed=fast", false, false}, {"rate=1", false, false},
        {"speed=1.0", false, false},     {"speed=--1", false, false},
        {"speed=99999999999999999999/99999999999999999999", true, false},
    };
    for (const SRow& row : rows) {
        const SPlaySpeed speed = ParsePlaySpeed(row.value);
        EXPECT_EQ(speed.valid, row.valid) << row.value;
        EXPECT_EQ(speed.normal, row.normal) << row.value;
    }
}

TEST(HttpRules, ContentFeaturesAnnounceWhatTheServerDoes)
{
    EXPECT_EQ(ContentFeatures("MPEG_TS_HD_NA_ISO", true).rfind("DLNA.ORG_PN=MPEG_TS_HD_NA_ISO;DLNA.ORG_OP=11;DLNA.ORG_CI=0;"
                                                               "DLNA.ORG_FLAGS=", 0),
              0u);
    const std::string plain = ContentFeatures("", false);
    ASSERT_EQ(plain.rfind("DLNA.ORG_OP=01;DLNA.ORG_CI=0;DLNA.ORG_FLAGS=", 0), 0u) << plain;
    // The flags field: 32 hex digits, the primary flags in the first eight,
    // the rest reserved. Bits as the DLNA guidelines number them.
    const std::string flags = plain.substr(plain.find("FLAGS=") + 6);
    ASSERT_EQ(flags.size(), 32u);
    EXPECT_EQ(flags.substr(8), std::string(24, '0'));
    const unsigned long primary = std::stoul(flags.substr(0, 8), nullptr, 16);
    auto bit = [&](int n) { return (primary >> n) & 1; };
    EXPECT_EQ(bit(31), 0u) << "a sender-paced server would set the client's clock";
    EXPECT_EQ(bit(30) | bit(29), 0u) << "seeks are not limited to a window";
    EXPECT_EQ(bit(24), 1u) << "streaming transfers";
    EXPECT_EQ(bit(22), 1u) << "background transfers";
    EXPECT_EQ(bit(21), 1u) << "http-stalling: bodies are written without a time-out";
    EXPECT_EQ(bit(20), 1u) << "DLNA 1.5";
}

TEST(HttpRules, HttpDates)
{
    // Expected texts from Python's email.utils.formatdate(t, usegmt=True).
    EXPECT_EQ(HttpDate(0), "Thu, 01 Jan 1970 00:00:00 GMT");
    EXPECT_EQ(HttpDate(784111777), "Sun, 06 Nov 1994 08:49:37 GMT");
    EXPECT_EQ(HttpDate(951782400), "Tue, 29 Feb 2000 00:00:00 GMT");
    EXPECT_EQ(HttpDate(1709164800), "Thu, 29 Feb 2024 00:00:00 GMT");
    EXPECT_EQ(HttpDate(4102444799), "Thu, 31 Dec 2099 23:59:59 GMT");
}

}  // namespace

namespace {

TEST(BodyReads, NoLoneUnitIsLeftForTheLastRead)
{
    using mediahost::NextReadCount;
    using mediahost::READ_CHUNK;
    // 192-byte units: one chunk and one unit left would make the last read a
    // lone unit, whose prefix the converter keeps; the read before takes one
    // unit less.
    EXPECT_EQ(NextReadCount(0, READ_CHUNK + 192, true), READ_CHUNK - 192);
    EXPECT_EQ(NextReadCount(192 * 10, 192 * 10 + READ_CHUNK + 192, true), READ_CHUNK - 192);
    EXPECT_EQ(NextReadCount(0, READ_CHUNK + 384, true), READ_CHUNK);
    EXPECT_EQ(NextReadCount(0, 2 * READ_CHUNK, true), READ_CHUNK);
    // Inside a unit (a pending skip) and for 188-byte packets nothing changes.
    EXPECT_EQ(NextReadCount(1000, 1000 + READ_CHUNK + 192, true), READ_CHUNK);
    EXPECT_EQ(NextReadCount(0, READ_CHUNK + 192, false), READ_CHUNK);
}

}  // namespace
