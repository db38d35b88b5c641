// CStreamSet: the elementary streams of one program that the demultiplexer
// keeps, built from the program's map section. It is where the PES
// assemblers of the program's streams live; until they are added it records
// which streams were kept (type and PID) and the program's registration
// classification, and holds no units.
#pragma once

#include "Results.h"

#include <cstdint>
#include <vector>

namespace parser {

class CPmapSection;

struct SKeptStream {
    std::uint8_t streamType = 0;
    std::uint16_t elementaryPid = 0;
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

    // One entry per kept stream of the section, in section order. The PES
    // assemblers are to be prepared here, with historyMode and the capacity
    // of video streams (twice videoBufferSize). ResultNoMemory on failure,
    // which leaves the set empty.
    Result Build(const CPmapSection& pmt, std::uint32_t historyMode, std::uint32_t videoBufferSize) noexcept;
    // Whether the section lists the same streams (types and PIDs, in order)
    // for a program of the same classification, so the set can stay as it is.
    bool Matches(const CPmapSection& pmt) const noexcept;
    void Clear() noexcept;

    bool Built() const noexcept { return m_built; }
    std::uint32_t System() const noexcept { return m_system; }
    std::uint32_t StreamCount() const noexcept { return static_cast<std::uint32_t>(m_streams.size()); }
    const std::vector<SKeptStream>& Streams() const noexcept { return m_streams; }
    // Counts the builds, so a caller can tell a rebuilt set from a kept one.
    std::uint32_t Generation() const noexcept { return m_generation; }
    // Complete PES units waiting in the set's assemblers.
    std::uint32_t CompleteUnitCount() const noexcept { return 0; }

private:
    bool m_built = false;
    std::uint32_t m_generation = 0;
    std::uint32_t m_system = 0;
    std::uint32_t m_historyMode = 0;
    std::uint32_t m_videoBufferSize = 0;
    std::vector<SKeptStream> m_streams;
};

}  // namespace parser
