#include "PASection.h"

#include <new>
#include <utility>

namespace parser {
namespace {

// transport_stream_id .. last_section_number, and CRC_32.
constexpr std::uint32_t PAT_FIXED_BYTES = 9;
constexpr std::uint32_t PAT_ENTRY_BYTES = 4;

}  // namespace

std::uint16_t CPASection::ProgramNumber(std::uint32_t entry) const noexcept
{
    return entry < m_result.programNumbers.size() ? m_result.programNumbers[entry] : 0;
}

std::uint16_t CPASection::Pid(std::uint32_t entry) const noexcept
{
    return entry < m_result.pids.size() ? m_result.pids[entry] : 0;
}

Result CPASection::Parse() noexcept
{
    return ParseSection(TABLE_ID_PAT, PAT_MIN_SECTION_LENGTH, PAT_MAX_SECTION_LENGTH);
}

Result CPASection::ParseBody(SSectionHeader& header) noexcept
{
    m_work.transportStreamId = static_cast<std::uint16_t>(ReadBits(16));
    SkipBits(2);
    header.versionNumber = static_cast<std::uint8_t>(ReadBits(5));
    header.currentNextIndicator = static_cast<std::uint8_t>(ReadBits(1));
    header.sectionNumber = static_cast<std::uint8_t>(ReadBits(8));
    header.lastSectionNumber = static_cast<std::uint8_t>(ReadBits(8));

    // A length that leaves a remainder of fewer than four bytes is tolerated:
    // the CRC covers those bytes, and the CRC field is taken from the end of
    // the section, not from behind the last entry.
    const std::uint32_t entryCount = (header.sectionLength - PAT_FIXED_BYTES) / PAT_ENTRY_BYTES;
    try {
        m_work.programNumbers.resize(entryCount);
        m_work.pids.resize(entryCount);
    } catch (const std::bad_alloc&) {
        Clear();
        return ResultNoMemory;
    }

    std::uint32_t programs = 0;
    std::uint32_t networks = 0;
    for (std::uint32_t i = 0; i < entryCount; ++i) {
        if (!HasBytes(PAT_ENTRY_BYTES))
            return Reject(ResultSectionMalformed);
        const auto programNumber = static_cast<std::uint16_t>(ReadBits(16));
        SkipBits(3);
        const auto pid = static_cast<std::uint16_t>(ReadBits(13));
        const std::uint32_t slot = programNumber != 0 ? programs++ : entryCount - 1 - networks++;
        m_work.programNumbers[slot] = programNumber;
        m_work.pids[slot] = pid;
    }
    m_work.programCount = programs;
    m_work.networkCount = networks;
    return RESULT_OK;
}

}  // namespace parser
