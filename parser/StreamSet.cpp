#include "StreamSet.h"

#include "PmapSection.h"

#include <new>

namespace parser {

Result CStreamSet::Build(const CPmapSection& pmt, std::uint32_t historyMode, std::uint32_t videoBufferSize) noexcept
{
    Clear();
    try {
        m_streams.reserve(pmt.StreamCount());
    } catch (const std::bad_alloc&) {
        return ResultNoMemory;
    }
    for (const SPmtStream& stream : pmt.Streams())
        m_streams.push_back(SKeptStream{stream.streamType, stream.elementaryPid});
    m_system = pmt.System();
    m_historyMode = historyMode;
    m_videoBufferSize = videoBufferSize;
    m_built = true;
    ++m_generation;
    return RESULT_OK;
}

bool CStreamSet::Matches(const CPmapSection& pmt) const noexcept
{
    if (!m_built || pmt.System() != m_system || pmt.StreamCount() != m_streams.size())
        return false;
    const auto streams = pmt.Streams();
    for (std::size_t i = 0; i < m_streams.size(); ++i) {
        if (streams[i].streamType != m_streams[i].streamType ||
            streams[i].elementaryPid != m_streams[i].elementaryPid)
            return false;
    }
    return true;
}

void CStreamSet::Clear() noexcept
{
    m_built = false;
    m_system = 0;
    m_streams.clear();
}

}  // namespace parser
