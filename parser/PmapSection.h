// CPmapSection: the program map section of one program. Its result record
// holds the program's PCR_PID and descriptors and the elementary streams the
// parser supports; streams of other types are dropped while parsing. The
// program's registration classification (CMediaCoreDecSysRegDesc) decides
// which private stream types count as supported.
#pragma once

#include "MediaCoreDecSysRegDesc.h"
#include "Section.h"

#include <cstdint>
#include <span>
#include <vector>

namespace parser {

inline constexpr std::uint8_t TABLE_ID_PMT = 0x02;
inline constexpr std::uint32_t PMT_CAPACITY = 1024;
inline constexpr std::uint16_t PMT_MIN_SECTION_LENGTH = 13;
inline constexpr std::uint16_t PMT_MAX_SECTION_LENGTH = 1024;

// One kept elementary stream; its descriptors lie in the record's descriptor
// bytes at descriptorOffset.
struct SPmtStream {
    std::uint8_t streamType = 0;
    std::uint16_t elementaryPid = 0;
    std::uint16_t esInfoLength = 0;
    std::uint32_t descriptorOffset = 0;
};

struct SPmtRecord {
    std::uint16_t programNumber = 0;
    std::uint16_t pcrPid = 0;
    std::uint16_t programInfoLength = 0;
    std::uint32_t system = SystemNone;
    // The program descriptors, then those of each kept stream.
    std::vector<std::uint8_t> descriptors;
    std::vector<SPmtStream> streams;
};

class CPmapSection : public CTableSection<SPmtRecord>
{
public:
    CPmapSection() = default;
    ~CPmapSection() override = default;

    Result Parse() noexcept override;

    // Whether the parser handles stream_type in a program of this system.
    static bool IsSupportedStreamType(std::uint8_t streamType, std::uint32_t system) noexcept;

    std::uint16_t ProgramNumber() const noexcept { return m_result.programNumber; }
    std::uint16_t PcrPid() const noexcept { return m_result.pcrPid; }
    std::uint16_t ProgramInfoLength() const noexcept { return m_result.programInfoLength; }
    std::span<const std::uint8_t> ProgramDescriptors() const noexcept;
    // SystemNone .. SystemHDMV.
    std::uint32_t System() const noexcept { return m_result.system; }

    std::uint32_t StreamCount() const noexcept { return static_cast<std::uint32_t>(m_result.streams.size()); }
    std::span<const SPmtStream> Streams() const noexcept { return m_result.streams; }
    // 0 or an empty span for an index past the streams.
    std::uint8_t StreamType(std::uint32_t stream) const noexcept;
    std::uint16_t ElementaryPid(std::uint32_t stream) const noexcept;
    std::uint16_t EsInfoLength(std::uint32_t stream) const noexcept;
    std::span<const std::uint8_t> EsDescriptors(std::uint32_t stream) const noexcept;

protected:
    Result ParseBody(SSectionHeader& header) noexcept override;
};

}  // namespace parser
