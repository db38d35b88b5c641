// CSection: assembles one table section from the payloads of consecutive
// transport packets of a PID, checks continuity, and validates the section
// header and CRC. CPASection, CPmapSection and CSISection parse the three
// tables the demultiplexer uses. A section object alternates between
// assembling (bytes accumulating) and published (result record valid, buffer
// empty). Nothing is thrown.
#pragma once

#include "Buffer.h"
#include "Results.h"
#include "TSHeader.h"

#include <array>
#include <cstdint>

namespace parser {

inline constexpr std::uint32_t SECTION_POSITION_RING = 23;

struct SSectionHeader {
    std::uint8_t tableId = 0;
    std::uint8_t sectionSyntaxIndicator = 0;
    std::uint16_t sectionLength = 0;
    std::uint8_t versionNumber = 0xFF;
    std::uint8_t currentNextIndicator = 0;
    std::uint8_t sectionNumber = 0;
    std::uint8_t lastSectionNumber = 0;
};

class CSection : public CBuffer2
{
public:
    CSection() = default;
    ~CSection() override = default;

    // Clears the header, continuity and position state, allocates the
    // section buffer and the result record. ResultNoMemory on failure.
    virtual Result Prepare(std::uint32_t capacity) noexcept;
    virtual void FreeRecords() noexcept;
    virtual void BeginSection() noexcept;
    // 0 (complete and valid), ResultNeedMoreData, ResultNoMemory or a section
    // result code.
    virtual Result Parse() noexcept = 0;
    virtual std::uint32_t Version() const noexcept;
    virtual std::uint32_t CurrentNext() const noexcept;

    // Takes the payload left in the reader's current packet (after its
    // pointer field); 0, ResultDiscontinuity (taken anyway) or
    // ResultAppendFailed.
    Result Collect(CTSHeader& packetReader) noexcept;

    const SSectionHeader& Header() const noexcept { return m_header; }
    bool AwaitingSection() const noexcept { return m_awaitingSection != 0; }
    std::uint32_t Crc() const noexcept { return m_crc; }
    std::uint32_t SectionBytes() const noexcept { return m_sectionBytes; }

protected:
    SSectionHeader m_header;
    std::uint8_t m_lastContinuity = 0xFF;
    std::array<std::int64_t, SECTION_POSITION_RING> m_packetPositions{};
    std::uint32_t m_positionIndex = 0;
    STsPacketHeader m_firstPacketHeader;
    std::uint32_t m_awaitingSection = 1;
    std::uint32_t m_crc = 0;
    std::uint32_t m_sectionBytes = 0;
};

}  // namespace parser
