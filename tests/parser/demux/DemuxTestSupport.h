// Helpers shared by the demultiplexer tests: packets of the tables and of
// elementary streams, and a demultiplexer that is run packet by packet while
// the test watches what each packet changed.
#pragma once

#include "TransportStream.h"

#include "vsktest/PesPacket.h"
#include "vsktest/PsiSections.h"
#include "vsktest/TsStreamBuilder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace demuxtest {

inline constexpr std::uint16_t PMT_PID = 0x0100;
inline constexpr std::uint16_t VIDEO_PID = 0x0200;
inline constexpr std::uint16_t AUDIO_PID = 0x0201;

inline std::vector<vsktest::TsPacket> Pat(std::vector<vsktest::PatEntry> entries, std::uint8_t version = 0,
                                          bool currentNext = true, const vsktest::SectionOptions& options = {})
{
    vsktest::PatParams params;
    params.entries = std::move(entries);
    params.version = version;
    params.currentNext = currentNext;
    return vsktest::PacketizeSections(vsktest::TS_PID_PAT, {vsktest::MakePat(params, options)});
}

// One program: video (0x02) on VIDEO_PID carrying the PCR, audio (0x04) on
// AUDIO_PID.
inline vsktest::PmtParams SimplePmt(std::uint16_t programNumber = 1, std::uint8_t version = 0)
{
    vsktest::PmtParams params;
    params.programNumber = programNumber;
    params.version = version;
    params.pcrPid = VIDEO_PID;
    params.streams = {{0x02, VIDEO_PID, {}}, {0x04, AUDIO_PID, {}}};
    return params;
}

inline std::vector<vsktest::TsPacket> Pmt(std::uint16_t pid, const vsktest::PmtParams& params,
                                          const vsktest::SectionOptions& options = {})
{
    return vsktest::PacketizeSections(pid, {vsktest::MakePmt(params, options)});
}

inline std::vector<vsktest::TsPacket> Sit(const vsktest::SitParams& params, const vsktest::SectionOptions& options = {})
{
    return vsktest::PacketizeSections(vsktest::TS_PID_SIT, {vsktest::MakeSit(params, options)});
}

// A packet of elementary data, with a PCR when one is given.
inline vsktest::TsPacket Elementary(std::uint16_t pid, std::optional<std::uint64_t> pcr = std::nullopt,
                                    std::uint16_t pcrExtension = 0)
{
    vsktest::TsPacket p;
    p.pid = pid;
    p.fill = vsktest::TsFill::AdaptationStuffing;
    if (pcr) {
        vsktest::AdaptationField field;
        field.pcrBase = pcr;
        field.pcrExtension = pcrExtension;
        p.adaptation = field;
    }
    p.payload.assign(100, 0x11);
    return p;
}

// A packet that carries nothing but a PCR (adaptation_field_control 10).
inline vsktest::TsPacket PcrOnly(std::uint16_t pid, std::uint64_t pcr)
{
    vsktest::TsPacket p;
    p.pid = pid;
    vsktest::AdaptationField field;
    field.pcrBase = pcr;
    p.adaptation = field;
    return p;
}

// A demultiplexer fed from a builder's bytes and run one packet at a time.
class CDemuxRun
{
public:
    explicit CDemuxRun(std::uint32_t prefix = 0)
    {
        EXPECT_EQ(demux.Prepare(2, 4, prefix), parser::RESULT_OK);
    }

    void Append(std::span<const std::uint8_t> bytes)
    {
        ASSERT_EQ(demux.Append(bytes.data(), static_cast<std::uint32_t>(bytes.size())), parser::RESULT_OK);
    }

    // Processes packets until none is left whole; the first result other
    // than 0 and ResultNeedMoreData ends the run and is returned.
    parser::Result Drain()
    {
        for (;;) {
            const std::uint64_t before = demux.PacketReader().CursorPosition();
            const parser::Result result = demux.ProcessPacket();
            if (result != parser::RESULT_OK && result != parser::ResultNeedMoreData)
                return result;
            if (result == parser::ResultNeedMoreData && demux.PacketReader().CursorPosition() == before)
                return parser::RESULT_OK;
        }
    }

    // Processes exactly one packet.
    parser::Result Step() { return demux.ProcessPacket(); }

    parser::CTransportStream demux;
};

}  // namespace demuxtest
