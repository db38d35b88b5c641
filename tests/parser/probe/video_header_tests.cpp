// The video header parsers on headers written field by field: every rule of
// the sequence header, the sequence extension and the AVC sequence parameter
// set that changes a reported fact, with the expected facts worked out by
// hand from ISO/IEC 11172-2, ISO/IEC 13818-2 and ITU-T H.264; the values
// those standards forbid; and every cut of a valid header, which must never
// be read past.
#include "HeaderWriters.h"
#include "HeaderBits.h"
#include "VideoHeaders.h"
#include "VskMpegParser.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace parser {
namespace {

using probetest::Bytes;

struct SExpected {
    std::uint32_t width;
    std::uint32_t height;
    std::uint32_t frameRate[2];
    std::uint32_t sampleAspect[2];
    std::uint32_t displayAspect[2];
    std::uint32_t profile;
    std::uint32_t level;
    std::uint32_t progressive;
    std::uint32_t bitRate;
};

void ExpectFacts(const SVideoFacts& got, const SExpected& want)
{
    EXPECT_EQ(got.width, want.width);
    EXPECT_EQ(got.height, want.height);
    EXPECT_EQ(got.frameRateNumerator, want.frameRate[0]);
    EXPECT_EQ(got.frameRateDenominator, want.frameRate[1]);
    EXPECT_EQ(got.sampleAspectNumerator, want.sampleAspect[0]);
    EXPECT_EQ(got.sampleAspectDenominator, want.sampleAspect[1]);
    EXPECT_EQ(got.displayAspectNumerator, want.displayAspect[0]);
    EXPECT_EQ(got.displayAspectDenominator, want.displayAspect[1]);
    EXPECT_EQ(got.profile, want.profile);
    EXPECT_EQ(got.level, want.level);
    EXPECT_EQ(got.progressive, want.progressive);
    EXPECT_EQ(got.bitRate, want.bitRate);
}

// A sequence header, then the sequence extension, or for MPEG-1 the group
// of pictures that follows the header there, then a picture start code.
Bytes MpegSequence(const probetest::SSequenceHeader& header,
                   const std::optional<probetest::SSequenceExtension>& extension)
{
    Bytes out = {0x00, 0x00, 0x01, 0x00, 0x12};  // the tail of something before
    probetest::Append(out, probetest::SequenceHeader(header));
    if (extension) {
        probetest::Append(out, probetest::SequenceExtension(*extension));
    } else {
        probetest::Append(out, probetest::StartCode(0xB8));
        probetest::Append(out, {0x00, 0x08, 0x00, 0x40});
    }
    probetest::Append(out, probetest::StartCode(0x00));
    probetest::Append(out, {0x00, 0x0F, 0xFF, 0xF8});
    return out;
}

TEST(MpegVideoHeaders, TheFactsFollowTheSequenceHeaderAndItsExtension)
{
    using probetest::SSequenceExtension;
    using probetest::SSequenceHeader;
    struct SCase {
        const char* name;
        SSequenceHeader header;
        std::optional<SSequenceExtension> extension;
        SExpected expected;
    };
    // Main profile is 4 and High level 4, Main level 8 in
    // profile_and_level_indication; bit_rate counts 400 bit/s.
    const std::vector<SCase> cases = {
        {"1080 lines, 16:9, 30000/1001, 18 Mbit/s",
         {.horizontalSizeValue = 1920, .verticalSizeValue = 1080, .aspectRatioInformation = 3, .frameRateCode = 4,
          .bitRateValue = 45000},
         SSequenceExtension{.profileAndLevel = 0x44, .progressiveSequence = 1},
         {1920, 1080, {30000, 1001}, {1, 1}, {16, 9}, 4, 4, 1, 18000000}},
        {"576 lines, 4:3, 25 Hz, interlaced, 9 Mbit/s",
         {.aspectRatioInformation = 2, .frameRateCode = 3, .bitRateValue = 22500},
         SSequenceExtension{.profileAndLevel = 0x48},
         {720, 576, {25, 1}, {16, 15}, {4, 3}, 4, 8, 0, 9000000}},
        {"576 lines shown at 16:9",
         {.aspectRatioInformation = 3},
         SSequenceExtension{},
         {720, 576, {25, 1}, {64, 45}, {16, 9}, 4, 8, 0, 9000000}},
        {"2.21:1",
         {.horizontalSizeValue = 1920, .verticalSizeValue = 1080, .aspectRatioInformation = 4},
         SSequenceExtension{},
         {1920, 1080, {25, 1}, {1989, 1600}, {221, 100}, 4, 8, 0, 9000000}},
        {"square samples",
         {.horizontalSizeValue = 640, .verticalSizeValue = 480, .aspectRatioInformation = 1, .frameRateCode = 1},
         SSequenceExtension{.profileAndLevel = 0x58},
         {640, 480, {24000, 1001}, {1, 1}, {4, 3}, 5, 8, 0, 9000000}},
        {"bit_rate_value 0x3FFFF states no rate",
         {.bitRateValue = 0x3FFFF},
         SSequenceExtension{},
         {720, 576, {25, 1}, {16, 15}, {4, 3}, 4, 8, 0, 0}},
        {"0x3FFFF with a bit_rate_extension is a rate",
         {.bitRateValue = 0x3FFFF},
         SSequenceExtension{.bitRateExtension = 1},
         {720, 576, {25, 1}, {16, 15}, {4, 3}, 4, 8, 0, 209714800}},
        {"size extensions",
         {.horizontalSizeValue = 0x400, .verticalSizeValue = 2880, .aspectRatioInformation = 3},
         SSequenceExtension{.horizontalSizeExtension = 1},
         {5120, 2880, {25, 1}, {1, 1}, {16, 9}, 4, 8, 0, 9000000}},
        {"frame rate extension halves 30000/1001",
         {.frameRateCode = 4},
         SSequenceExtension{.frameRateExtensionD = 1},
         {720, 576, {15000, 1001}, {16, 15}, {4, 3}, 4, 8, 0, 9000000}},
        {"frame rate extension doubles 30",
         {.frameRateCode = 5},
         SSequenceExtension{.frameRateExtensionN = 1},
         {720, 576, {60, 1}, {16, 15}, {4, 3}, 4, 8, 0, 9000000}},
        {"reserved aspect and frame rate codes",
         {.aspectRatioInformation = 5, .frameRateCode = 9},
         SSequenceExtension{},
         {720, 576, {0, 0}, {0, 0}, {5, 4}, 4, 8, 0, 9000000}},
        {"quantiser matrices before the extension",
         {.intraMatrix = true, .nonIntraMatrix = true},
         SSequenceExtension{.progressiveSequence = 1},
         {720, 576, {25, 1}, {16, 15}, {4, 3}, 4, 8, 1, 9000000}},
        {"MPEG-1, 625-line pels (0.9375), variable rate",
         {.horizontalSizeValue = 352, .verticalSizeValue = 288, .aspectRatioInformation = 8, .bitRateValue = 0x3FFFF},
         std::nullopt,
         {352, 288, {25, 1}, {16, 15}, {176, 135}, 0, 0, 1, 0}},
        {"MPEG-1, 525-line pels (1.125), 1.15 Mbit/s",
         {.horizontalSizeValue = 352, .verticalSizeValue = 240, .aspectRatioInformation = 12, .frameRateCode = 4,
          .bitRateValue = 2875},
         std::nullopt,
         {352, 240, {30000, 1001}, {8, 9}, {176, 135}, 0, 0, 1, 1150000}},
        {"MPEG-1, 16:9 625-line pels (0.7031)",
         {.aspectRatioInformation = 3, .bitRateValue = 2875},
         std::nullopt,
         {720, 576, {25, 1}, {10000, 7031}, {12500, 7031}, 0, 0, 1, 1150000}},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes payload = MpegSequence(c.header, c.extension);
        SVideoFacts facts;
        ASSERT_EQ(FindMpegVideoFacts(payload.data(), payload.size(), facts), EVideoSearch::Complete);
        EXPECT_EQ(facts.codec, VSK_PROBE_CODEC_MPEG2_VIDEO);
        EXPECT_EQ(facts.mpeg2Syntax, c.extension.has_value());
        // Square samples and 16:9 are the same fractions at 1920x1080; the
        // code written tells them apart.
        EXPECT_EQ(facts.aspectRatioCode, c.header.aspectRatioInformation);
        ExpectFacts(facts, c.expected);
    }
}

TEST(MpegVideoHeaders, DamagedOrUnfinishedHeadersAreNotTaken)
{
    using probetest::SSequenceExtension;
    using probetest::SSequenceHeader;
    const Bytes good = MpegSequence({}, SSequenceExtension{});
    struct SCase {
        const char* name;
        Bytes payload;
        EVideoSearch expected;
    };
    Bytes headerOnly = probetest::SequenceHeader({});
    Bytes otherExtension = headerOnly;
    probetest::Append(otherExtension, probetest::SequenceExtension({.extensionId = 2}));
    Bytes badExtensionMarker = headerOnly;
    probetest::Append(badExtensionMarker, probetest::SequenceExtension({.markerBit = 0}));
    // A damaged header before a good one: the search goes on to the good one.
    Bytes damagedThenGood = probetest::SequenceHeader({.markerBit = 0});
    probetest::Append(damagedThenGood, good);
    const std::vector<SCase> cases = {
        {"no sequence header", {0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0xB5, 0x14}, EVideoSearch::None},
        {"marker bit 0", MpegSequence({.markerBit = 0}, SSequenceExtension{}), EVideoSearch::None},
        {"horizontal size 0", MpegSequence({.horizontalSizeValue = 0}, SSequenceExtension{}), EVideoSearch::None},
        {"vertical size 0", MpegSequence({.verticalSizeValue = 0}, SSequenceExtension{}), EVideoSearch::None},
        {"the data ends behind the header", headerOnly, EVideoSearch::HeaderOnly},
        {"another extension follows", otherExtension, EVideoSearch::HeaderOnly},
        {"the extension's marker bit is 0", badExtensionMarker, EVideoSearch::HeaderOnly},
        {"a damaged header, then a good one", damagedThenGood, EVideoSearch::Complete},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.name);
        SVideoFacts facts;
        EXPECT_EQ(FindMpegVideoFacts(c.payload.data(), c.payload.size(), facts), c.expected);
        if (c.expected == EVideoSearch::HeaderOnly) {
            EXPECT_EQ(facts.width, 720u);
            EXPECT_EQ(facts.height, 576u);
        }
    }
    SVideoFacts facts;
    EXPECT_EQ(FindMpegVideoFacts(nullptr, 100, facts), EVideoSearch::None);

