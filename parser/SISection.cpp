#include "SISection.h"

#include <new>
#include <utility>

namespace parser {
namespace {

// Reserved bits .. transmission_info_loop_length, and CRC_32.
constexpr std::uint32_t SIT_FIXED_BYTES = 11;
// service_id .. service_loop_length.
constexpr std::uint32_t SIT_SERVICE_HEAD_BYTES = 4;

}  // namespace

std::span<const std::uint8_t> CSISection::TransmissionInfo() const noexcept
{
    return std::span<const std::uint8_t>(m_result.descriptors).first(m_result.transmissionInfoLoopLength);
}

std::uint16_t CSISection::ServiceId(std::uint32_t service) const noexcept
{
    return service < m_result.services.size() ? m_result.services[service].serviceId : 0;
}

std::uint8_t CSISection::RunningStatus(std::uint32_t service) const noexcept
{
    return service < m_result.services.size() ? m_result.services[service].runningStatus : 0;
}

std::uint16_t CSISection::ServiceLoopLength(std::uint32_t service) const noexcept
{
    return service < m_result.services.size() ? m_result.services[service].serviceLoopLength : 0;
}

std::span<const std::uint8_t> CSISection::ServiceDescriptors(std::uint32_t service) const noexcept
{
    if (service >= m_result.services.size())
        return {};
    const SSitService& s = m_result.services[service];
    return std::span<const std::uint8_t>(m_result.descriptors).subspan(s.descriptorOffset, s.serviceLoopLength);
}

Result CSISection::Parse() noexcept
{
    return ParseSection(TABLE_ID_SIT, SIT_MIN_SECTION_LENGTH, SIT_MAX_SECTION_LENGTH);
}

Result CSISection::ParseBody(SSectionHeader& header) noexcept
{
    // The whole section is buffered (ReadSectionHeader saw to it), so every
    // bound below is taken against the section, never the buffer.
    SkipBits(18);
    header.versionNumber = static_cast<std::uint8_t>(ReadBits(5));
    header.currentNextIndicator = static_cast<std::uint8_t>(ReadBits(1));
    header.sectionNumber = static_cast<std::uint8_t>(ReadBits(8));
    header.lastSectionNumber = static_cast<std::uint8_t>(ReadBits(8));
    SkipBits(4);
    m_work.transmissionInfoLoopLength = static_cast<std::uint16_t>(ReadBits(12));

    const std::uint32_t available = header.sectionLength - SIT_FIXED_BYTES;
    if (m_work.transmissionInfoLoopLength > available)
        return Reject(ResultSectionMalformed);
    std::uint32_t loopLeft = available - m_work.transmissionInfoLoopLength;

    try {
        m_work.descriptors.clear();
        m_work.descriptors.reserve(available);
        m_work.services.clear();
        m_work.services.reserve(loopLeft / SIT_SERVICE_HEAD_BYTES);
    } catch (const std::bad_alloc&) {
        Clear();
        return ResultNoMemory;
    }

    m_work.descriptors.insert(m_work.descriptors.end(), Cursor(), Cursor() + m_work.transmissionInfoLoopLength);
    Advance(m_work.transmissionInfoLoopLength);

    while (loopLeft != 0) {
        if (loopLeft < SIT_SERVICE_HEAD_BYTES)
            return Reject(ResultSectionMalformed);
        SSitService service;
        service.serviceId = static_cast<std::uint16_t>(ReadBits(16));
        SkipBits(1);
        service.runningStatus = static_cast<std::uint8_t>(ReadBits(3));
        service.serviceLoopLength = static_cast<std::uint16_t>(ReadBits(12));
        loopLeft -= SIT_SERVICE_HEAD_BYTES;
        // Bounded by what is left of the service loop: descriptors reaching
        // into the next service or the CRC field would be read as both.
        if (service.serviceLoopLength > loopLeft)
            return Reject(ResultSectionMalformed);
        service.descriptorOffset = static_cast<std::uint32_t>(m_work.descriptors.size());
        m_work.descriptors.insert(m_work.descriptors.end(), Cursor(), Cursor() + service.serviceLoopLength);
        m_work.services.push_back(service);
        Advance(service.serviceLoopLength);
        loopLeft -= service.serviceLoopLength;
    }
    return RESULT_OK;
}

}  // namespace parser
