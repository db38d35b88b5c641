// CSection: assembles one table section from the payloads of consecutive
// transport packets of a PID, checks continuity, and validates the section
// header and CRC. CPASection, CPmapSection and CSISection parse the three
// tables the demultiplexer uses. A section object alternates between
// assembling (bytes accumulating) and published (result record valid); a
// published section's buffer holds only the head of a section that began
// behind it in the same packet, if any. Nothing is thrown.
//
// The published state (header, result record, packet positions, first packet
// header, CRC) always describes the last section that passed every check: a
// parse that fails leaves it untouched, so a reader of the object never sees a
// half-parsed table.
#pragma once

#include "Buffer.h"
#include "Results.h"
#include "TSHeader.h"

#include <array>
#include <cstdint>
#include <utility>
#include <span>

namespace parser {

// Enough for the largest section (4,096 + 3 bytes) carried 184 bytes a packet.
inline constexpr std::uint32_t SECTION_POSITION_RING = 23;
// table_id, the indicator bits and section_length.
inline constexpr std::uint32_t SECTION_HEADER_BYTES = 3;
inline constexpr std::uint32_t SECTION_CRC_BYTES = 4;
inline constexpr std::uint8_t TABLE_ID_FORBIDDEN = 0xFF;
// Fills a packet behind its last section.
inline constexpr std::uint8_t SECTION_STUFFING = 0xFF;
inline constexpr std::uint8_t CONTINUITY_NONE = 0xFF;
inline constexpr std::uint8_t SECTION_VERSION_NONE = 0xFF;

struct SSectionHeader {
    std::uint8_t tableId = 0;
    std::uint8_t sectionSyntaxIndicator = 0;
    std::uint16_t sectionLength = 0;
    std::uint8_t versionNumber = SECTION_VERSION_NONE;
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
    // result code. Parses from the first buffered byte, so it may be called
    // again after every Collect.
    virtual Result Parse() noexcept = 0;
    // Of the last published section (0xFF and 0 before the first one).
    virtual std::uint32_t Version() const noexcept;
    virtual std::uint32_t CurrentNext() const noexcept;

    // Takes the payload left in the reader's current packet (after its
    // pointer field); 0, ResultDiscontinuity (taken anyway) or
    // ResultAppendFailed. Whatever the result, the reader is left past the
    // packet's payload. A packet with payload_unit_start_indicator set begins
    // a new section: bytes still held of an unfinished one are dropped first.
    Result Collect(CTSHeader& packetReader) noexcept;
    // A packet that starts a section may first finish the one held: the
    // `length` bytes its pointer field skips are that section's tail. They
    // are appended (0) unless nothing is held, the packet repeats the last
    // one or the bytes are not there (ResultNeedMoreData); the reader is
    // left on the pointer field, for Collect to take the packet as usual.
    Result CollectTail(const CTSHeader& packetReader, std::uint32_t length) noexcept;
    // Takes over the section `from` holds (bytes, packets, continuity), the
    // one that began behind the section it published, and leaves it empty;
    // nothing happens when `from` holds nothing or is this object. 0 or
    // ResultAppendFailed.
    Result TakeHeldSection(CSection& from) noexcept;

    const SSectionHeader& Header() const noexcept { return m_header; }
    bool AwaitingSection() const noexcept { return m_awaitingSection != 0; }
    std::uint32_t Crc() const noexcept { return m_crc; }
    std::uint32_t SectionBytes() const noexcept { return m_sectionBytes; }
    // Positions of the packets that carried the last published section, in
    // arrival order (the last 23 when more packets carried it).
    std::span<const std::int64_t> PacketPositions() const noexcept
    {
        return {m_publishedPositions.data(), m_publishedPositionCount};
    }
    const STsPacketHeader& FirstPacketHeader() const noexcept { return m_publishedFirstHeader; }
    // The bytes of the section being assembled, from its table_id.
    std::span<const std::uint8_t> HeldBytes() const noexcept
    {
        return {m_start, static_cast<std::size_t>(Used())};
    }

protected:
    // The parse of every table: header, the table's own body (ParseBody, into
    // its work record), CRC; only a section that passes all three replaces
    // the published record (CommitRecord) and is published.
    Result ParseSection(std::uint8_t tableId, std::uint16_t minLength, std::uint16_t maxLength) noexcept;
    // Reads the rest of the header into `header` and the table's record;
    // called with the whole section buffered.
    virtual Result ParseBody(SSectionHeader& header) noexcept = 0;
    virtual void CommitRecord() noexcept = 0;

    // Rewinds and reads table_id, section_syntax_indicator and section_length;
    // checks table_id against `tableId` and section_length against
    // [minLength, maxLength]; then requires the whole section to be buffered.
    // On 0 the cursor lies on the byte after section_length.
    Result ReadSectionHeader(std::uint8_t tableId, std::uint16_t minLength, std::uint16_t maxLength,
                             SSectionHeader& header) noexcept;
    // Empties the buffer and passes `code` on.
    Result Reject(Result code) noexcept;
    // 0 when the CRC over the whole buffered section comes out 0; otherwise
    // the buffer is emptied, the object waits for a section again and the
    // result is ResultCrcMismatch.
    Result VerifyCrc(const SSectionHeader& header) noexcept;
    // Makes `header` and the packets that carried it the published state.
    // The bytes behind the section, when they do not begin with stuffing,
    // begin the next section, carried by the same last packet: they stay in
    // the buffer. Otherwise it is emptied.
    void Publish(const SSectionHeader& header) noexcept;
    // The first byte of the buffered section.
    const std::uint8_t* SectionStart() const noexcept { return m_start; }

    SSectionHeader m_header;
    std::uint8_t m_lastContinuity = CONTINUITY_NONE;
    // The section being assembled: its packet positions (a ring), the ring's
    // write index, how many packets it has taken, and its first packet.
    std::array<std::int64_t, SECTION_POSITION_RING> m_packetPositions{};
    std::uint32_t m_positionIndex = 0;
    std::uint32_t m_packetsTaken = 0;
    STsPacketHeader m_firstPacketHeader;
    STsPacketHeader m_lastPacketHeader;
    std::uint32_t m_awaitingSection = 1;
    std::uint32_t m_crc = 0;
    std::uint32_t m_sectionBytes = 0;

private:
    void ResetAssembly() noexcept;
    void RememberPacket(const CTSHeader& packetReader) noexcept;

    std::array<std::int64_t, SECTION_POSITION_RING> m_publishedPositions{};
    std::size_t m_publishedPositionCount = 0;
    STsPacketHeader m_publishedFirstHeader;
};

// A section whose parse fills a work record of type TRecord, exchanged with
// the published one only when the whole section has passed, so that a failed
// section leaves the previous table readable.
template <typename TRecord>
class CTableSection : public CSection
{
public:
    Result Prepare(std::uint32_t capacity) noexcept override
    {
        const Result result = CSection::Prepare(capacity);
        m_result = TRecord{};
        m_work = TRecord{};
        return result;
    }

    void FreeRecords() noexcept override
    {
        CSection::FreeRecords();
        m_result = TRecord{};
        m_work = TRecord{};
    }

protected:
    void CommitRecord() noexcept override { std::swap(m_result, m_work); }

    TRecord m_result;
    TRecord m_work;
};

}  // namespace parser