    // Every cut of a good header: never read past, complete only when the
    // extension is whole and a start code follows it.
    const Bytes whole = [] {
        Bytes b = probetest::SequenceHeader({.intraMatrix = true});
        probetest::Append(b, probetest::SequenceExtension({}));
        probetest::Append(b, probetest::StartCode(0xB8));
        return b;
    }();
    for (std::size_t cut = 0; cut <= whole.size(); ++cut) {
        const Bytes part(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(cut));
        const EVideoSearch found = FindMpegVideoFacts(part.data(), part.size(), facts);
        EXPECT_EQ(found == EVideoSearch::Complete, cut + 4 >= whole.size()) << "cut at " << cut;
    }
}

probetest::SVui Vui1080()
{
    probetest::SVui vui;
    vui.aspectRatioIdc = 1;
    vui.numUnitsInTick = 1001;
    vui.timeScale = 60000;
    return vui;
}

TEST(MpegVideoHeaders, PicturesAreCountedByTheirCodingExtensions)
{
    using probetest::SPictureCodingExtension;
    const auto picture = [](const SPictureCodingExtension& extension) {
        Bytes b = probetest::StartCode(0x00);
        probetest::Append(b, {0x00, 0x0F, 0xFF, 0xF8});
        probetest::Append(b, probetest::PictureCodingExtension(extension));
        probetest::Append(b, probetest::StartCode(0x01));
        probetest::Append(b, {0x12, 0x34});
        return b;
    };
    const Bytes progressive = picture({.progressiveFrame = 1});
    const Bytes interlaced = picture({});
    Bytes fieldPair = picture({.pictureStructure = 1});
    probetest::Append(fieldPair, picture({.pictureStructure = 2}));
    Bytes sequenceFirst = probetest::SequenceHeader({});
    probetest::Append(sequenceFirst, probetest::SequenceExtension({}));
    probetest::Append(sequenceFirst, progressive);
    // The extension's last byte, where progressive_frame is, cut off.
    Bytes cut = probetest::PictureCodingExtension({.progressiveFrame = 1});
    cut.pop_back();
    struct SCase {
        const char* name;
        Bytes payload;
        std::uint32_t pictures;
        std::uint32_t progressiveFrames;
    };
    const SCase cases[] = {
        {"a progressive frame", progressive, 1, 1},
        {"an interlaced frame", interlaced, 1, 0},
        {"a pair of fields", fieldPair, 2, 0},
        {"behind the sequence header and its extension", sequenceFirst, 1, 1},
        {"cut before progressive_frame", cut, 0, 0},
        {"the reserved picture_structure 0", picture({.pictureStructure = 0, .progressiveFrame = 1}), 0, 0},
        {"another extension", picture({.extensionId = 7, .progressiveFrame = 1}), 0, 0},
        {"nothing", {}, 0, 0},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.name);
        SMpegPictureCount count;
        CountMpegPictures(c.payload.data(), c.payload.size(), count);
        EXPECT_EQ(count.pictures, c.pictures);
        EXPECT_EQ(count.progressiveFrames, c.progressiveFrames);
    }
}

