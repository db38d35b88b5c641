// CSeekScan: the time seek's fast way through a transport stream. Once the
// demultiplexer has found its programs and runs, the search needs no more
// from it than the units of the one video stream it compares: where each
// starts, its time stamps and whether it carries data. The scan follows that
// stream's packets in place, reading packet headers and the first bytes of
// each unit, where the demultiplexer copies every payload byte of every
// stream and keeps the lists and records of each unit.
//
// It gives the same units, at the same positions, as the demultiplexer would
// from the same bytes, for as long as the stream stays plain. Wherever the
// two could part it gives up instead (EScan::Abandoned), and the caller reads
// the pass again with the demultiplexer alone:
// - a packet without its sync byte (the demultiplexer re-synchronises);
// - a map section of another version than the one in force, which may
//   change the streams; a section header that a packet's end cuts, which
//   cannot be checked; any packet on the map PID of a program that has no
//   map yet, or of several programs;
// - a unit that would outgrow the video stream's capacity (dropped there).
// Everything else is followed exactly as the assembler does it: repeated
// packets, continuity gaps, packets with a damaged adaptation field or the
// error indicator, units without a start code, damaged headers and empty
// units; map sections of the version in force over any number of packets,
// with or without adaptation fields; discontinuity information packets,
// which drop the unit under way; and the time-base discontinuities of the
// compared program (discontinuity_indicator on its PCR PID), which each
// unit's record carries as the demultiplexer's does.
#pragma once

#include "PesHeader.h"
#include "TSHeader.h"
#include "UnitInfo.h"

#include <array>
#include <cstdint>

namespace parser {

class CStreamReader;

enum class EScan
{
    Unit,
    NeedMoreData,
    Abandoned,
};

class CSeekScan
{
public:
    // Takes over from a transport stream reader that has worked through
    // everything it was fed (NextUnits gave 0) and holds no unit: true when
    // its packets of `videoPid` go to a video stream whose units the search
    // compares, and the bytes it holds but has not processed become the
    // first to scan. The reader must stay alive and untouched while the scan
    // goes on.
    bool Begin(const CStreamReader& reader, std::uint16_t videoPid) noexcept;
    // The next bytes of the file, behind all those given before. Valid until
    // Next says NeedMoreData.
    void Append(const std::uint8_t* bytes, std::size_t length) noexcept;
    // Goes on to the next unit of the compared stream that the demultiplexer
    // would hand out: EScan::Unit with the fields of its record the search
    // reads (kind, stream type, program index, header, payload length,
    // position, elementary PID and the time-base discontinuity of its
    // program; the others are left as they are), NeedMoreData when the
    // bytes given are used up, or Abandoned.
    EScan Next(SUnitInfo& unit) noexcept;
    // Position of the first packet of the compared stream's unit under way,
    // or -1.
    std::int64_t UnitUnderWay() const noexcept { return m_unitStarted ? m_unitPosition : -1; }

private:
    // What a packet of a PID other than the compared stream's means to the
    // scan: nothing, a map section to check, the program's clock reference,
    // a discontinuity, or the end of the scan.
    enum : std::uint8_t {
        USE_NONE = 0,
        USE_MAP,
        USE_PCR,
        USE_DISCONTINUITY,
        USE_STOP,
    };
    // The most a PES header takes: fixed part, flags and 255 bytes of
    // optional fields.
    static constexpr std::uint32_t HEAD_BYTES = PES_MPEG2_HEADER_BYTES + 255;
    static constexpr std::uint32_t MAX_STRIDE = 192;

    // One packet at p (its prefix first), at `position`: Unit when it
    // completes the unit under way.
    EScan Packet(const std::uint8_t* p, std::int64_t position, SUnitInfo& unit) noexcept;
    EScan VideoPacket(const std::uint8_t* header, std::int64_t position, SUnitInfo& unit) noexcept;
    // Whether the demultiplexer, taking this packet on a map PID, would
    // leave the streams as they are.
    bool MapKeepsStreams(const std::uint8_t* header) const noexcept;
    // Whether the bytes from a section's table_id leave the map in force.
    bool SectionKeepsMap(const std::uint8_t* section, std::uint16_t pid) const noexcept;
    // A packet on the program's PCR PID with its discontinuity_indicator
    // set marks a new time base.
    void NoteClockReference(const SAdaptationField& field, std::int64_t position) noexcept;
    // Describes the unit under way, which the packet now starting ends;
    // false when the demultiplexer would drop it instead.
    bool CompleteUnit(SUnitInfo& unit) const noexcept;

    std::array<std::uint8_t, 0x2000> m_use{};
    std::array<std::uint8_t, 0x2000> m_mapVersion{};
    std::uint32_t m_kind = 0;
    std::uint32_t m_prefix = 0;
    std::uint32_t m_stride = 0;
    std::uint16_t m_videoPid = 0;
    std::uint16_t m_pcrPid = 0;
    std::int64_t m_discontinuityPosition = -1;
    std::uint8_t m_streamType = 0;
    std::uint32_t m_programIndex = 0;
    std::uint32_t m_limit = 0;
    std::uint8_t m_lastContinuity = 0xFF;

    // The unit under way: its first packet, the bytes collected and a copy
    // of its first bytes.
    bool m_unitStarted = false;
    std::int64_t m_unitPosition = -1;
    std::uint64_t m_held = 0;
    std::uint32_t m_headLength = 0;
    std::array<std::uint8_t, HEAD_BYTES> m_head{};

    // The bytes to scan, the position of the first, and a packet cut by the
    // end of the bytes given before.
    const std::uint8_t* m_next = nullptr;
    const std::uint8_t* m_end = nullptr;
    std::int64_t m_position = 0;
    std::array<std::uint8_t, MAX_STRIDE> m_carry{};
    std::uint32_t m_carried = 0;
};

}  // namespace parser
