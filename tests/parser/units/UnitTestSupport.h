// Helpers of the unit tests: transport streams of one or two programs built
// packet by packet, and a stream reader run over them the way the time seek
// runs it, keeping a copy of every unit record it hands out.
#pragma once

#include "StreamReader.h"
#include "TransportStream.h"
#include "UnitInfo.h"

#include "vsktest/PesPacket.h"
#include "vsktest/PsiSections.h"
#include "vsktest/TsStreamBuilder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace unittest {

using Bytes = std::vector<std::uint8_t>;

inline constexpr std::uint16_t PMT_PID = 0x0100;
inline constexpr std::uint16_t PID_A = 0x0200;
inline constexpr std::uint16_t PID_B = 0x0201;

inline Bytes Registration(const char* id)
{
    return vsktest::MakeRegistrationDescriptor(id, Bytes{});
}

// The PAT of one program on PMT_PID, and that program's map.
inline void AddTables(vsktest::CTsStreamBuilder& b, std::vector<vsktest::PmtStream> streams,
                      Bytes programInfo = {}, std::uint16_t pcrPid = PID_A)
{
    vsktest::PatParams pat;
    pat.entries = {{1, PMT_PID}};
    b.AddSection(vsktest::TS_PID_PAT, vsktest::MakePat(pat));
    vsktest::PmtParams pmt;
    pmt.pcrPid = pcrPid;
    pmt.programInfo = std::move(programInfo);
    pmt.streams = std::move(streams);
    b.AddSection(PMT_PID, vsktest::MakePmt(pmt));
}

inline Bytes Pes(std::uint8_t streamId, std::optional<std::uint64_t> pts, std::size_t payload, bool unbounded = false,
                 std::uint8_t fill = 0x5A)
{
    vsktest::PesParams p;
    p.streamId = streamId;
    p.pts = pts;
    p.payload.assign(payload, fill);
    p.unbounded = unbounded;
    return vsktest::MakePes(p);
}

// A reader configured as the time seek configures it, fed `bytes` whole.
inline void StartReader(parser::CStreamReader& reader, const Bytes& bytes, std::uint32_t profileLevel = 0xFF,
                        std::uint32_t forcedKind = 0)
{
    ASSERT_EQ(reader.Initialize(), parser::RESULT_OK);
    reader.Configure(2, 4, profileLevel, 0x20000, forcedKind);
    ASSERT_EQ(reader.Feed(bytes.data(), static_cast<std::uint32_t>(bytes.size())), parser::RESULT_OK);
}

// A copy of what TakeUnit described; the pointers are copied out.
struct SSeenUnit {
    parser::SUnitInfo info;
    Bytes payload;
    std::vector<std::int64_t> packets;
    std::vector<std::uint32_t> headerLengths;
};

struct SRun {
    std::vector<SSeenUnit> units;
    // The reader's anomaly record at the end (anomalies since the last
    // release).
    parser::SAnomalyRecord pending;
    std::int32_t lastNextUnits = 0;
};

// Feeds `bytes` in pieces of `piece` (0: whole) to a reader configured as the
// time seek configures it (the kind forced from the unit size), taking and
// releasing every unit.
inline SRun ReadUnits(const Bytes& bytes, std::size_t unitSize = 188, std::size_t piece = 0,
                      std::uint32_t historyMode = 2, std::uint32_t profileLevel = 0xFF)
{
    SRun run;
    parser::CStreamReader reader;
    EXPECT_EQ(reader.Initialize(), parser::RESULT_OK);
    reader.Configure(historyMode, 4, profileLevel, 0x20000,
                     unitSize == 188 ? parser::STREAM_KIND_TS188 : parser::STREAM_KIND_TS192);
    const std::size_t step = piece == 0 ? bytes.size() : piece;
    for (std::size_t at = 0; at < bytes.size(); at += step) {
        const std::size_t n = std::min(step, bytes.size() - at);
        EXPECT_EQ(reader.Feed(bytes.data() + at, static_cast<std::uint32_t>(n)), parser::RESULT_OK);
        while ((run.lastNextUnits = reader.NextUnits()) > 0) {
            SSeenUnit seen;
            EXPECT_EQ(reader.TakeUnit(seen.info), parser::RESULT_OK);
            const parser::SUnitInfo& u = seen.info;
            seen.payload.assign(u.payload, u.payload + u.payloadLength);
            seen.packets.assign(u.packetPositions, u.packetPositions + u.packetCount);
            seen.headerLengths.assign(u.packetHeaderLengths, u.packetHeaderLengths + u.packetCount);
            run.units.push_back(std::move(seen));
            reader.ReleaseUnit(run.units.back().info);
        }
    }
    if (const parser::CTransportStream* demux = reader.TransportStream())
        run.pending = demux->Anomalies();
    return run;
}

}  // namespace unittest
