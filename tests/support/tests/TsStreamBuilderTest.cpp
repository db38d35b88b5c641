#include "vsktest/PsiSections.h"
#include "vsktest/TsStreamBuilder.h"

#include <gtest/gtest.h>

namespace {

using namespace vsktest;
using Bytes = std::vector<std::uint8_t>;

const std::uint8_t* PacketAt(const CTsStreamBuilder& b, std::size_t index)
{
    return b.Bytes().data() + b.PacketOffset(index);
}

std::uint8_t Continuity(const CTsStreamBuilder& b, std::size_t index)
{
    return PacketAt(b, index)[3] & 0x0Fu;
}

// The payload bytes of an encoded packet (after any adaptation field).
Bytes PayloadOf(const std::uint8_t* p)
{
    std::size_t start = 4;
    if (p[3] & 0x20u)
        start += 1 + p[4];
    if (!(p[3] & 0x10u))
        return {};
    return Bytes(p + start, p + TS_PACKET_SIZE);
}

struct HeaderCase
{
    const char* name;
    TsPacket packet;
    std::uint8_t b1, b2, b3;  // header bytes after the sync byte, counter 0
};

TEST(TsPacket, HeaderFieldsLandOnTheirBits)
{
    auto make = [](std::uint16_t pid, bool pusi, bool tei, bool prio, std::uint8_t scr) {
        TsPacket p;
        p.pid = pid;
        p.payloadUnitStart = pusi;
        p.transportError = tei;
        p.transportPriority = prio;
        p.scrambling = scr;
        p.payload = Bytes(184, 0xAA);
        return p;
    };
    const HeaderCase cases[] = {
        {"pat", make(0x0000, true, false, false, 0), 0x40, 0x00, 0x10},
        {"max pid", make(0x1FFF, false, false, false, 0), 0x1F, 0xFF, 0x10},
        {"error bit", make(0x0100, false, true, false, 0), 0x81, 0x00, 0x10},
        {"priority", make(0x0ABC, false, false, true, 0), 0x2A, 0xBC, 0x10},
        {"scrambled odd", make(0x0011, true, false, false, 3), 0x40, 0x11, 0xD0},
    };
    for (const HeaderCase& c : cases) {
        const auto bytes = EncodeTsPacket(c.packet, 0);
        EXPECT_EQ(bytes[0], 0x47) << c.name;
        EXPECT_EQ(bytes[1], c.b1) << c.name;
        EXPECT_EQ(bytes[2], c.b2) << c.name;
        EXPECT_EQ(bytes[3], c.b3) << c.name;
    }
}

TEST(TsPacket, PcrAndAdaptationFlagsMatchHandEncodedBytes)
{
    // PCR base 0x1_2345_6789 then six reserved ones then extension 0x0AB:
    // (base << 15) | (0x3F << 9) | 0x0AB = 0x91A2B3C4FEAB.
    EXPECT_EQ(EncodePcr(0x123456789ull, 0x0AB), (std::array<std::uint8_t, 6>{0x91, 0xA2, 0xB3, 0xC4, 0xFE, 0xAB}));

    TsPacket p;
    p.pid = 0x0100;
    AdaptationField af;
    af.discontinuity = true;
    af.randomAccess = true;
    af.pcrBase = 0x123456789ull;
    af.pcrExtension = 0x0AB;
    af.spliceCountdown = -2;
    af.privateData = Bytes{0xDE, 0xAD};
    p.adaptation = af;
    p.payload = Bytes(10, 0x11);
    const auto bytes = EncodeTsPacket(p, 5);
    EXPECT_EQ(bytes[3], 0x35);  // adaptation field and payload, counter 5
    // flags, PCR, splice_countdown, private data length and bytes: 11.
    const Bytes field(bytes.begin() + 4, bytes.begin() + 4 + 13);
    EXPECT_EQ(field, (Bytes{11, 0xD6, 0x91, 0xA2, 0xB3, 0xC4, 0xFE, 0xAB, 0xFE, 0x02, 0xDE, 0xAD, 0x11}));
    // Payload stuffing by default: the rest of the packet is 0xFF.
    EXPECT_EQ(bytes[16 + 9], 0x11);
    EXPECT_EQ(bytes[16 + 10], 0xFF);
    EXPECT_EQ(bytes[187], 0xFF);
}

TEST(TsPacket, AdaptationStuffingFillsThePacketExactly)
{
    struct Case { std::size_t payload; std::uint8_t afc; int fieldLength; };
    const Case cases[] = {
        {184, 0x10, -1},  // full payload: no field at all
        {183, 0x30, 0},   // one spare byte: the length byte alone
        {182, 0x30, 1},   // two: length and flags
        {100, 0x30, 83},
        {0, 0x20, 183},   // no payload: the field spans the packet
    };
    for (const Case& c : cases) {
        TsPacket p;
        p.pid = 0x0200;
        p.fill = TsFill::AdaptationStuffing;
        p.payload = Bytes(c.payload, 0x22);
        const auto bytes = EncodeTsPacket(p, 0);
        EXPECT_EQ(bytes[3] & 0x30u, c.afc) << c.payload;
        std::size_t payloadStart = 4;
        if (c.fieldLength >= 0) {
            EXPECT_EQ(bytes[4], c.fieldLength) << c.payload;
            if (c.fieldLength > 0) {
                EXPECT_EQ(bytes[5], 0x00) << "no flags";
            }
            for (int i = 2; i <= c.fieldLength; ++i)
                EXPECT_EQ(bytes[4 + i], 0xFF) << c.payload;
            payloadStart += 1 + static_cast<std::size_t>(c.fieldLength);
        }
        EXPECT_EQ(payloadStart + c.payload, TS_PACKET_SIZE) << c.payload;
        for (std::size_t i = payloadStart; i < TS_PACKET_SIZE; ++i)
            ASSERT_EQ(bytes[i], 0x22) << c.payload;
    }
}

TEST(TsPacket, MalformedFieldsAreWrittenAsAsked)
{
    TsPacket p;
    p.pid = 0x0300;
    AdaptationField af;
    af.lengthOverride = 200;
    p.adaptation = af;
    p.adaptationFieldControl = 0;
    p.payload = Bytes{1, 2, 3};
    const auto bytes = EncodeTsPacket(p, 9);
    EXPECT_EQ(bytes[3], 0x09);
    EXPECT_EQ(bytes[4], 200);
    EXPECT_EQ(bytes[6], 1);

    TsPacket tooBig;
    tooBig.payload = Bytes(185, 0);
    EXPECT_THROW(EncodeTsPacket(tooBig, 0), std::invalid_argument);
    TsPacket fieldAndFull;
    fieldAndFull.adaptation = AdaptationField{};
    fieldAndFull.payload = Bytes(184, 0);
    EXPECT_THROW(EncodeTsPacket(fieldAndFull, 0), std::invalid_argument);
}

TEST(TsStreamBuilder, ContinuityCountersRunPerPidAndWrapAtSixteen)
{
    CTsStreamBuilder b;
    TsPacket video;
    video.pid = 0x0100;
    TsPacket audio;
    audio.pid = 0x0101;
    for (int i = 0; i < 20; ++i)
        b.Add(video);
    b.Add(audio);
    for (int i = 0; i < 20; ++i)
        EXPECT_EQ(Continuity(b, static_cast<std::size_t>(i)), i % 16) << i;
    EXPECT_EQ(Continuity(b, 20), 0) << "another PID counts on its own";
    EXPECT_EQ(b.NextContinuity(0x0100), 4);

    // A packet without payload repeats the last counter and does not advance.
    TsPacket fieldOnly;
    fieldOnly.pid = 0x0100;
    fieldOnly.adaptation = AdaptationField{};
    const std::size_t f = b.Add(fieldOnly);
    EXPECT_EQ(PacketAt(b, f)[3] & 0x30u, 0x20u);
    EXPECT_EQ(Continuity(b, f), 3);
    EXPECT_EQ(Continuity(b, b.Add(video)), 4);

    // An override makes a discontinuity and the count goes on from it.
    TsPacket jump = video;
    jump.continuityCounter = 9;
    EXPECT_EQ(Continuity(b, b.Add(jump)), 9);
    EXPECT_EQ(Continuity(b, b.Add(video)), 10);
    b.SetNextContinuity(0x0100, 15);
    EXPECT_EQ(Continuity(b, b.Add(video)), 15);
    EXPECT_EQ(Continuity(b, b.Add(video)), 0);
}

TEST(TsStreamBuilder, PrefixesOf192ByteUnits)
{
    EXPECT_EQ(EncodeArrivalTimePrefix(0x12345678, 1), (std::array<std::uint8_t, 4>{0x52, 0x34, 0x56, 0x78}));
    EXPECT_EQ(EncodeArrivalTimePrefix(0xFFFFFFFF, 0), (std::array<std::uint8_t, 4>{0x3F, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(EncodeArrivalTimePrefix(0, 3), (std::array<std::uint8_t, 4>{0xC0, 0x00, 0x00, 0x00}));

    CTsStreamBuilder zero(192);
    zero.AddNull(2);
    ASSERT_EQ(zero.Bytes().size(), 384u);
    EXPECT_EQ(Bytes(zero.Bytes().begin(), zero.Bytes().begin() + 5), (Bytes{0, 0, 0, 0, 0x47}));
    EXPECT_EQ(zero.Bytes()[196], 0x47);
    EXPECT_EQ(zero.UnitOffset(1), 192u);
    EXPECT_EQ(zero.PacketOffset(1), 196u);

    // The arrival time runs on per packet and wraps at 2^30; the
    // copy-permission bits stay.
    CTsStreamBuilder timed(192);
    timed.SetArrivalTime(0x3FFFFFFE, 1, 2);
    timed.AddNull(3);
    const Bytes& t = timed.Bytes();
    EXPECT_EQ(Bytes(t.begin(), t.begin() + 4), (Bytes{0xBF, 0xFF, 0xFF, 0xFE}));
    EXPECT_EQ(Bytes(t.begin() + 192, t.begin() + 196), (Bytes{0xBF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(Bytes(t.begin() + 384, t.begin() + 388), (Bytes{0x80, 0x00, 0x00, 0x00}));

    CTsStreamBuilder custom(192);
    custom.SetCustomPrefix([](std::size_t i) {
        return std::array<std::uint8_t, 4>{0x47, static_cast<std::uint8_t>(i), 0x47, 0x47};
    });
    custom.AddNull(2);
    EXPECT_EQ(Bytes(custom.Bytes().begin() + 192, custom.Bytes().begin() + 197), (Bytes{0x47, 1, 0x47, 0x47, 0x47}));

    EXPECT_THROW(CTsStreamBuilder(204), std::invalid_argument);
}

TEST(TsStreamBuilder, DamageHitsTheNamedPacketOnly)
{
    CTsStreamBuilder b(192);
    b.AddNull(4);
    const Bytes before = b.Bytes();
    b.BreakSync(1);
    b.SetTransportError(2);
    EXPECT_EQ(b.Bytes()[192 + 4], 0x00);
    EXPECT_EQ(b.Bytes()[384 + 5], before[384 + 5] | 0x80);
    std::size_t changed = 0;
    for (std::size_t i = 0; i < before.size(); ++i)
        changed += before[i] != b.Bytes()[i];
    EXPECT_EQ(changed, 2u);

    b.TruncateLastUnit(100);
    EXPECT_EQ(b.Bytes().size(), 3u * 192u + 100u);
    EXPECT_THROW(b.TruncateLastUnit(192), std::invalid_argument);
    EXPECT_THROW(b.BreakSync(9), std::out_of_range);

    const Bytes junk{1, 2, 3};
    b.AddRaw(junk);
    const std::size_t next = b.AddNull();
    EXPECT_EQ(b.UnitOffset(next), 3u * 192u + 100u + 3u) << "offsets follow bytes outside the grid";
}

// Collects the section bytes that a reader following pointer_field and
// payload_unit_start_indicator would see, from the first section start on.
Bytes ReassembleSections(const std::vector<TsPacket>& packets, std::vector<std::uint8_t>* pointers = nullptr)
{
    CTsStreamBuilder b;
    b.Add(packets);
    Bytes out;
    bool started = false;
    for (std::size_t i = 0; i < packets.size(); ++i) {
        Bytes payload = PayloadOf(PacketAt(b, i));
        std::size_t from = 0;
        if (PacketAt(b, i)[1] & 0x40u) {
            if (pointers)
                pointers->push_back(payload[0]);
            from = 1;
            if (!started) {
                from += payload[0];
                started = true;
            }
        }
        if (started)
            out.insert(out.end(), payload.begin() + static_cast<std::ptrdiff_t>(from), payload.end());
    }
    return out;
}

TEST(TsStreamBuilder, SectionsSplitAcrossPacketsReassembleExactly)
{
    PmtParams pmt;
    pmt.pcrPid = 0x0100;
    for (std::uint16_t i = 0; i < 60; ++i)
        pmt.streams.push_back({0x06, static_cast<std::uint16_t>(0x0200 + i), {}});
    const Bytes section = MakePmt(pmt);  // 321 bytes: needs two packets
    const auto packets = PacketizeSections(0x0100, {section});
    ASSERT_EQ(packets.size(), 2u);
    EXPECT_TRUE(packets[0].payloadUnitStart);
    EXPECT_FALSE(packets[1].payloadUnitStart);
    const Bytes seen = ReassembleSections(packets);
    ASSERT_GE(seen.size(), section.size());
    EXPECT_EQ(Bytes(seen.begin(), seen.begin() + static_cast<std::ptrdiff_t>(section.size())), section);
    for (std::size_t i = section.size(); i < seen.size(); ++i)
        ASSERT_EQ(seen[i], 0xFF) << "stuffing after the section";

    // Small pieces: every packet but the last is padded by adaptation
    // stuffing, never by 0xFF inside the section.
    SectionPacketOptions small;
    small.maxPayloadPerPacket = 8;
    PatParams pat;
    pat.entries = {{1, 0x1000}};
    const Bytes patBytes = MakePat(pat);
    const auto pieces = PacketizeSections(0, {patBytes}, small);
    ASSERT_EQ(pieces.size(), 3u);  // 1 + 7, 8, 1
    const Bytes again = ReassembleSections(pieces);
    EXPECT_EQ(Bytes(again.begin(), again.begin() + 16), patBytes);
    CTsStreamBuilder b;
    b.Add(pieces);
    EXPECT_EQ(PacketAt(b, 0)[3] & 0x30u, 0x30u);
    EXPECT_EQ(PacketAt(b, 1)[3] & 0x30u, 0x30u);
}

TEST(TsStreamBuilder, PointerFieldLocatesEachSectionStart)
{
    PatParams pat;
    pat.entries = {{1, 0x1000}};
    const Bytes a = MakePat(pat);  // 16 bytes
    pat.version = 1;
    const Bytes c = MakePat(pat);

    SectionPacketOptions opts;
    opts.leadingBytes = Bytes(5, 0xEE);  // tail of an earlier section
    const auto packets = PacketizeSections(0, {a, c}, opts);
    ASSERT_EQ(packets.size(), 1u);
    CTsStreamBuilder b;
    b.Add(packets);
    const Bytes payload = PayloadOf(PacketAt(b, 0));
    EXPECT_EQ(payload[0], 5);
    EXPECT_EQ(Bytes(payload.begin() + 6, payload.begin() + 22), a);
    EXPECT_EQ(Bytes(payload.begin() + 22, payload.begin() + 38), c);

    // A section that would begin on a packet's last byte begins in the next
    // packet instead, so pointer_field never points outside its packet.
    SectionPacketOptions edge;
    edge.maxPayloadPerPacket = 17;  // pointer + 16 bytes of the first PAT
    edge.leadingBytes.clear();
    const auto split = PacketizeSections(0, {a, c}, edge);
    std::vector<std::uint8_t> seenPointers;
    ReassembleSections(split, &seenPointers);
    ASSERT_GE(split.size(), 2u);
    EXPECT_TRUE(split[1].payloadUnitStart);
    EXPECT_EQ(seenPointers, (std::vector<std::uint8_t>{0, 0}));

    SectionPacketOptions tail;
    tail.maxPayloadPerPacket = 17;
    tail.leadingBytes = Bytes(16, 0xEE);  // the section would start on byte 17 of 17
    const auto shifted = PacketizeSections(0, {a}, tail);
    ASSERT_EQ(shifted.size(), 2u);
    EXPECT_FALSE(shifted[0].payloadUnitStart);
    EXPECT_EQ(shifted[0].payload, [] { Bytes t(16, 0xEE); t.push_back(0xFF); return t; }());
    EXPECT_TRUE(shifted[1].payloadUnitStart);
    EXPECT_EQ(shifted[1].payload[0], 0);
    EXPECT_EQ(Bytes(shifted[1].payload.begin() + 1, shifted[1].payload.end()), a);

    SectionPacketOptions own;
    own.sectionPerPacket = true;
    EXPECT_EQ(PacketizeSections(0, {a, c}, own).size(), 2u);
}

TEST(TsStreamBuilder, PesSplitsWithPcrFirstAndStuffingLast)
{
    Bytes pes(400);
    for (std::size_t i = 0; i < pes.size(); ++i)
        pes[i] = static_cast<std::uint8_t>(i);
    PesPacketOptions opts;
    opts.pcrBase = 1000;
    opts.randomAccess = true;
    CTsStreamBuilder b;
    const std::size_t first = b.AddPes(0x0100, pes, opts);
    ASSERT_EQ(b.PacketCount(), 3u);  // 176 + 184 + 40
    const std::uint8_t* p0 = PacketAt(b, first);
    EXPECT_EQ(p0[1] & 0x40u, 0x40u);
    EXPECT_EQ(p0[4], 7);
    EXPECT_EQ(p0[5], 0x50);  // random_access_indicator and PCR_flag
    EXPECT_EQ(PacketAt(b, 1)[1] & 0x40u, 0u);
    EXPECT_EQ(PacketAt(b, 2)[4], 184 - 40 - 1);

    Bytes joined;
    for (std::size_t i = 0; i < 3; ++i) {
        const Bytes part = PayloadOf(PacketAt(b, i));
        joined.insert(joined.end(), part.begin(), part.end());
    }
    EXPECT_EQ(joined, pes);
    EXPECT_EQ(Continuity(b, 2), 2);

    PesPacketOptions tiny;
    tiny.maxPayloadPerPacket = 50;
    EXPECT_EQ(PacketizePes(0x0100, pes, tiny).size(), 8u);
}

}  // namespace
