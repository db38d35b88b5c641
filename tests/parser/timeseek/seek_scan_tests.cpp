// The header scan against the demultiplexer: on recordings damaged in one way
// every megabyte or so, read from several offsets, the scan must give the
// demultiplexer's units of the compared stream, one for one (position, time
// stamps, payload length), and either follow the damage to the end or give
// up on it, having given only units the demultiplexer gives too.
#include "SeekScan.h"
#include "StreamReader.h"
#include "TimeSeek.h"
#include "UnitInfo.h"

#include "vsktest/PsiSections.h"
#include "vsktest/Recording.h"
#include "vsktest/TsStreamBuilder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace parser {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint16_t PMT_PID = 0x0100;
constexpr std::uint16_t VIDEO_PID = 0x0200;
constexpr std::uint16_t AUDIO_PID = 0x0201;

struct SUnitKey {
    std::int64_t position = 0;
    std::uint8_t ptsDtsFlags = 0;
    std::uint64_t pts = 0;
    std::uint64_t dts = 0;
    std::uint32_t payloadLength = 0;
    std::int64_t discontinuity = -1;
    bool operator==(const SUnitKey&) const = default;
};

void PrintTo(const SUnitKey& k, std::ostream* os)
{
    *os << "{at " << k.position << ", flags " << int{k.ptsDtsFlags} << ", pts " << k.pts << ", dts " << k.dts
        << ", " << k.payloadLength << " bytes, new clock at " << k.discontinuity << "}";
}

SUnitKey Key(const SUnitInfo& u)
{
    return SUnitKey{u.position,      u.header.ptsDtsFlags, u.header.pts,
                    u.header.dts,    u.payloadLength,      u.pcr.discontinuityPosition};
}

struct SUnits {
    std::vector<SUnitKey> units;
    bool scanned = false;
    bool abandoned = false;
};

// Reads `file` from `from` as a seek pass does (64 KiB pieces, every unit
// taken and released), keeping the units of the compared stream; with
// `scan`, the header scan takes over as soon as it can.
SUnits ReadUnits(const Bytes& file, std::size_t from, bool scan)
{
    CStreamReader reader;
    EXPECT_EQ(reader.Initialize(), RESULT_OK);
    reader.Configure(2, 4, 0xFF, 0x20000, 0);
    CSeekScan seekScan;
    SUnits out;
    const auto follow = [&] {
        SUnitInfo unit;
        for (;;) {
            const EScan scanned = seekScan.Next(unit);
            if (scanned == EScan::NeedMoreData)
                return true;
            if (scanned == EScan::Abandoned) {
                out.abandoned = true;
                return false;
            }
            out.units.push_back(Key(unit));
        }
    };
    for (std::size_t at = from; at < file.size(); at += 0x10000) {
        const std::size_t length = std::min<std::size_t>(0x10000, file.size() - at);
        if (out.scanned) {
            seekScan.Append(file.data() + at, length);
            if (!follow())
                break;
            continue;
        }
        if (reader.Feed(file.data() + at, static_cast<std::uint32_t>(length)) != RESULT_OK)
            break;
        std::int32_t n = 0;
        while ((n = reader.NextUnits()) > 0) {
            SUnitInfo unit;
            EXPECT_EQ(reader.TakeUnit(unit), RESULT_OK);
            if (TimeSeekVideoType(unit.streamType) && unit.programIndex < TIME_SEEK_PROGRAMS)
                out.units.push_back(Key(unit));
            reader.ReleaseUnit(unit);
        }
        if (n < 0)
            break;
        if (scan && seekScan.Begin(reader, VIDEO_PID)) {
            out.scanned = true;
            if (!follow())
                break;
        }
    }
    return out;
}

std::uint32_t PidAt(const Bytes& b, std::size_t at)
{
    return ((b[at + 1] & 0x1Fu) << 8) | b[at + 2];
}

