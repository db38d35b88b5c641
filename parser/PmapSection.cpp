#include "PmapSection.h"

#include <new>
#include <utility>

namespace parser {
namespace {

// program_number .. program_info_length, and CRC_32.
constexpr std::uint32_t PMT_FIXED_BYTES = 13;
// stream_type .. ES_info_length.
constexpr std::uint32_t PMT_STREAM_HEAD_BYTES = 5;

}  // namespace

bool CPmapSection::IsSupportedStreamType(std::uint8_t streamType, std::uint32_t system) noexcept
{
    switch (streamType) {
    case 0x01:  // MPEG-1 video
    case 0x02:  // MPEG-2 video
    case 0x03:  // MPEG-1 audio
    case 0x04:  // MPEG-2 audio
    case 0x1B:  // AVC video
    case 0x81:
    case 0x82:
    case 0xB0:
    case 0xB1:
        return true;
    case 0xA0:
        return system == SystemTSMV || system == SystemTSHV;
    case 0xA1:
        return system == SystemTSHV;
    case 0x06:
    case 0x80:
        return system == SystemSESF;
    case 0x90:
    case 0x91:
        return system == SystemHDMV;
    default:
        return false;
    }
}

std::span<const std::uint8_t> CPmapSection::ProgramDescriptors() const noexcept
{
    return std::span<const std::uint8_t>(m_result.descriptors).first(m_result.programInfoLength);
}

std::uint8_t CPmapSection::StreamType(std::uint32_t stream) const noexcept
{
    return stream < m_result.streams.size() ? m_result.streams[stream].streamType : 0;
}

std::uint16_t CPmapSection::ElementaryPid(std::uint32_t stream) const noexcept
{
    return stream < m_result.streams.size() ? m_result.streams[stream].elementaryPid : 0;
}

std::uint16_t CPmapSection::EsInfoLength(std::uint32_t stream) const noexcept
{
    return stream < m_result.streams.size() ? m_result.streams[stream].esInfoLength : 0;
}

std::span<const std::uint8_t> CPmapSection::EsDescriptors(std::uint32_t stream) const noexcept
{
    if (stream >= m_result.streams.size())
        return {};
    const SPmtStream& s = m_result.streams[stream];
    return std::span<const std::uint8_t>(m_result.descriptors).subspan(s.descriptorOffset, s.esInfoLength);
}

Result CPmapSection::Parse() noexcept
{
    return ParseSection(TABLE_ID_PMT, PMT_MIN_SECTION_LENGTH, PMT_MAX_SECTION_LENGTH);
}

Result CPmapSection::ParseBody(SSectionHeader& header) noexcept
{
    // The whole section is buffered (ReadSectionHeader saw to it), so every
    // bound below is taken against the section, never the buffer.
    m_work.programNumber = static_cast<std::uint16_t>(ReadBits(16));
    SkipBits(2);
    header.versionNumber = static_cast<std::uint8_t>(ReadBits(5));
    header.currentNextIndicator = static_cast<std::uint8_t>(ReadBits(1));
    header.sectionNumber = static_cast<std::uint8_t>(ReadBits(8));
    header.lastSectionNumber = static_cast<std::uint8_t>(ReadBits(8));
    SkipBits(3);
    m_work.pcrPid = static_cast<std::uint16_t>(ReadBits(13));
    SkipBits(4);
    m_work.programInfoLength = static_cast<std::uint16_t>(ReadBits(12));

    const std::uint32_t available = header.sectionLength - PMT_FIXED_BYTES;
    if (m_work.programInfoLength > available)
        return Reject(ResultSectionMalformed);
    std::uint32_t loopLeft = available - m_work.programInfoLength;

    // Every kept stream needs at least a five-byte entry; the descriptor bytes
    // of the whole section bound what can be copied.
    try {
        m_work.descriptors.clear();
        m_work.descriptors.reserve(available);
        m_work.streams.clear();
        m_work.streams.reserve(loopLeft / PMT_STREAM_HEAD_BYTES);
    } catch (const std::bad_alloc&) {
        Clear();
        return ResultNoMemory;
    }

    const std::uint8_t* const programInfo = Cursor();
    m_work.descriptors.insert(m_work.descriptors.end(), programInfo, programInfo + m_work.programInfoLength);
    Advance(m_work.programInfoLength);
    m_work.system = CMediaCoreDecSysRegDesc::Classify(programInfo, m_work.programInfoLength);

    // An entry that overruns the stream loop (its five bytes, or its
    // descriptors, which would reach into the CRC field) ends the loop: the
    // entries before it are kept and the map is applied. Refused whole, a
    // map whose CRC vouches for it would never arrive, and its program would
    // hold up the start-up for good. An overrunning program_info_length
    // leaves nothing to trust and still refuses the section.
    while (loopLeft >= PMT_STREAM_HEAD_BYTES) {
        SPmtStream stream;
        stream.streamType = static_cast<std::uint8_t>(ReadBits(8));
        SkipBits(3);
        stream.elementaryPid = static_cast<std::uint16_t>(ReadBits(13));
        SkipBits(4);
        stream.esInfoLength = static_cast<std::uint16_t>(ReadBits(12));
        loopLeft -= PMT_STREAM_HEAD_BYTES;
        if (stream.esInfoLength > loopLeft)
            break;
        if (IsSupportedStreamType(stream.streamType, m_work.system)) {
            stream.descriptorOffset = static_cast<std::uint32_t>(m_work.descriptors.size());
            m_work.descriptors.insert(m_work.descriptors.end(), Cursor(), Cursor() + stream.esInfoLength);
            m_work.streams.push_back(stream);
        }
        Advance(stream.esInfoLength);
        loopLeft -= stream.esInfoLength;
    }
    return RESULT_OK;
}

}  // namespace parser