// 1920 x 1088 coded, 8 rows cropped at the bottom, square samples, 30000/1001.
probetest::SSps Sps1080()
{
    probetest::SSps sps;
    sps.crop = std::array<std::uint32_t, 4>{0, 0, 0, 4};
    sps.vui = Vui1080();
    return sps;
}

TEST(AvcSequenceParameters, TheFactsFollowTheParameterSet)
{
    using probetest::SHrd;
    using probetest::SScalingList;
    using probetest::SSps;
    struct SCase {
        const char* name;
        SSps sps;
        SExpected expected;
    };
    auto with = [](auto change) {
        SSps sps = Sps1080();
        change(sps);
        return sps;
    };
    const SExpected hd = {1920, 1080, {30000, 1001}, {1, 1}, {16, 9}, 100, 40, 1, 0};
    // A list whose deltas leave nextScale at 0 ends there ("use the default").
    const std::vector<SScalingList> eightLists = {
        {true, std::vector<std::int32_t>(16, 1)}, {true, {-8}}, {}, {}, {}, {},
        {true, std::vector<std::int32_t>(64, 0)}, {true, {2, -10}},
    };
    std::vector<SScalingList> twelveLists = eightLists;
    twelveLists.insert(twelveLists.end(), {{true, std::vector<std::int32_t>(64, 3)}, {}, {true, {-8}}, {}});
    const std::vector<SCase> cases = {
        {"1080 lines cropped from 1088, High 4.0", Sps1080(), hd},
        {"interlaced: the crop counts field rows",
         with([](SSps& s) {
             s.frameMbsOnly = false;
             s.picHeightInMapUnitsMinus1 = 33;
             s.crop = std::array<std::uint32_t, 4>{0, 0, 0, 2};
         }),
         {1920, 1080, {30000, 1001}, {1, 1}, {16, 9}, 100, 40, 0, 0}},
        {"4:2:2: whole rows, pairs of columns",
         with([](SSps& s) {
             s.profileIdc = 122;
             s.chromaFormatIdc = 2;
             s.crop = std::array<std::uint32_t, 4>{0, 8, 0, 8};
         }),
         {1904, 1080, {30000, 1001}, {1, 1}, {238, 135}, 122, 40, 1, 0}},
        {"4:4:4 in separate planes counts luma samples",
         with([](SSps& s) {
             s.profileIdc = 244;
             s.chromaFormatIdc = 3;
             s.separateColourPlane = true;
             s.crop = std::array<std::uint32_t, 4>{2, 2, 0, 8};
         }),
         {1916, 1080, {30000, 1001}, {1, 1}, {479, 270}, 244, 40, 1, 0}},
        {"monochrome counts luma samples",
         with([](SSps& s) {
             s.chromaFormatIdc = 0;
             s.crop = std::array<std::uint32_t, 4>{0, 0, 0, 8};
         }),
         hd},
        {"Main profile: no chroma fields, 720 lines at 60000/1001",
         with([](SSps& s) {
             s.profileIdc = 77;
             s.levelIdc = 32;
             s.picWidthInMbsMinus1 = 79;
             s.picHeightInMapUnitsMinus1 = 44;
             s.crop.reset();
             s.vui->timeScale = 120000;
         }),
         {1280, 720, {60000, 1001}, {1, 1}, {16, 9}, 77, 32, 1, 0}},
        {"eight scaling lists, of 16 and 64, two ending early",
         with([&](SSps& s) { s.scalingLists = eightLists; }), hd},
        {"twelve scaling lists in 4:4:4",
         with([&](SSps& s) {
             s.profileIdc = 244;
             s.chromaFormatIdc = 3;
             s.scalingLists = twelveLists;
             s.crop = std::array<std::uint32_t, 4>{0, 0, 0, 8};
         }),
         {1920, 1080, {30000, 1001}, {1, 1}, {16, 9}, 244, 40, 1, 0}},
        {"picture order count type 1 with its cycle",
         with([](SSps& s) {
             s.picOrderCntType = 1;
             s.offsetsForRefFrame = {1, -1, 3};
         }),
         hd},
        {"picture order count type 2", with([](SSps& s) { s.picOrderCntType = 2; }), hd},
        {"SAR 12:11 at 720 x 576",
         with([](SSps& s) {
             s.picWidthInMbsMinus1 = 44;
             s.picHeightInMapUnitsMinus1 = 35;
             s.crop.reset();
             s.vui->aspectRatioIdc = 2;
             s.vui->numUnitsInTick = 1;
             s.vui->timeScale = 50;
         }),
         {720, 576, {25, 1}, {12, 11}, {15, 11}, 100, 40, 1, 0}},
        {"SAR 4:3 at 1440 x 1080 is 16:9",
         with([](SSps& s) {
             s.picWidthInMbsMinus1 = 89;
             s.vui->aspectRatioIdc = 14;
         }),
         {1440, 1080, {30000, 1001}, {4, 3}, {16, 9}, 100, 40, 1, 0}},
        {"SAR 2:1 at 960 x 1080 is 16:9",
         with([](SSps& s) {
             s.picWidthInMbsMinus1 = 59;
             s.vui->aspectRatioIdc = 16;
         }),
         {960, 1080, {30000, 1001}, {2, 1}, {16, 9}, 100, 40, 1, 0}},
        {"Extended_SAR 64:45 at 720 x 576",
         with([](SSps& s) {
             s.picWidthInMbsMinus1 = 44;
             s.picHeightInMapUnitsMinus1 = 35;
             s.crop.reset();
             s.vui->aspectRatioIdc = 255;
             s.vui->sarWidth = 64;
             s.vui->sarHeight = 45;
             s.vui->numUnitsInTick = 1001;
             s.vui->timeScale = 48000;
         }),
         {720, 576, {24000, 1001}, {64, 45}, {16, 9}, 100, 40, 1, 0}},
        {"Extended_SAR with a height of 0 states nothing",
         with([](SSps& s) {
             s.vui->aspectRatioIdc = 255;
             s.vui->sarWidth = 4;
         }),
         {1920, 1080, {30000, 1001}, {0, 0}, {16, 9}, 100, 40, 1, 0}},
        {"aspect_ratio_idc 0 is unspecified", with([](SSps& s) { s.vui->aspectRatioIdc = 0; }),
         {1920, 1080, {30000, 1001}, {0, 0}, {16, 9}, 100, 40, 1, 0}},
        {"aspect_ratio_idc 17 is reserved", with([](SSps& s) { s.vui->aspectRatioIdc = 17; }),
         {1920, 1080, {30000, 1001}, {0, 0}, {16, 9}, 100, 40, 1, 0}},
        {"no VUI", with([](SSps& s) { s.vui.reset(); }),
         {1920, 1080, {0, 0}, {0, 0}, {16, 9}, 100, 40, 1, 0}},
        {"the other VUI parts before the timing",
         with([](SSps& s) {
             s.vui->overscan = true;
             s.vui->videoSignal = true;
             s.vui->chromaLocation = true;
         }),
         hd},
        {"NAL HRD: (312499 + 1) x 2^6",
         with([](SSps& s) { s.vui->nalHrd = SHrd{.bitRateValueMinus1 = {312499}}; }),
         {1920, 1080, {30000, 1001}, {1, 1}, {16, 9}, 100, 40, 1, 20000000}},
        {"the NAL HRD before the VCL HRD: (19530 + 1) x 2^10",
         with([](SSps& s) {
             s.vui->nalHrd = SHrd{.bitRateScale = 4, .bitRateValueMinus1 = {19530}};
             s.vui->vclHrd = SHrd{.bitRateValueMinus1 = {312499}};
         }),
         {1920, 1080, {30000, 1001}, {1, 1}, {16, 9}, 100, 40, 1, 19999744}},
        {"the VCL HRD alone: (97655 + 1) x 2^8",
         with([](SSps& s) { s.vui->vclHrd = SHrd{.bitRateScale = 2, .bitRateValueMinus1 = {97655}}; }),
         {1920, 1080, {30000, 1001}, {1, 1}, {16, 9}, 100, 40, 1, 24999936}},
        {"the first of two CPBs",
         with([](SSps& s) { s.vui->nalHrd = SHrd{.bitRateValueMinus1 = {155999, 312499}}; }),
         {1920, 1080, {30000, 1001}, {1, 1}, {16, 9}, 100, 40, 1, 9984000}},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.name);
        // Other NAL units around it, as an access unit has them.
        Bytes payload = {0x00, 0x00, 0x00, 0x01, 0x09, 0xF0};
        probetest::Append(payload, probetest::SpsNal(c.sps));
        probetest::Append(payload, {0x00, 0x00, 0x01, 0x68, 0xEB, 0xE3, 0xCB, 0x22, 0xC0});
        probetest::Append(payload, {0x00, 0x00, 0x01, 0x65, 0x88, 0x84, 0x00});
        SVideoFacts facts;
        ASSERT_TRUE(FindAvcVideoFacts(payload.data(), payload.size(), facts));
        EXPECT_EQ(facts.codec, VSK_PROBE_CODEC_AVC);
        ExpectFacts(facts, c.expected);
    }
}