// Packets of `pid` (with payload_unit_start_indicator `start`, unless
// either) about every megabyte from 1 MB on, last first, so that inserting or
// removing bytes at one leaves the others in place.
std::vector<std::size_t> Places(const Bytes& b, std::size_t unitSize, std::uint16_t pid, std::optional<bool> start)
{
    std::vector<std::size_t> found;
    const std::size_t prefix = unitSize - 188;
    for (std::size_t at = 1000000 / unitSize * unitSize; at + unitSize <= b.size(); at += unitSize) {
        if (PidAt(b, at + prefix) != pid || (start && ((b[at + prefix + 1] & 0x40u) != 0) != *start))
            continue;
        found.insert(found.begin(), at + prefix);
        at += 1000000 / unitSize * unitSize;
    }
    return found;
}

std::size_t PayloadAt(const Bytes& b, std::size_t packet)
{
    return packet + 4 + ((b[packet + 3] & 0x20u) != 0 ? 1 + b[packet + 4] : 0);
}

// The map section of the recording, or one of another version or video PID,
// in one packet; or, with `spread`, in packets of 100 section bytes, each
// with an adaptation field, after descriptors that make it span several.
Bytes PmtPackets(std::uint8_t version, std::uint16_t videoPid, bool spread = false)
{
    vsktest::PmtParams pmt;
    pmt.version = version;
    pmt.pcrPid = VIDEO_PID;
    pmt.streams = {{0x02, videoPid, {}}, {0x04, AUDIO_PID, {}}};
    if (spread)
        pmt.programInfo = vsktest::MakeDescriptor(0x80, Bytes(200, 0x5A));
    vsktest::CTsStreamBuilder b;
    if (!spread) {
        b.AddSection(PMT_PID, vsktest::MakePmt(pmt));
        return b.Take();
    }
    vsktest::SectionPacketOptions options;
    options.maxPayloadPerPacket = 100;
    std::vector<vsktest::TsPacket> packets = vsktest::PacketizeSections(PMT_PID, {vsktest::MakePmt(pmt)}, options);
    for (vsktest::TsPacket& packet : packets)
        packet.adaptation = vsktest::AdaptationField{};
    b.Add(packets);
    return b.Take();
}

void InsertAt(Bytes& b, std::size_t at, const Bytes& bytes)
{
    b.insert(b.begin() + static_cast<std::ptrdiff_t>(at), bytes.begin(), bytes.end());
}

Bytes Slice(const Bytes& b, std::size_t at, std::size_t length)
{
    return Bytes(b.begin() + static_cast<std::ptrdiff_t>(at), b.begin() + static_cast<std::ptrdiff_t>(at + length));
}

enum EScanExpected { FOLLOWS, GIVES_UP };
using Damage = std::function<void(Bytes&, std::size_t unitSize)>;

struct SCase {
    const char* name;
    std::size_t unitSize;
    EScanExpected expected;
    Damage damage;
};

