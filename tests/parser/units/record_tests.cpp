// Unit records: the PES header fields, which streams a selection mode
// assembles, the order TakeUnit describes units in and what the record says
// of their program and stream, private units, the SESF audio header, and the
// classification with its packed stream identifier.
#include "UnitTestSupport.h"

#include "MediaCoreDecSysRegDesc.h"
#include "PesHeader.h"
#include "SsidStreamId.h"
#include "StreamSet.h"

#include <gtest/gtest.h>

namespace parser {
namespace {

using namespace unittest;

// ---------------------------------------------------------------------------
// PES header

TEST(PesHeaderTest, EveryOptionalFieldIsReadInItsPlace)
{
    vsktest::PesParams p;
    p.streamId = 0xE1;
    p.pts = 0x1FFFFFFFFull;
    p.dts = 0x123456789ull;
    p.scrambling = 2;
    p.priority = true;
    p.copyright = true;
    p.escrBase = 0x1ABCDEF01ull;
    p.escrExtension = 0x1A5;
    p.esRate = 0x2AAAAA;
    p.trickMode = 0x9C;
    p.additionalCopyInfo = 0x55;
    p.previousCrc = 0xBEEF;
    // Flags: private data, pack header field, sequence counter, P-STD,
    // extension 2; then 16 private bytes, pack field of 2 bytes, counter
    // 0x35 with MPEG-1 identifier and stuff length 9, P-STD scale 1 size
    // 0x1234, extension 2 of 2 bytes.
    Bytes extension = {0xF1};
    for (std::uint8_t i = 0; i < 16; ++i)
        extension.push_back(static_cast<std::uint8_t>(0xA0 + i));
    extension.insert(extension.end(), {0x02, 0xAA, 0xBB, 0x80 | 0x35, 0x80 | 0x40 | 9, 0x40 | 0x20 | 0x12, 0x34,
                                       0x82, 0x00, 0x00});
    p.extension = extension;
    p.headerStuffing = 3;
    p.payload = {1, 2, 3};
    const Bytes pes = vsktest::MakePes(p);

    SPesHeader h;
    SPesPayload payload;
    ASSERT_EQ(ParsePesHeader(pes.data(), static_cast<std::uint32_t>(pes.size()), EPesSyntax::Mpeg2, h, payload),
              RESULT_OK);
    EXPECT_EQ(h.streamId, 0xE1);
    EXPECT_EQ(h.pesPacketLength, pes.size() - 6);
    EXPECT_EQ(h.scramblingControl, 2);
    EXPECT_EQ(h.priority, 1);
    EXPECT_EQ(h.dataAlignmentIndicator, 0);
    EXPECT_EQ(h.copyright, 1);
    EXPECT_EQ(h.ptsDtsFlags, 3);
    EXPECT_EQ(h.pts, 0x1FFFFFFFFull);
    EXPECT_EQ(h.dts, 0x123456789ull);
    EXPECT_EQ(h.escrBase, 0x1ABCDEF01ull);
    EXPECT_EQ(h.escrExtension, 0x1A5);
    EXPECT_EQ(h.esRate, 0x2AAAAAu);
    EXPECT_EQ(h.trickMode, 0x9C);
    EXPECT_EQ(h.additionalCopyInfo, 0x55);
    EXPECT_EQ(h.previousPesPacketCrc, 0xBEEF);
    EXPECT_EQ(h.pesPrivateData[0], 0xA0);
    EXPECT_EQ(h.pesPrivateData[15], 0xAF);
    EXPECT_EQ(h.programPacketSequenceCounter, 0x35);
    EXPECT_EQ(h.mpeg1Mpeg2Identifier, 1);
    EXPECT_EQ(h.originalStuffLength, 9);
    EXPECT_EQ(h.pStdBufferScale, 1);
    EXPECT_EQ(h.pStdBufferSize, 0x1234);
    EXPECT_EQ(h.pesExtensionFlag2, 1);
    EXPECT_EQ(payload.offset, pes.size() - 3);
    EXPECT_EQ(payload.length, 3u);

    // A PTS alone stands for the DTS too.
    const Bytes ptsOnly = Pes(0xE0, 4242, 10);
    ASSERT_EQ(ParsePesHeader(ptsOnly.data(), static_cast<std::uint32_t>(ptsOnly.size()), EPesSyntax::Mpeg2, h,
                             payload),
              RESULT_OK);
    EXPECT_EQ(h.ptsDtsFlags, 2);
    EXPECT_EQ(h.dts, 4242u);
}

// Every optional part lies inside PES_header_data_length and the unit; one
// that does not makes the unit malformed, whatever bytes lie behind.
TEST(PesHeaderTest, AnOptionalPartOutsideTheHeaderOrTheUnitIsMalformed)
{
    struct SCase {
        const char* name;
        Bytes bytes;
        Result result;
    };
    // 00 00 01 E0, length, '10' flags, PTS_DTS_flags and the rest, header
    // data length, then the optional bytes.
    const Bytes pts = {0x21, 0x00, 0x01, 0x00, 0x01};
    auto unit = [](std::uint8_t flags2, std::uint8_t headerLength, const Bytes& rest) {
        Bytes b(9 + rest.size());
        const std::uint8_t head[] = {0x00, 0x00, 0x01, 0xE0, 0x00, static_cast<std::uint8_t>(b.size() - 6), 0x80,
                                     flags2, headerLength};
        std::copy(std::begin(head), std::end(head), b.begin());
        std::copy(rest.begin(), rest.end(), b.begin() + 9);
        return b;
    };
    Bytes ptsAndPayload = pts;
    ptsAndPayload.insert(ptsAndPayload.end(), 20, 0x00);
    const std::vector<SCase> cases = {
        {"PTS inside the header", unit(0x80, 5, ptsAndPayload), RESULT_OK},
        {"PTS beyond the header data length", unit(0x80, 3, ptsAndPayload), ResultSectionMalformed},
        {"header data length beyond the unit", unit(0x00, 40, Bytes(10, 0xFF)), ResultSectionMalformed},
        {"DTS beyond the header data length", unit(0xC0, 5, ptsAndPayload), ResultSectionMalformed},
        {"ESCR cut by the header", unit(0x20, 4, Bytes(30, 0xFF)), ResultSectionMalformed},
        {"extension private data cut", unit(0x01, 10, Bytes{0x80, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 0}),
         ResultSectionMalformed},
        {"pack field longer than the header", unit(0x01, 3, Bytes{0x40, 0x05, 0xAA, 0, 0}), ResultSectionMalformed},
        {"fixed part only", Bytes{0x00, 0x00, 0x01, 0xE0, 0x00, 0x02, 0x80, 0x00}, ResultSectionMalformed},
        {"no start code", Bytes{0x00, 0x01, 0x01, 0xE0, 0x00, 0x03, 0x80, 0x00, 0x00}, ResultUnitWithoutStartCode},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.name);
        SPesHeader h;
        SPesPayload payload;
        EXPECT_EQ(ParsePesHeader(c.bytes.data(), static_cast<std::uint32_t>(c.bytes.size()), EPesSyntax::Mpeg2, h,
                                 payload),
                  c.result);
    }
}

// ---------------------------------------------------------------------------
// Selection

TEST(SelectionTest, ModesAssembleTheStreamsOfTheirRow)
{
    using E = EStreamSelection;
    constexpr E N = E::Skipped;
    constexpr E A = E::Assembled;
    constexpr E P = E::PrivatePackets;
    struct SRow {
        std::uint8_t type;
        std::uint32_t system;
        E modes[5];  // selection modes 1 to 5
    };
    const std::vector<SRow> rows = {
        {0x02, SystemNone, {A, N, A, A, N}},
        {0x1B, SystemHDMV, {A, N, A, A, N}},
        {0x04, SystemNone, {N, A, A, A, N}},
        {0x06, SystemSESF, {N, N, N, A, N}},
        {0x81, SystemNone, {N, A, A, A, N}},
        {0x81, SystemMTRM, {N, N, N, N, N}},
        {0x80, SystemSESF, {N, A, A, A, N}},
        {0x91, SystemHDMV, {A, N, A, A, N}},
        {0xA0, SystemTSHV, {N, N, N, A, A}},
        {0xA1, SystemTSHV, {N, N, N, A, A}},
        {0xA0, SystemTSMV, {N, N, N, P, P}},
        {0x82, SystemNone, {N, N, N, N, N}},
        {0xB0, SystemNone, {N, N, N, N, N}},
        {0xB1, SystemNone, {N, N, N, N, N}},
    };
    for (const SRow& row : rows) {
        for (std::uint32_t mode = 1; mode <= 5; ++mode) {
            SCOPED_TRACE(testing::Message() << "type 0x" << std::hex << int{row.type} << " system 0x" << row.system
                                            << std::dec << " mode " << mode);
            EXPECT_EQ(SelectStream(row.type, row.system, mode), row.modes[mode - 1]);
        }
    }
}

// ---------------------------------------------------------------------------
// The record

// Two programs, listed in the association section with program 2 first; a
// unit of each waits when TakeUnit is called: program 2's comes first,
// whichever completed first.
TEST(UnitRecordTest, UnitsAreTakenInTheOrderOfTheAssociationSection)
{
    vsktest::CTsStreamBuilder b;
    b.AddNull(4);
    vsktest::PatParams pat;
    pat.entries = {{2, 0x0110}, {1, 0x0100}};
    b.AddSection(vsktest::TS_PID_PAT, vsktest::MakePat(pat));
    vsktest::PmtParams one;
    one.programNumber = 1;
    one.pcrPid = 0x0300;
    one.streams = {{0x03, 0x0300, {}}, {0x04, 0x0301, {}}};
    vsktest::PmtParams two;
    two.programNumber = 2;
    two.pcrPid = 0x0310;
    two.streams = {{0x02, 0x0310, {}}, {0x81, 0x0311, {}}, {0x81, 0x0312, {}}};
    b.AddSection(0x0100, vsktest::MakePmt(one));
    b.AddSection(0x0110, vsktest::MakePmt(two));
    b.AddPes(0x0301, Pes(0xC1, 111, 50));
    b.AddPes(0x0312, Pes(0xBD, 222, 50));
    b.AddNull(1);

    CStreamReader reader;
    StartReader(reader, b.Bytes());
    ASSERT_EQ(reader.NextUnits(), 1);
    ASSERT_EQ(reader.NextUnits(), 2);
    SUnitInfo u;
    ASSERT_EQ(reader.TakeUnit(u), RESULT_OK);
    EXPECT_EQ(u.kind, STREAM_KIND_TS188);
    EXPECT_EQ(u.programIndex, 0u);
    EXPECT_EQ(u.programNumber, 2);
    EXPECT_EQ(u.programCount, 2u);
    EXPECT_EQ(u.streamCount, 3u);
    EXPECT_EQ(u.streamIndex, 2u);
    EXPECT_EQ(u.streamType, 0x81u);
    EXPECT_EQ(u.header.pts, 222u);
    EXPECT_EQ(u.ordinal81, 1);
    EXPECT_EQ(u.videoOrdinal, ORDINAL_NONE);
    EXPECT_TRUE(u.classified);
    EXPECT_EQ(u.category, CATEGORY_AUDIO);
    EXPECT_EQ(u.codec, CODEC_AC3);
    EXPECT_EQ(u.subIndex, 1u);
    reader.ReleaseUnit(u);

    ASSERT_EQ(reader.TakeUnit(u), RESULT_OK);
    EXPECT_EQ(u.programIndex, 1u);
    EXPECT_EQ(u.programNumber, 1);
    EXPECT_EQ(u.streamIndex, 1u);
    EXPECT_EQ(u.audioOrdinal, 1);
    EXPECT_EQ(u.codec, CODEC_MPEG_AUDIO);
    EXPECT_EQ(u.subIndex, 1u);  // stream_id 0xC1
    EXPECT_EQ(u.streamId, 0x010000C1u);
    reader.ReleaseUnit(u);
    EXPECT_EQ(reader.TakeUnit(u), ResultNeedMoreData);
    EXPECT_EQ(u.payload, nullptr);
}

// A record released once more releases nothing: the unit that now waits
// in the same stream is another one, and stays.
TEST(UnitRecordTest, AStaleRecordReleasesNothing)
{
    vsktest::CTsStreamBuilder b;
    b.AddNull(4);
    AddTables(b, {{0x04, PID_A, {}}});
    b.AddPes(PID_A, Pes(0xC0, 100, 20));
    b.AddPes(PID_A, Pes(0xC0, 200, 20));
    CStreamReader reader;
    StartReader(reader, b.Bytes());
    ASSERT_EQ(reader.NextUnits(), 1);
    SUnitInfo first;
    ASSERT_EQ(reader.TakeUnit(first), RESULT_OK);
    reader.ReleaseUnit(first);
    ASSERT_EQ(reader.NextUnits(), 1);
    reader.ReleaseUnit(first);
    SUnitInfo second;
    ASSERT_EQ(reader.TakeUnit(second), RESULT_OK);
    EXPECT_EQ(second.header.pts, 200u);
}

// In a TSMV program a private stream's packet that carries exactly 181 bytes
// of transport private data is a unit by itself, taken before any other;
// any other packet of the stream is an anomaly.
TEST(UnitRecordTest, PrivatePacketsOfTsmvProgramsAreUnitsOfTheirOwn)
{
    vsktest::CTsStreamBuilder b;
    b.AddNull(4);
    AddTables(b, {{0x04, PID_A, {}}, {0xA0, PID_B, {}}}, Registration("TSMV"));
    vsktest::TsPacket privatePacket;
    privatePacket.pid = PID_B;
    vsktest::AdaptationField field;
    Bytes data(181);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<std::uint8_t>(i);
    field.privateData = data;
    privatePacket.adaptation = field;
    b.AddPes(PID_A, Pes(0xC0, 5, 20));
    const std::size_t unit = b.Add(privatePacket);
    field.privateData = Bytes(180, 0x00);
    privatePacket.adaptation = field;
    const std::size_t wrong = b.Add(privatePacket);

    CStreamReader reader;
    StartReader(reader, b.Bytes());
    // The audio unit completes first; the private one, after it, is taken
    // before it all the same.
    ASSERT_EQ(reader.NextUnits(), 1);
    ASSERT_EQ(reader.NextUnits(), 2);
    SUnitInfo u;
    ASSERT_EQ(reader.TakeUnit(u), RESULT_OK);
    EXPECT_EQ(Bytes(u.payload, u.payload + u.payloadLength), data);
    EXPECT_EQ(u.position, static_cast<std::int64_t>(b.UnitOffset(unit)));
    EXPECT_EQ(u.spanLength, 188u);
    EXPECT_EQ(u.packetCount, 1u);
    EXPECT_EQ(u.codec, CODEC_TSMV_PRIVATE);
    EXPECT_EQ(u.streamId, 0x00030000u);
    reader.ReleaseUnit(u);
    ASSERT_EQ(reader.TakeUnit(u), RESULT_OK);
    EXPECT_EQ(u.header.pts, 5u);
    reader.ReleaseUnit(u);
    EXPECT_EQ(reader.NextUnits(), 0);
    EXPECT_EQ(reader.TransportStream()->Anomalies().code, AnomalyPrivateDataLength);
    EXPECT_EQ(reader.TransportStream()->Anomalies().position, static_cast<std::int64_t>(b.UnitOffset(wrong)));
}

// The four bytes ahead of an SESF 0x80 unit's audio: its fields become the
// record's codes; a payload too short to hold them makes the unit malformed.
TEST(UnitRecordTest, SesfAudioHeaderGivesTheAudioCodes)
{
    struct SCase {
        std::uint8_t channels, sampling, bits;
        std::uint8_t channelCode, samplingCode, bitsCode;
    };
    const std::vector<SCase> cases = {
        {1, 4, 2, 1, 1, 1}, {3, 5, 3, 1, 2, 2}, {4, 1, 1, 3, 0, 0}, {7, 4, 2, 3, 1, 1},
        {8, 4, 2, 5, 1, 1}, {9, 4, 2, 5, 1, 1}, {10, 4, 2, 7, 1, 1}, {11, 5, 0, 7, 2, 0}, {2, 4, 2, 0, 1, 1},
    };
    vsktest::CTsStreamBuilder b;
    b.AddNull(4);
    AddTables(b, {{0x80, PID_A, {}}}, Registration("SESF"));
    for (const SCase& c : cases) {
        Bytes payload = {0x01, 0x00, static_cast<std::uint8_t>(c.channels << 4 | c.sampling),
                         static_cast<std::uint8_t>(c.bits << 6 | 0x20)};
        payload.insert(payload.end(), 8, 0x5A);
        vsktest::PesParams p;
        p.streamId = 0xBD;
        p.pts = 10;
        p.payload = payload;
        b.AddPes(PID_A, vsktest::MakePes(p));
    }
    const std::size_t shortUnit = b.AddPes(PID_A, Pes(0xBD, 10, 3));
    const SRun run = ReadUnits(b.Bytes());
    ASSERT_EQ(run.units.size(), cases.size());
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(i);
        const SUnitInfo& u = run.units[i].info;
        EXPECT_EQ(u.channelCode, cases[i].channelCode);
        EXPECT_EQ(u.samplingCode, cases[i].samplingCode);
        EXPECT_EQ(u.bitsPerSampleCode, cases[i].bitsCode);
        EXPECT_EQ(run.units[i].payload, Bytes(8, 0x5A));
        EXPECT_EQ(u.codec, CODEC_LPCM);
        EXPECT_EQ(u.streamId, 0x0000A0BDu);
    }
    EXPECT_EQ(run.pending.code, AnomalyPesMalformed);
    EXPECT_EQ(run.pending.position, static_cast<std::int64_t>(b.UnitOffset(shortUnit)));
}

