#include "vsktest/PesPacket.h"
#include "vsktest/PsiSections.h"
#include "vsktest/Recording.h"
#include "vsktest/TempDir.h"

#include <gtest/gtest.h>

#include <map>

namespace {

using namespace vsktest;
using Bytes = std::vector<std::uint8_t>;

struct Walked
{
    std::size_t packets = 0;
    std::vector<UnitMark> video;  // from PUSI packets on the video PID
    std::vector<UnitMark> audio;
    std::vector<std::uint32_t> arrivalTimes;
    std::size_t continuityBreaks = 0;
    std::size_t pats = 0;
    std::size_t pmts = 0;
};

// Reads a stream the way a demultiplexer would, without the builder's help.
Walked Walk(const Bytes& bytes, const RecordingParams& params)
{
    Walked w;
    const std::size_t unit = params.unitSize;
    const std::size_t prefix = unit - 188;
    std::map<std::uint16_t, int> last;
    EXPECT_EQ(bytes.size() % unit, 0u);
    for (std::size_t at = 0; at + unit <= bytes.size(); at += unit, ++w.packets) {
        const std::uint8_t* p = &bytes[at + prefix];
        if (p[0] != 0x47) {
            ADD_FAILURE() << "sync byte missing at " << at;
            return w;
        }
        if (prefix)
            w.arrivalTimes.push_back(((bytes[at] & 0x3Fu) << 24) | (bytes[at + 1] << 16) | (bytes[at + 2] << 8) | bytes[at + 3]);
        const std::uint16_t pid = static_cast<std::uint16_t>(((p[1] & 0x1F) << 8) | p[2]);
        const bool pusi = (p[1] & 0x40) != 0;
        const int cc = p[3] & 0x0F;
        const bool payload = (p[3] & 0x10) != 0;
        std::size_t start = 4;
        if (p[3] & 0x20)
            start += 1 + p[4];
        if (payload) {
            auto it = last.find(pid);
            if (it != last.end() && cc != (it->second + 1) % 16)
                ++w.continuityBreaks;
            last[pid] = cc;
        }
        if (!pusi)
            continue;
        const std::uint8_t* pl = p + start;
        if (pid == 0) {
            ++w.pats;
            const std::size_t len = (((pl[2] & 0x0F) << 8) | pl[3]) + 3;
            EXPECT_TRUE(SectionCrcValid(std::span(pl + 1, len)));
        } else if (pid == params.pmtPid) {
            ++w.pmts;
            const std::size_t len = (((pl[2] & 0x0F) << 8) | pl[3]) + 3;
            EXPECT_TRUE(SectionCrcValid(std::span(pl + 1, len)));
        } else if (pid == params.videoPid || pid == params.audioPid) {
            EXPECT_EQ(Bytes(pl, pl + 3), (Bytes{0, 0, 1}));
            EXPECT_EQ(pl[7] & 0xC0, 0x80) << "PTS only";
            UnitMark m{DecodeTimestamp(pl + 9), at, w.packets};
            (pid == params.videoPid ? w.video : w.audio).push_back(m);
        }
    }
    return w;
}

void ExpectSameMarks(const std::vector<UnitMark>& a, const std::vector<UnitMark>& b)
{
    ASSERT_EQ(a.size(), b.size());
    for (std::size_t i = 0; i < a.size(); ++i) {
        EXPECT_EQ(a[i].pts, b[i].pts) << i;
        EXPECT_EQ(a[i].unitOffset, b[i].unitOffset) << i;
        EXPECT_EQ(a[i].packetIndex, b[i].packetIndex) << i;
    }
}

TEST(Recording, PlainVideoLayoutIsExactAndReported)
{
    RecordingParams params;
    params.packetCount = 200;
    params.videoPacketsPerPes = 10;
    const Recording r = MakeRecording(params);
    ASSERT_EQ(r.bytes.size(), 200u * 188u);
    const Walked w = Walk(r.bytes, params);
    EXPECT_EQ(w.pats, 1u);
    EXPECT_EQ(w.pmts, 1u);
    EXPECT_EQ(w.continuityBreaks, 0u);
    ExpectSameMarks(r.video, w.video);
    ASSERT_EQ(r.video.size(), 20u);  // 198 video packets, a unit every 10
    for (std::size_t i = 0; i < r.video.size(); ++i) {
        EXPECT_EQ(r.video[i].pts, params.firstPts + i * params.videoPtsStep);
        EXPECT_EQ(r.video[i].packetIndex, 2 + i * 10);
    }
    // The first video packet carries PCR 100 ms before the PTS and a random
    // access point.
    const std::uint8_t* first = &r.bytes[2 * 188];
    EXPECT_EQ(first[3] & 0x30, 0x30);
    EXPECT_EQ(first[5], 0x50);
    EXPECT_EQ(first[6], static_cast<std::uint8_t>((params.firstPts - 9000) >> 25));
}

TEST(Recording, TimeStampedUnitsWithAudioAndRepeatedTables)
{
    RecordingParams params;
    params.unitSize = 192;
    params.arrivalTimeFirst = 0x3FFFFF00;
    params.arrivalTimeStep = 100;
    params.copyPermission = 3;
    params.videoStreamType = 0x1B;
    params.audio = true;
    params.audioStreamType = 0x81;
    params.audioInterval = 6;
    params.psiInterval = 100;
    params.packetCount = 500;
    params.videoUnbounded = false;
    const Recording r = MakeRecording(params);
    ASSERT_EQ(r.bytes.size(), 500u * 192u);
    EXPECT_EQ(r.bytes[0] >> 6, 3);
    const Walked w = Walk(r.bytes, params);
    EXPECT_EQ(w.pats, 5u);
    EXPECT_EQ(w.pmts, 5u);
    EXPECT_EQ(w.continuityBreaks, 0u);
    ExpectSameMarks(r.video, w.video);
    ExpectSameMarks(r.audio, w.audio);
    ASSERT_EQ(w.arrivalTimes.size(), 500u);
    for (std::size_t i = 1; i < w.arrivalTimes.size(); ++i)
        ASSERT_EQ(w.arrivalTimes[i], (w.arrivalTimes[i - 1] + 100) & 0x3FFFFFFFu) << i;
    ASSERT_GT(r.audio.size(), 70u);
    for (std::size_t i = 0; i < r.audio.size(); ++i)
        EXPECT_EQ(r.audio[i].pts, params.firstPts + i * params.audioPtsStep);
    // Bounded video PES packets: the length field covers exactly N packets.
    const std::uint8_t* v = &r.bytes[r.video[0].unitOffset + 4];
    const std::uint8_t* pes = v + 4 + 1 + v[4];
    EXPECT_EQ(pes[3], 0xE0);
    EXPECT_EQ((pes[4] << 8) | pes[5], 32 * 184 - 8 - 6);
}

TEST(Recording, LargeFilesStayContinuousAcrossRepeatedBlocks)
{
    CTempDir dir;
    RecordingParams params;
    params.unitSize = 192;
    params.audio = true;
    params.videoPacketsPerPes = 40;
    const std::uint64_t wanted = 10u * 1024u * 1024u + 1000u;  // beyond two blocks of 4 MiB
    const std::filesystem::path path = dir / "large.m2ts";
    const std::uint64_t written = WriteLargeRecording(path, wanted, params);
    EXPECT_EQ(written, wanted / 192 * 192);
    EXPECT_EQ(std::filesystem::file_size(path), written);

    const Walked w = Walk(ReadFileBytes(path), params);
    EXPECT_EQ(w.continuityBreaks, 0u);
    EXPECT_GE(w.pats, 3u);
    ASSERT_GT(w.video.size(), 1000u);
    for (std::size_t i = 0; i < w.video.size(); ++i)
        ASSERT_EQ(w.video[i].pts, params.firstPts + i * params.videoPtsStep) << i;
    for (std::size_t i = 0; i < w.audio.size(); ++i)
        ASSERT_EQ(w.audio[i].pts, params.firstPts + i * params.audioPtsStep) << i;
    for (std::size_t i = 1; i < w.arrivalTimes.size(); ++i)
        ASSERT_EQ(w.arrivalTimes[i], (w.arrivalTimes[i - 1] + params.arrivalTimeStep) & 0x3FFFFFFFu) << i;
}

TEST(Recording, RejectsLayoutsItCannotBuild)
{
    RecordingParams params;
    params.videoPacketsPerPes = 0;
    EXPECT_THROW(MakeRecording(params), std::invalid_argument);
    params.videoPacketsPerPes = 400;
    params.videoUnbounded = false;
    EXPECT_THROW(MakeRecording(params), std::invalid_argument);
    params.videoPacketsPerPes = 10;
    params.audio = true;
    params.audioInterval = 1;
    EXPECT_THROW(MakeRecording(params), std::invalid_argument);
}

}  // namespace
