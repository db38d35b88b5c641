// CPASection: the program association section (PID 0x0000). Its result
// record lists the programs of the transport stream and their program map
// PIDs; network entries (program_number 0) are kept apart at the back.
#pragma once

#include "Section.h"

#include <cstdint>
#include <span>
#include <vector>

namespace parser {

inline constexpr std::uint8_t TABLE_ID_PAT = 0x00;
inline constexpr std::uint32_t PAT_CAPACITY = 1024;
inline constexpr std::uint16_t PAT_MIN_SECTION_LENGTH = 9;
inline constexpr std::uint16_t PAT_MAX_SECTION_LENGTH = 1024;

struct SPatRecord {
    std::uint16_t transportStreamId = 0;
    std::uint32_t programCount = 0;
    std::uint32_t networkCount = 0;
    std::vector<std::uint16_t> programNumbers;
    std::vector<std::uint16_t> pids;
};

class CPASection : public CTableSection<SPatRecord>
{
public:
    CPASection() = default;
    ~CPASection() override = default;

    Result Parse() noexcept override;

    std::uint16_t TransportStreamId() const noexcept { return m_result.transportStreamId; }
    // Programs first, in section order, then network entries, the first of
    // them last.
    std::uint32_t EntryCount() const noexcept { return static_cast<std::uint32_t>(m_result.programNumbers.size()); }
    std::uint32_t ProgramCount() const noexcept { return m_result.programCount; }
    std::uint32_t NetworkCount() const noexcept { return m_result.networkCount; }
    std::span<const std::uint16_t> ProgramNumbers() const noexcept { return m_result.programNumbers; }
    // program_map_PID of a program entry, network_PID of a network entry.
    std::span<const std::uint16_t> Pids() const noexcept { return m_result.pids; }
    // 0 for an index past the entries.
    std::uint16_t ProgramNumber(std::uint32_t entry) const noexcept;
    std::uint16_t Pid(std::uint32_t entry) const noexcept;

protected:
    Result ParseBody(SSectionHeader& header) noexcept override;
};

}  // namespace parser
