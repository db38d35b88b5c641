// The server's reading of request targets and range headers, one table per
// rule. The end-to-end test runs the same requests through curl against the
// running server; these pin the edge values a client rarely sends.
#include "ComponentHost.h"
#include "HttpRules.h"

#include <gtest/gtest.h>

namespace {

using namespace mediahost::http;

TEST(HttpRules, RequestTargetsNameOneFileOfTheFolder)
{
    struct SRow {
        const char* target;
        const char* name;  // nullptr: refused
    };
    const SRow rows[] = {
        {"/show.ts", "show.ts"},
        {"/show.ts?profile=MPEG_TS_HD_NA_ISO", "show.ts"},
        {"/my%20show.m2ts", "my show.m2ts"},
        {"/%C3%A9t%C3%A9.ts", "\xC3\xA9t\xC3\xA9.ts"},
        {"/a+b.ts", "a+b.ts"},
        {"/", nullptr},
        {"", nullptr},
        {"show.ts", nullptr},
        {"/../etc/passwd", nullptr},
        {"/..", nullptr},
        {"/%2e%2e", nullptr},
        {"/%2E%2E%2Fetc%2Fpasswd", nullptr},
        {"/..%2f..%2fetc", nullptr},
        {"/..%5c..%5cwindows", nullptr},
        {"/sub/show.ts", nullptr},
        {"//etc/passwd", nullptr},
        {"/C:%5Cwindows%5Cwin.ini", nullptr},
        {"/show.ts%00.txt", nullptr},
        {"/show%zz.ts", nullptr},
        {"/show.ts%", nullptr},
        {"/CON", nullptr},
        {"/nul.ts", nullptr},
        {"/com1.txt", nullptr},
        {"/show.ts.", nullptr},
        {"/.", nullptr},
        {"/file:stream", nullptr},
    };
    for (const SRow& row : rows) {
        std::string name;
        std::string query;
        const bool ok = RequestedFile(row.target, name, query);
        EXPECT_EQ(ok, row.name != nullptr) << row.target;
        if (row.name != nullptr) {
            EXPECT_EQ(name, row.name) << row.target;
        }
    }
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

TEST(HttpRules, ContentFeaturesInTheirOrder)
{
    EXPECT_EQ(ContentFeatures("MPEG_TS_HD_NA_ISO", true),
              "DLNA.ORG_PN=MPEG_TS_HD_NA_ISO;DLNA.ORG_OP=11;DLNA.ORG_CI=0;DLNA.ORG_FLAGS=01700000000000000000000000000000");
    EXPECT_EQ(ContentFeatures("", false), "DLNA.ORG_OP=01;DLNA.ORG_CI=0;DLNA.ORG_FLAGS=01700000000000000000000000000000");
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