TEST(AvcSequenceParameters, EmulationPreventionBytesAreTakenOut)
{
    // 32-bit timing fields of small values put runs of zero bytes into the
    // RBSP, which the NAL unit carries escaped.
    probetest::SSps sps = Sps1080();
    sps.vui->numUnitsInTick = 1;
    sps.vui->timeScale = 50;
    sps.vui->nalHrd = probetest::SHrd{.bitRateValueMinus1 = {0}};
    const Bytes rbsp = probetest::SpsRbsp(sps);
    const Bytes nal = probetest::Escape(rbsp);
    ASSERT_GT(nal.size(), rbsp.size());

    std::vector<std::uint8_t> unescaped(nal.size());
    EXPECT_EQ(RemoveEmulationPrevention(nal.data(), nal.size(), unescaped.data(), unescaped.size()), rbsp.size());
    unescaped.resize(rbsp.size());
    EXPECT_EQ(unescaped, rbsp);
    // Never more than the room given.
    EXPECT_EQ(RemoveEmulationPrevention(nal.data(), nal.size(), unescaped.data(), 3), 3u);

    const Bytes payload = probetest::SpsNal(sps);
    SVideoFacts facts;
    ASSERT_TRUE(FindAvcVideoFacts(payload.data(), payload.size(), facts));
    ExpectFacts(facts, {1920, 1080, {25, 1}, {1, 1}, {16, 9}, 100, 40, 1, 64});
}

