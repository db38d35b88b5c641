#include "Section.h"

#include "Crc32.h"

namespace parser {

Result CSection::Prepare(std::uint32_t capacity) noexcept
{
    m_header = SSectionHeader{};
    m_lastContinuity = CONTINUITY_NONE;
    m_packetPositions.fill(0);
    ResetAssembly();
    m_publishedPositions.fill(0);
    m_publishedPositionCount = 0;
    m_publishedFirstHeader = STsPacketHeader{};
    m_awaitingSection = 1;
    m_crc = 0;
    m_sectionBytes = 0;
    ResetStatus();
    if (Allocate(capacity) == 0)
        return ResultNoMemory;
    return RESULT_OK;
}

void CSection::FreeRecords() noexcept
{
    m_header = SSectionHeader{};
    m_publishedPositionCount = 0;
    m_publishedFirstHeader = STsPacketHeader{};
}

void CSection::BeginSection() noexcept
{
    Rewind();
    m_awaitingSection = 1;
}

std::uint32_t CSection::Version() const noexcept
{
    return m_header.versionNumber;
}

std::uint32_t CSection::CurrentNext() const noexcept
{
    return m_header.currentNextIndicator;
}

void CSection::ResetAssembly() noexcept
{
    m_positionIndex = 0;
    m_packetsTaken = 0;
}

Result CSection::Collect(CTSHeader& packetReader) noexcept
{
    const STsPacketHeader& packet = packetReader.Header();
    const std::uint8_t counter = packet.continuityCounter;

    if (m_lastContinuity != CONTINUITY_NONE && counter == m_lastContinuity) {
        // A repeated packet carries nothing new.
        packetReader.SkipPayload();
        return RESULT_OK;
    }
    const bool gap = m_lastContinuity != CONTINUITY_NONE && counter != ((m_lastContinuity + 1) & 0x0F);
    m_lastContinuity = counter;

    // A new section begins either on an empty buffer or where the packet says
    // one starts. Bytes still held at a start can only be the head of a
    // section whose tail was lost: kept, they would be joined to the new
    // section and spoil it as well.
    if (packet.payloadUnitStartIndicator != 0 && Used() != 0)
        Clear();
    if (Used() == 0)
        ResetAssembly();

    RememberPacket(packetReader);

    const std::uint32_t length = packetReader.PayloadLeft();
    const std::uint8_t* const payload = packetReader.Cursor();
    const bool appended = length == 0 || (payload != nullptr && Append(payload, length) == length);
    packetReader.SkipPayload();
    if (!appended)
        return ResultAppendFailed;
    return gap ? ResultDiscontinuity : RESULT_OK;
}

Result CSection::CollectTail(const CTSHeader& packetReader, std::uint32_t length) noexcept
{
    const std::uint8_t counter = packetReader.Header().continuityCounter;
    // Nothing held to finish, or a repeated packet (Collect passes it over).
    if (Used() == 0 || length == 0 || (m_lastContinuity != CONTINUITY_NONE && counter == m_lastContinuity))
        return ResultNeedMoreData;
    // The tail lies behind the pointer field byte. The continuity state is
    // left to Collect, which takes the same packet next.
    const std::uint8_t* const tail = packetReader.Cursor() + 1;
    if (packetReader.Remaining() < std::size_t{length} + 1)
        return ResultNeedMoreData;
    RememberPacket(packetReader);
    if (Append(tail, length) != length)
        return ResultAppendFailed;
    return RESULT_OK;
}

void CSection::RememberPacket(const CTSHeader& packetReader) noexcept
{
    // The first packet is the one taken on an empty ring; a ring that wrapped
    // (a section dragging over more packets than any valid one needs) keeps
    // it rather than the 24th.
    m_packetPositions[m_positionIndex] = packetReader.PacketPosition();
    if (m_packetsTaken == 0)
        m_firstPacketHeader = packetReader.Header();
    m_lastPacketHeader = packetReader.Header();
    m_positionIndex = (m_positionIndex + 1) % SECTION_POSITION_RING;
    ++m_packetsTaken;
}

Result CSection::ParseSection(std::uint8_t tableId, std::uint16_t minLength, std::uint16_t maxLength) noexcept
{
    SSectionHeader header;
    Result result = ReadSectionHeader(tableId, minLength, maxLength, header);
    if (result == RESULT_OK)
        result = ParseBody(header);
    if (result == RESULT_OK)
        result = VerifyCrc(header);
    if (result != RESULT_OK)
        return result;
    CommitRecord();
    Publish(header);
    return RESULT_OK;
}

Result CSection::ReadSectionHeader(std::uint8_t tableId, std::uint16_t minLength, std::uint16_t maxLength,
                                   SSectionHeader& header) noexcept
{
    Rewind();
    if (!HasBytes(1))
        return ResultNeedMoreData;
    header.tableId = static_cast<std::uint8_t>(ReadBits(8));
    if (header.tableId == TABLE_ID_FORBIDDEN || header.tableId != tableId)
        return Reject(ResultWrongTableId);
    if (!HasBytes(SECTION_HEADER_BYTES - 1)) {
        Rewind();
        return ResultNeedMoreData;
    }
    header.sectionSyntaxIndicator = static_cast<std::uint8_t>(ReadBits(1));
    SkipBits(3);
    header.sectionLength = static_cast<std::uint16_t>(ReadBits(12));
    if (header.sectionLength < minLength || header.sectionLength > maxLength)
        return Reject(ResultSectionMalformed);
    if (!HasBytes(header.sectionLength)) {
        Rewind();
        return ResultNeedMoreData;
    }
    return RESULT_OK;
}

Result CSection::Reject(Result code) noexcept
{
    Clear();
    return code;
}

Result CSection::VerifyCrc(const SSectionHeader& header) noexcept
{
    const std::uint32_t bytes = SECTION_HEADER_BYTES + header.sectionLength;
    if (Crc32Mpeg2(SectionStart(), bytes) != 0) {
        Clear();
        m_awaitingSection = 1;
        return ResultCrcMismatch;
    }
    return RESULT_OK;
}

void CSection::Publish(const SSectionHeader& header) noexcept
{
    const std::uint32_t bytes = SECTION_HEADER_BYTES + header.sectionLength;
    const std::uint8_t* const crcField = SectionStart() + bytes - SECTION_CRC_BYTES;
    m_crc = (std::uint32_t{crcField[0]} << 24) | (std::uint32_t{crcField[1]} << 16) |
            (std::uint32_t{crcField[2]} << 8) | crcField[3];
    m_sectionBytes = bytes;
    m_header = header;

    // Unroll the ring so the positions read oldest first.
    if (m_packetsTaken <= SECTION_POSITION_RING) {
        m_publishedPositionCount = m_packetsTaken;
        for (std::uint32_t i = 0; i < m_packetsTaken; ++i)
            m_publishedPositions[i] = m_packetPositions[i];
    } else {
        m_publishedPositionCount = SECTION_POSITION_RING;
        for (std::uint32_t i = 0; i < SECTION_POSITION_RING; ++i)
            m_publishedPositions[i] = m_packetPositions[(m_positionIndex + i) % SECTION_POSITION_RING];
    }
    m_publishedFirstHeader = m_firstPacketHeader;
    m_awaitingSection = 0;

    // The packet that ended this section is the first of the next one.
    const bool fromPacket = m_packetsTaken != 0;
    const std::int64_t lastPosition =
        m_packetPositions[(m_positionIndex + SECTION_POSITION_RING - 1) % SECTION_POSITION_RING];
    ResetAssembly();
    if (Used() == bytes || SectionStart()[bytes] == SECTION_STUFFING) {
        Clear();
        return;
    }
    SeekFromStart(bytes);
    Compact();
    if (fromPacket) {
        m_packetPositions[0] = lastPosition;
        m_firstPacketHeader = m_lastPacketHeader;
        m_positionIndex = 1;
        m_packetsTaken = 1;
    }
}

Result CSection::TakeHeldSection(CSection& from) noexcept
{
    const std::uint32_t held = from.Used();
    if (&from == this || held == 0)
        return RESULT_OK;
    Clear();
    const bool appended = Append(from.Start(), held) == held;
    m_lastContinuity = from.m_lastContinuity;
    m_packetPositions = from.m_packetPositions;
    m_positionIndex = from.m_positionIndex;
    m_packetsTaken = from.m_packetsTaken;
    m_firstPacketHeader = from.m_firstPacketHeader;
    m_lastPacketHeader = from.m_lastPacketHeader;
    from.Clear();
    from.ResetAssembly();
    return appended ? RESULT_OK : ResultAppendFailed;
}

}  // namespace parser