const std::vector<SCase>& Cases()
{
    static const std::vector<SCase> cases = {
        {"no damage", 188, FOLLOWS, [](Bytes&, std::size_t) {}},
        {"192-byte units", 192, FOLLOWS, [](Bytes&, std::size_t) {}},
        {"repeated packets, unit starts among them", 188, FOLLOWS,
         [](Bytes& b, std::size_t u) {
             for (const std::size_t at : Places(b, u, VIDEO_PID, std::nullopt))
                 InsertAt(b, at, Slice(b, at, u));
             for (const std::size_t at : Places(b, u, VIDEO_PID, true))
                 InsertAt(b, at, Slice(b, at, u));
         }},
        {"lost packets, unit starts among them", 188, FOLLOWS,
         [](Bytes& b, std::size_t u) {
             for (const std::size_t at : Places(b, u, VIDEO_PID, std::nullopt))
                 b.erase(b.begin() + static_cast<std::ptrdiff_t>(at), b.begin() + static_cast<std::ptrdiff_t>(at + u));
             for (const std::size_t at : Places(b, u, VIDEO_PID, true))
                 b.erase(b.begin() + static_cast<std::ptrdiff_t>(at), b.begin() + static_cast<std::ptrdiff_t>(at + u));
         }},
        {"error indicator on unit starts", 188, FOLLOWS,
         [](Bytes& b, std::size_t u) {
             for (const std::size_t at : Places(b, u, VIDEO_PID, true))
                 b[at + 1] |= 0x80;
         }},
        {"damaged adaptation fields and packets without payload", 188, FOLLOWS,
         [](Bytes& b, std::size_t u) {
             int kind = 0;
             for (const std::size_t at : Places(b, u, VIDEO_PID, false)) {
                 switch (kind++ % 4) {
                 case 0:  // longer than a packet
                     b[at + 3] |= 0x30;
                     b[at + 4] = 0xB8;
                     break;
                 case 1:  // neither field nor payload
                     b[at + 3] &= 0xCF;
                     break;
                 case 2:  // a field that fills the packet
                     b[at + 3] = static_cast<std::uint8_t>((b[at + 3] & 0xCF) | 0x30);
                     b[at + 4] = 183;
                     b[at + 5] = 0;
                     break;
                 default:  // a field alone
                     b[at + 3] = static_cast<std::uint8_t>((b[at + 3] & 0xCF) | 0x20);
                     b[at + 4] = 183;
                     b[at + 5] = 0;
                 }
             }
         }},
        {"a field alone, with the counter of the unit start behind it", 188, FOLLOWS,
         [](Bytes& b, std::size_t u) {
             // Its counter does not count: the start is no repeat.
             for (const std::size_t start : Places(b, u, VIDEO_PID, true)) {
                 std::size_t at = start - u;
                 while (PidAt(b, at) != VIDEO_PID)
                     at -= u;
                 b[at + 3] = static_cast<std::uint8_t>(0x20 | (b[start + 3] & 0x0F));
                 b[at + 4] = 183;
                 b[at + 5] = 0;
             }
         }},
        {"units without a start code, with damaged headers, of other stream ids", 188, FOLLOWS,
         [](Bytes& b, std::size_t u) {
             int kind = 0;
             for (const std::size_t at : Places(b, u, VIDEO_PID, true)) {
                 const std::size_t pes = PayloadAt(b, at);
                 switch (kind++ % 3) {
                 case 0:
                     b[pes + 2] = 0xF0;
                     break;
                 case 1:  // PES_header_data_length beyond the unit
                     b[pes + 8] = 0xF0;
                     break;
                 default:  // program_stream_map: no data stream
                     b[pes + 3] = 0xBC;
                 }
             }
         }},
        {"program maps repeated", 188, FOLLOWS,
         [](Bytes& b, std::size_t u) {
             const Bytes packet = PmtPackets(0, VIDEO_PID);
             for (const std::size_t at : Places(b, u, PMT_PID, std::nullopt))
                 std::copy(packet.begin(), packet.end(), b.begin() + static_cast<std::ptrdiff_t>(at));
         }},
        {"a new program map moving the video", 188, GIVES_UP,
         [](Bytes& b, std::size_t u) {
             const std::vector<std::size_t> at = Places(b, u, PMT_PID, std::nullopt);
             const Bytes packet = PmtPackets(1, 0x0300);
             std::copy(packet.begin(), packet.end(), b.begin() + static_cast<std::ptrdiff_t>(at[at.size() / 2]));
         }},
        {"program maps over several packets with adaptation fields", 188, FOLLOWS,
         [](Bytes& b, std::size_t u) {
             for (const std::size_t at : Places(b, u, PMT_PID, std::nullopt))
                 InsertAt(b, at, PmtPackets(0, VIDEO_PID, true));
         }},
        {"a new program map over several packets", 188, GIVES_UP,
         [](Bytes& b, std::size_t u) {
             const std::vector<std::size_t> at = Places(b, u, PMT_PID, std::nullopt);
             InsertAt(b, at[at.size() / 2], PmtPackets(1, 0x0300, true));
         }},
        {"clock discontinuities on the PCR packets", 188, FOLLOWS,
         [](Bytes& b, std::size_t u) {
             for (const std::size_t at : Places(b, u, VIDEO_PID, true)) {
                 if ((b[at + 3] & 0x20u) != 0 && b[at + 4] != 0)
                     b[at + 5] |= 0x80;
             }
         }},
        {"lost sync", 188, GIVES_UP,
         [](Bytes& b, std::size_t u) {
             for (const std::size_t at : Places(b, u, VIDEO_PID, false))
                 InsertAt(b, at, Bytes(7, 0x47));
         }},
        {"discontinuity information packets within units", 188, FOLLOWS,
         [](Bytes& b, std::size_t u) {
             Bytes packet(188, 0xFF);
             packet[0] = 0x47, packet[1] = 0x40, packet[2] = 0x1E, packet[3] = 0x10, packet[4] = 0;
             for (const std::size_t at : Places(b, u, VIDEO_PID, false))
                 InsertAt(b, at, packet);
         }},
        {"a unit beyond the capacity", 188, GIVES_UP,
         [](Bytes& b, std::size_t u) {
             // 3.2 MB of video without a unit start: one unit the
             // assembler cannot hold.
             for (std::size_t at = 4000000 / u * u; at < 7200000; at += u) {
                 if (PidAt(b, at) == VIDEO_PID)
                     b[at + 1] &= 0xBF;
             }
         }},
    };
    return cases;
}

