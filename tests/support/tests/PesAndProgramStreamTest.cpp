#include "vsktest/PesPacket.h"
#include "vsktest/ProgramStreamBuilder.h"

#include <gtest/gtest.h>

namespace {

using namespace vsktest;
using Bytes = std::vector<std::uint8_t>;
using Stamp = std::array<std::uint8_t, 5>;

TEST(PesTimestamp, EncodesPrefixValueAndMarkersBitByBit)
{
    struct Case { std::uint8_t prefix; std::uint64_t value; Stamp bytes; };
    // 0x1_2345_6789: bits 32..30 = 100, bits 29..15 = 0x468A, bits 14..0 =
    // 0x6789; each group followed by a marker bit.
    const Case cases[] = {
        {TIMESTAMP_PREFIX_PTS_ONLY, 0x123456789ull, {0x29, 0x8D, 0x15, 0xCF, 0x13}},
        {TIMESTAMP_PREFIX_PTS_ONLY, 0, {0x21, 0x00, 0x01, 0x00, 0x01}},
        {TIMESTAMP_PREFIX_PTS, 0, {0x31, 0x00, 0x01, 0x00, 0x01}},
        {TIMESTAMP_PREFIX_DTS, 0, {0x11, 0x00, 0x01, 0x00, 0x01}},
        {TIMESTAMP_PREFIX_PTS_ONLY, 0x1FFFFFFFFull, {0x2F, 0xFF, 0xFF, 0xFF, 0xFF}},
        {TIMESTAMP_PREFIX_DTS, 90000, {0x11, 0x00, 0x05, 0xBF, 0x21}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(EncodeTimestamp(c.prefix, c.value), c.bytes) << std::hex << c.value;
        EXPECT_EQ(DecodeTimestamp(c.bytes.data()), c.value & 0x1FFFFFFFFull);
    }
}

TEST(PesPacket, PtsOnlyHeaderMatchesHandEncodedBytes)
{
    PesParams params;
    params.streamId = 0xE0;
    params.pts = 0x123456789ull;
    params.dataAlignment = true;
    params.payload = {0x00, 0x00, 0x01, 0xB3};
    const Bytes expected{0x00, 0x00, 0x01, 0xE0, 0x00, 0x0C,  // start code, length 3 + 5 + 4
                         0x84, 0x80, 0x05,                    // '10' alignment; PTS only; 5 bytes
                         0x29, 0x8D, 0x15, 0xCF, 0x13,
                         0x00, 0x00, 0x01, 0xB3};
    EXPECT_EQ(MakePes(params), expected);
    EXPECT_EQ(PesHeaderSize(params), 14u);
}

TEST(PesPacket, PtsAndDtsUseTheirOwnPrefixes)
{
    PesParams params;
    params.streamId = 0xE1;
    params.pts = 93003;
    params.dts = 90000;
    const Bytes pes = MakePes(params);
    ASSERT_EQ(pes.size(), 19u);
    EXPECT_EQ(pes[7], 0xC0);
    EXPECT_EQ(pes[8], 10);
    EXPECT_EQ(pes[9] >> 4, 0x3);
    EXPECT_EQ(pes[14] >> 4, 0x1);
    EXPECT_EQ(DecodeTimestamp(&pes[9]), 93003u);
    EXPECT_EQ(DecodeTimestamp(&pes[14]), 90000u);
}

TEST(PesPacket, LengthVariantsAndOverrides)
{
    PesParams params;
    params.streamId = 0xE0;
    params.pts = 1;
    params.payload = Bytes(1000, 0x55);
    params.unbounded = true;
    Bytes pes = MakePes(params);
    EXPECT_EQ(pes[4], 0);
    EXPECT_EQ(pes[5], 0);
    EXPECT_EQ(pes.size(), 14u + 1000u);

    params.unbounded = false;
    params.payload.assign(0xFFFF - 8 + 1, 0);
    EXPECT_THROW(MakePes(params), std::invalid_argument);
    params.payload.assign(0xFFFF - 8, 0);
    pes = MakePes(params);
    EXPECT_EQ(pes[4], 0xFF);
    EXPECT_EQ(pes[5], 0xFF);

    PesParams odd;
    odd.streamId = 0xC0;
    odd.pts = 5;
    odd.ptsDtsFlagsOverride = 1;  // forbidden '01'
    odd.packetLengthOverride = 2000;
    odd.headerStuffing = 3;
    pes = MakePes(odd);
    EXPECT_EQ(pes[4], 0x07);
    EXPECT_EQ(pes[5], 0xD0);
    EXPECT_EQ(pes[7], 0x40);
    EXPECT_EQ(pes[8], 8);
    EXPECT_EQ(Bytes(pes.end() - 3, pes.end()), Bytes(3, 0xFF));
}

TEST(PesPacket, OptionalFieldsFollowTheirFlagsInOrder)
{
    PesParams params;
    params.streamId = 0xBD;
    params.escrBase = 0;
    params.escrExtension = 0;
    params.esRate = 1;
    params.additionalCopyInfo = 0x7F;
    params.previousCrc = 0xBEEF;
    const Bytes pes = MakePes(params);
    EXPECT_EQ(pes[7], 0x36);  // ESCR, ES_rate, additional_copy_info, CRC flags
    EXPECT_EQ(pes[8], 6 + 3 + 1 + 2);
    EXPECT_EQ(Bytes(pes.begin() + 9, pes.begin() + 15), (Bytes{0xC4, 0x00, 0x04, 0x00, 0x04, 0x01}));
    EXPECT_EQ(Bytes(pes.begin() + 15, pes.begin() + 18), (Bytes{0x80, 0x00, 0x03}));
    EXPECT_EQ(pes[18], 0xFF);
    EXPECT_EQ(Bytes(pes.begin() + 19, pes.begin() + 21), (Bytes{0xBE, 0xEF}));
}

TEST(PesPacket, StreamsWithoutOptionalHeaderCarryOnlyPayload)
{
    for (std::uint8_t id : {0xBC, 0xBE, 0xBF, 0xF0, 0xF1, 0xF2, 0xF8, 0xFF}) {
        PesParams params;
        params.streamId = id;
        params.pts = 1234;  // ignored: these packets have nowhere to put it
        params.payload = {1, 2, 3};
        EXPECT_EQ(MakePes(params), (Bytes{0, 0, 1, id, 0, 3, 1, 2, 3})) << int(id);
    }
    for (std::uint8_t id : {0xBD, 0xC0, 0xDF, 0xE0, 0xEF, 0xFD})
        EXPECT_TRUE(PesHasOptionalHeader(id)) << int(id);
}

TEST(Mpeg1Pes, StuffingBufferAndTimestampForms)
{
    Mpeg1PesParams params;
    params.streamId = 0xC0;
    params.stuffing = 2;
    params.stdBuffer = std::make_pair(true, std::uint16_t{0x1FFF});
    params.pts = 0;
    params.payload = {0xAA};
    EXPECT_EQ(MakeMpeg1Pes(params), (Bytes{0, 0, 1, 0xC0, 0x00, 0x0A, 0xFF, 0xFF, 0x7F, 0xFF,
                                         0x21, 0x00, 0x01, 0x00, 0x01, 0xAA}));

    Mpeg1PesParams plain;
    plain.streamId = 0xE0;
    plain.payload = {0xBB};
    EXPECT_EQ(MakeMpeg1Pes(plain), (Bytes{0, 0, 1, 0xE0, 0x00, 0x02, 0x0F, 0xBB}));

    Mpeg1PesParams both;
    both.pts = 3;
    both.dts = 1;
    const Bytes pes = MakeMpeg1Pes(both);
    ASSERT_EQ(pes.size(), 16u);
    EXPECT_EQ(pes[6] >> 4, 0x3);
    EXPECT_EQ(pes[11] >> 4, 0x1);

    Mpeg1PesParams padding;
    padding.streamId = STREAM_ID_PADDING;
    padding.payload = Bytes(4, 0xFF);
    EXPECT_EQ(MakeMpeg1Pes(padding).size(), 10u);
}

TEST(PackHeader, BothFormsMatchHandEncodedBytes)
{
    // MPEG-2: '01', SCR 0 with its three markers, extension 0 and marker,
    // mux rate 25200 (0x6270) and two markers, five reserved ones, no stuffing.
    PackHeaderParams two;
    EXPECT_EQ(MakePackHeader(two), (Bytes{0x00, 0x00, 0x01, 0xBA, 0x44, 0x00, 0x04, 0x00, 0x04, 0x01,
                                         0x01, 0x89, 0xC3, 0xF8}));
    // MPEG-1: '0010', SCR 0 with markers, marker, mux rate 25200, marker.
    PackHeaderParams one;
    one.mpeg1 = true;
    EXPECT_EQ(MakePackHeader(one), (Bytes{0x00, 0x00, 0x01, 0xBA, 0x21, 0x00, 0x01, 0x00, 0x01, 0x80,
                                         0xC4, 0xE1}));

    PackHeaderParams stuffed;
    stuffed.scrBase = 0x1FFFFFFFFull;
    stuffed.scrExtension = 0x1FF;
    stuffed.stuffing = 3;
    const Bytes h = MakePackHeader(stuffed);
    ASSERT_EQ(h.size(), 17u);
    EXPECT_EQ(Bytes(h.begin() + 4, h.begin() + 10), (Bytes{0x7F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(h[13], 0xFB);
    EXPECT_EQ(Bytes(h.end() - 3, h.end()), Bytes(3, 0xFF));
    stuffed.stuffing = 8;
    EXPECT_THROW(MakePackHeader(stuffed), std::invalid_argument);
}

TEST(SystemHeader, LengthCountsTheStreamEntries)
{
    SystemHeaderParams params;
    params.streams = {{0xE0, true, 232}, {0xC0, false, 32}};
    const Bytes h = MakeSystemHeader(params);
    ASSERT_EQ(h.size(), 12u + 6u);
    EXPECT_EQ(Bytes(h.begin(), h.begin() + 6), (Bytes{0x00, 0x00, 0x01, 0xBB, 0x00, 0x0C}));
    // marker, rate bound 25200, marker; audio bound 1, flags 0 0 1 1; marker,
    // video bound 1; restriction 0 and seven reserved ones.
    EXPECT_EQ(Bytes(h.begin() + 6, h.begin() + 12), (Bytes{0x80, 0xC4, 0xE1, 0x04, 0xE1, 0x7F}));
    EXPECT_EQ(Bytes(h.begin() + 12, h.end()), (Bytes{0xE0, 0xE0, 0xE8, 0xC0, 0xC0, 0x20}));
}

TEST(ProgramStreamBuilder, AppendsInOrderAndReportsOffsets)
{
    CProgramStreamBuilder ps;
    EXPECT_EQ(ps.AddPack({}), 0u);
    EXPECT_EQ(ps.AddSystemHeader({}), 14u);
    PesParams video;
    video.pts = 3600;
    video.payload = Bytes(10, 0x11);
    EXPECT_EQ(ps.AddPes(video), 26u);
    const std::uint64_t end = ps.AddEnd();
    EXPECT_EQ(end, 26u + 24u);
    const Bytes bytes = ps.Take();
    EXPECT_EQ(Bytes(bytes.end() - 4, bytes.end()), (Bytes{0x00, 0x00, 0x01, 0xB9}));
    EXPECT_EQ(ps.Size(), 0u);
}

}  // namespace
