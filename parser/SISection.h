// CSISection: the selection information section of a partial transport
// stream (PID 0x001F, table_id 0x7F), which a recorder writes to describe the
// services it kept. Its result record holds the transmission info
// descriptors and, per service, its id, running status and descriptors.
#pragma once

#include "Section.h"

#include <cstdint>
#include <span>
#include <vector>

namespace parser {

inline constexpr std::uint8_t TABLE_ID_SIT = 0x7F;
inline constexpr std::uint32_t SIT_CAPACITY = 4096;
inline constexpr std::uint16_t SIT_MIN_SECTION_LENGTH = 11;
inline constexpr std::uint16_t SIT_MAX_SECTION_LENGTH = 4096;

// One service; its descriptors lie in the record's descriptor bytes at
// descriptorOffset.
struct SSitService {
    std::uint16_t serviceId = 0;
    std::uint8_t runningStatus = 0;
    std::uint16_t serviceLoopLength = 0;
    std::uint32_t descriptorOffset = 0;
};

struct SSitRecord {
    std::uint16_t transmissionInfoLoopLength = 0;
    // The transmission info descriptors, then those of each service.
    std::vector<std::uint8_t> descriptors;
    std::vector<SSitService> services;
};

class CSISection : public CTableSection<SSitRecord>
{
public:
    CSISection() = default;
    ~CSISection() override = default;

    Result Parse() noexcept override;

    std::uint16_t TransmissionInfoLoopLength() const noexcept { return m_result.transmissionInfoLoopLength; }
    std::span<const std::uint8_t> TransmissionInfo() const noexcept;

    std::uint32_t ServiceCount() const noexcept { return static_cast<std::uint32_t>(m_result.services.size()); }
    std::span<const SSitService> Services() const noexcept { return m_result.services; }
    // 0 or an empty span for an index past the services.
    std::uint16_t ServiceId(std::uint32_t service) const noexcept;
    std::uint8_t RunningStatus(std::uint32_t service) const noexcept;
    std::uint16_t ServiceLoopLength(std::uint32_t service) const noexcept;
    std::span<const std::uint8_t> ServiceDescriptors(std::uint32_t service) const noexcept;

protected:
    Result ParseBody(SSectionHeader& header) noexcept override;
};

}  // namespace parser
