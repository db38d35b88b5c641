// CStreamSet: the elementary streams of one program that the demultiplexer
// keeps, built from the program's map section: per stream its type, PID,
// ordinals within its category and, when the selection mode selects it, the
// PES assembler that rebuilds its units. It also holds the program's buffer
// for the one-packet private units of TSMV recorders.
#pragma once

#include "PESPacketTs.h"
#include "Results.h"
#include "TSHeader.h"
#include "UnitInfo.h"

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

namespace parser {

class CPmapSection;

// What becomes of the packets of a kept stream.
enum class EStreamSelection
{
    Skipped,         // kept by the map, but its packets are passed over
    Assembled,       // a PES assembler rebuilds its units
    PrivatePackets,  // each packet is a unit of its transport private data
};

// The selection rule: which kept streams a selection mode assembles. In a
// program of the MTRM family no stream type from 0x80 up is assembled.
EStreamSelection SelectStream(std::uint8_t streamType, std::uint32_t system, std::uint32_t selectionMode) noexcept;

struct SKeptStream {
    std::uint8_t streamType = 0;
    std::uint16_t elementaryPid = 0;
    EStreamSelection selection = EStreamSelection::Skipped;
    // Set for assembled streams only.
    std::unique_ptr<CPESPacketTs> assembler;
    // Ordinals among the program's MPEG audio, video, 0x81 and 0x80 streams.
    std::uint16_t audioOrdinal = ORDINAL_NONE;
    std::uint16_t videoOrdinal = ORDINAL_NONE;
    std::uint16_t ordinal81 = ORDINAL_NONE;
    std::uint16_t ordinal80 = ORDINAL_NONE;
};

class CStreamSet
{
public:
    CStreamSet() = default;
    CStreamSet(const CStreamSet&) = delete;
    CStreamSet& operator=(const CStreamSet&) = delete;
    CStreamSet(CStreamSet&&) noexcept = default;
    CStreamSet& operator=(CStreamSet&&) noexcept = default;
    ~CStreamSet() = default;

    // One entry per kept stream of the section, in section order, with an
    // assembler prepared for each stream selectionMode assembles (capacity
    // twice videoBufferSize for video streams). ResultNoMemory or
    // ResultAppendFailed on failure, which leaves the set empty.
    Result Build(const CPmapSection& pmt, std::uint32_t historyMode, std::uint32_t videoBufferSize,
                 std::uint32_t selectionMode) noexcept;
    // Whether the section lists the same streams (types and PIDs, in order)
    // for a program of the same classification, so the set can stay as it is.
    bool Matches(const CPmapSection& pmt) const noexcept;
    void Clear() noexcept;

    bool Built() const noexcept { return m_built; }
    std::uint32_t System() const noexcept { return m_system; }
    std::uint32_t HistoryMode() const noexcept { return m_historyMode; }
    std::uint32_t StreamCount() const noexcept { return static_cast<std::uint32_t>(m_streams.size()); }
    const std::vector<SKeptStream>& Streams() const noexcept { return m_streams; }
    SKeptStream& Stream(std::uint32_t index) noexcept { return m_streams[index]; }
    const SKeptStream& Stream(std::uint32_t index) const noexcept { return m_streams[index]; }
    // Counts the builds, so a caller can tell a rebuilt set from a kept one.
    std::uint32_t Generation() const noexcept { return m_generation; }

    std::uint32_t MpegAudioCount() const noexcept { return m_mpegAudioCount; }
    std::uint32_t VideoCount() const noexcept { return m_videoCount; }
    std::uint32_t Count81() const noexcept { return m_count81; }
    std::uint32_t Count80() const noexcept { return m_count80; }

    // The transport private data of the program's last private unit.
    std::array<std::uint8_t, TS_PRIVATE_DATA_MAX>& PrivateBuffer() noexcept { return m_privateBuffer; }
    const std::array<std::uint8_t, TS_PRIVATE_DATA_MAX>& PrivateBuffer() const noexcept { return m_privateBuffer; }

private:
    bool m_built = false;
    std::uint32_t m_generation = 0;
    std::uint32_t m_system = 0;
    std::uint32_t m_historyMode = 0;
    std::uint32_t m_mpegAudioCount = 0;
    std::uint32_t m_videoCount = 0;
    std::uint32_t m_count81 = 0;
    std::uint32_t m_count80 = 0;
    std::vector<SKeptStream> m_streams;
    std::array<std::uint8_t, TS_PRIVATE_DATA_MAX> m_privateBuffer{};
};

}  // namespace parser