TEST(AvcSequenceParameters, ForbiddenValuesAndCutsAreRefused)
{
    using probetest::SSps;
    auto with = [](auto change) {
        SSps sps = Sps1080();
        change(sps);
        return sps;
    };
    struct SCase {
        const char* name;
        SSps sps;
    };
    const std::vector<SCase> cases = {
        {"seq_parameter_set_id 32", with([](SSps& s) { s.spsId = 32; })},
        {"chroma_format_idc 4", with([](SSps& s) { s.chromaFormatIdc = 4; })},
        {"bit depth 15", with([](SSps& s) { s.bitDepthLumaMinus8 = 7; })},
        {"log2_max_frame_num 17", with([](SSps& s) { s.log2MaxFrameNumMinus4 = 13; })},
        {"picture order count type 3", with([](SSps& s) { s.picOrderCntType = 3; })},
        {"a cycle of 256 reference frames", with([](SSps& s) {
             s.picOrderCntType = 1;
             s.offsetsForRefFrame.assign(256, 1);
         })},
        {"16400 samples wide", with([](SSps& s) { s.picWidthInMbsMinus1 = 1024; })},
        {"cropped to nothing", with([](SSps& s) { s.crop = std::array<std::uint32_t, 4>{0, 0, 0, 544}; })},
        {"delta_scale 128", with([](SSps& s) {
             s.scalingLists = {{true, {128}}, {}, {}, {}, {}, {}, {}, {}};
         })},
        {"33 CPBs", with([](SSps& s) {
             s.vui->nalHrd = probetest::SHrd{.bitRateValueMinus1 = std::vector<std::uint32_t>(33, 1)};
         })},
    };
    SVideoFacts facts;
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes payload = probetest::SpsNal(c.sps);
        EXPECT_FALSE(FindAvcVideoFacts(payload.data(), payload.size(), facts));
    }

    // Not a parameter set: another NAL unit type, the forbidden bit set.
    Bytes pps = probetest::SpsNal(Sps1080());
    pps[4] = 0x68;
    EXPECT_FALSE(FindAvcVideoFacts(pps.data(), pps.size(), facts));
    Bytes forbidden = probetest::SpsNal(Sps1080());
    forbidden[4] = 0xE7;
    EXPECT_FALSE(FindAvcVideoFacts(forbidden.data(), forbidden.size(), facts));
    EXPECT_FALSE(FindAvcVideoFacts(nullptr, 10, facts));

    // Cut anywhere before the end of the HRD parameters, the set is refused
    // (the bits behind the VUI are trailing bits the parser never needs).
    SSps hrd = Sps1080();
    hrd.vui->nalHrd = probetest::SHrd{.bitRateValueMinus1 = {312499}};
    const Bytes whole = probetest::SpsNal(hrd);
    for (std::size_t cut = 0; cut + 1 < whole.size(); ++cut) {
        const Bytes part(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(cut));
        EXPECT_FALSE(FindAvcVideoFacts(part.data(), part.size(), facts)) << "cut at " << cut;
    }
    EXPECT_TRUE(FindAvcVideoFacts(whole.data(), whole.size(), facts));
}