// ---------------------------------------------------------------------------
// Classification

TEST(ClassificationTest, StreamsAreClassifiedAndPackedByTheTable)
{
    struct SCase {
        const char* name;
        std::uint32_t kind;
        std::uint32_t streamType;
        std::uint32_t system;
        std::uint8_t pesId;
        std::uint8_t subStream;
        std::uint16_t ordinal81, ordinal80;
        std::uint32_t program;
        bool classified;
        std::uint32_t category, codec, subIndex, streamId;
    };
    constexpr std::uint32_t TS = STREAM_KIND_TS188;
    constexpr std::uint32_t PS = STREAM_KIND_PROGRAM;
    constexpr std::uint16_t NO = ORDINAL_NONE;
    const std::vector<SCase> cases = {
        {"MPEG-2 video", TS, 0x02, SystemNone, 0xE3, 0, NO, NO, 5, true, CATEGORY_VIDEO, CODEC_MPEG_VIDEO, 3, 0x050000E3},
        {"AVC", TS, 0x1B, SystemNone, 0xE0, 0, NO, NO, 0, true, CATEGORY_VIDEO, CODEC_AVC, 0, 0x000400E0},
        {"HDMV 0x90", TS, 0x90, SystemHDMV, 0xE1, 0, NO, NO, 1, true, CATEGORY_VIDEO, 0x30018, 1, 0x010400E1},
        {"MPEG audio 0xDF", TS, 0x04, SystemNone, 0xDF, 0, NO, NO, 0, true, CATEGORY_AUDIO, CODEC_MPEG_AUDIO, 31,
         0x000000DF},
        {"AC-3 ordinal 7", TS, 0x81, SystemNone, 0xBD, 0, 7, NO, 2, true, CATEGORY_AUDIO, CODEC_AC3, 7, 0x020087BD},
        {"AC-3 ordinal 8 is out of range", TS, 0x81, SystemNone, 0xBD, 0, 8, NO, 0, false, CATEGORY_AUDIO, CODEC_AC3,
         8, 0},
        {"SESF LPCM", TS, 0x80, SystemSESF, 0xBD, 0, NO, 2, 0, true, CATEGORY_AUDIO, CODEC_LPCM, 2, 0x0000A2BD},
        {"TSHV 0xA1", TS, 0xA1, SystemTSHV, 0xBF, 0, NO, NO, 3, true, CATEGORY_PRIVATE_DATA, 0x30011, 0, 0x03030002},
        {"program index 256", TS, 0x02, SystemNone, 0xE0, 0, NO, NO, 256, false, CATEGORY_VIDEO, CODEC_MPEG_VIDEO, 0,
         0},
        {"unknown type", TS, 0x06, SystemSESF, 0xBD, 0, NO, NO, 0, false, 0, 0, 0, 0},
        {"PS video", PS, 0xEF, SystemNone, 0xEF, 0, NO, NO, 0, true, CATEGORY_VIDEO, CODEC_MPEG_VIDEO, 15, 0x000000EF},
        {"PS AC-3 sub-stream 0x83", PS, 0xBD, SystemNone, 0xBD, 0x83, NO, NO, 0, true, CATEGORY_AUDIO, CODEC_AC3, 3,
         0x000083BD},
        {"PS LPCM sub-stream 0xA1", PS, 0xBD, SystemNone, 0xBD, 0xA1, NO, NO, 0, true, CATEGORY_AUDIO, CODEC_LPCM, 1,
         0x0000A1BD},
        {"PS sub-picture", PS, 0xBD, SystemNone, 0xBD, 0xB2, NO, NO, 0, true, CATEGORY_PROGRAM_STREAM_PRIVATE, 0x30024,
         0, 0x0000B2BD},
        {"PS private 2, PCI", PS, 0xBF, SystemNone, 0xBF, 0xB0, NO, NO, 0, true, CATEGORY_PROGRAM_STREAM_PRIVATE,
         0x30022, 0, 0x0000B0BF},
        {"PS private 2, nothing known", PS, 0xBF, SystemNone, 0xBF, 0, NO, NO, 0, true,
         CATEGORY_PROGRAM_STREAM_PRIVATE, 0x30021, 0, 0x000000BF},
        {"PS program stream map", PS, 0xBC, SystemNone, 0xBC, 0, NO, NO, 0, false, 0, 0, 0, 0},
    };
    CSsidStreamId ssid;
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.name);
        SUnitInfo u;
        u.kind = c.kind;
        u.streamType = c.streamType;
        u.system = c.system;
        u.header.streamId = c.pesId;
        u.subStreamId = c.subStream;
        u.ordinal81 = c.ordinal81;
        u.ordinal80 = c.ordinal80;
        u.programIndex = c.program;
        ssid.Classify(u);
        EXPECT_EQ(u.classified, c.classified);
        EXPECT_EQ(u.category, c.category);
        EXPECT_EQ(u.codec, c.codec);
        EXPECT_EQ(u.subIndex, c.subIndex);
        EXPECT_EQ(u.streamId, c.streamId);
    }
}

}  // namespace
}  // namespace parser