TEST(SeekScanTest, GivesTheDemultiplexersUnitsOrGivesUp)
{
    for (const SCase& c : Cases()) {
        SCOPED_TRACE(c.name);
        vsktest::RecordingParams params;
        params.unitSize = c.unitSize;
        params.packetCount = 60000;  // 11 MB
        params.audio = true;
        params.psiInterval = 500;
        vsktest::Recording rec = vsktest::MakeRecording(params);
        c.damage(rec.bytes, c.unitSize);
        bool abandoned = false;
        for (const std::size_t from : {std::size_t{0}, std::size_t{1500001}, std::size_t{3000037}}) {
            SCOPED_TRACE(from);
            const SUnits plain = ReadUnits(rec.bytes, from, false);
            const SUnits scanned = ReadUnits(rec.bytes, from, true);
            ASSERT_TRUE(scanned.scanned);
            ASSERT_GT(plain.units.size(), 100u);
            abandoned = abandoned || scanned.abandoned;
            if (!scanned.abandoned) {
                EXPECT_EQ(scanned.units, plain.units);
                continue;
            }
            ASSERT_LE(scanned.units.size(), plain.units.size());
            EXPECT_TRUE(std::equal(scanned.units.begin(), scanned.units.end(), plain.units.begin()));
        }
        EXPECT_EQ(abandoned, c.expected == GIVES_UP);
    }
}

// A scan takes over only from a running demultiplexer, and follows the
// compared stream by its PID: either of two video streams, but not an
// audio stream or a PID the maps do not name.
TEST(SeekScanTest, BeginsOnTheComparedStreamOnly)
{
    vsktest::CTsStreamBuilder b;
    vsktest::PatParams pat;
    pat.entries = {{1, PMT_PID}};
    b.AddSection(vsktest::TS_PID_PAT, vsktest::MakePat(pat));
    vsktest::PmtParams pmt;
    pmt.pcrPid = VIDEO_PID;
    pmt.streams = {{0x02, VIDEO_PID, {}}, {0x1B, 0x0202, {}}, {0x04, AUDIO_PID, {}}};
    b.AddSection(PMT_PID, vsktest::MakePmt(pmt));
    b.AddNull(400);
    const Bytes twoVideo = b.Take();

    CStreamReader reader;
    ASSERT_EQ(reader.Initialize(), RESULT_OK);
    reader.Configure(2, 4, 0xFF, 0x20000, 0);
    CSeekScan scan;
    EXPECT_FALSE(scan.Begin(reader, VIDEO_PID));
    ASSERT_EQ(reader.Feed(twoVideo.data(), static_cast<std::uint32_t>(twoVideo.size())), RESULT_OK);
    EXPECT_FALSE(scan.Begin(reader, VIDEO_PID));  // nothing worked through yet
    while (reader.NextUnits() > 0) {
    }
    EXPECT_TRUE(scan.Begin(reader, VIDEO_PID));
    EXPECT_TRUE(scan.Begin(reader, 0x0202));
    EXPECT_FALSE(scan.Begin(reader, AUDIO_PID));
    EXPECT_FALSE(scan.Begin(reader, 0x0203));
}

}  // namespace
}  // namespace parser