TEST(HeaderBits, ExpGolombCodesAndReadsPastTheEnd)
{
    // 1 | 010 | 011 | 00100 | 00111 | 0001000 -> ue 0, 1, 2, 3, 6, 7;
    // then 010 and 011 again read as se +1 and -1.
    vsktest::CBitWriter w;
    for (const std::uint32_t v : {0u, 1u, 2u, 3u, 6u, 7u})
        probetest::PutUe(w, v);
    probetest::PutSe(w, 1);
    probetest::PutSe(w, -1);
    probetest::PutUe(w, 0xFFFFFFFEu);
    while (!w.Aligned())
        w.Put(0, 1);
    const Bytes bytes = w.Take();
    CHeaderBits bits(bytes.data(), bytes.size());
    for (const std::uint32_t v : {0u, 1u, 2u, 3u, 6u, 7u})
        EXPECT_EQ(bits.ReadUe(), v);
    EXPECT_EQ(bits.ReadSe(), 1);
    EXPECT_EQ(bits.ReadSe(), -1);
    EXPECT_EQ(bits.ReadUe(), 0xFFFFFFFEu);
    EXPECT_FALSE(bits.Overrun());
    bits.Skip(bits.BitsLeft());
    EXPECT_EQ(bits.Read(8), 0u);
    EXPECT_TRUE(bits.Overrun());

    // 32 leading zeros exceed every 32-bit value.
    const Bytes zeros = {0x00, 0x00, 0x00, 0x00, 0x80, 0x00, 0x00, 0x00, 0x00};
    CHeaderBits tooLong(zeros.data(), zeros.size());
    tooLong.ReadUe();
    EXPECT_TRUE(tooLong.Overrun());
    CHeaderBits none(nullptr, 5);
    EXPECT_EQ(none.Read(3), 0u);
    EXPECT_TRUE(none.Overrun());
}

}  // namespace
}  // namespace parser
