#include "StreamSet.h"

#include "MediaCoreDecSysRegDesc.h"
#include "PmapSection.h"

#include <new>

namespace parser {
namespace {

enum : std::uint32_t {
    SELECT_VIDEO = 1,
    SELECT_AUDIO = 2,
    SELECT_VIDEO_AND_AUDIO = 3,
    SELECT_ALL = 4,
    SELECT_PRIVATE = 5,
};

bool In(std::uint32_t mode, std::initializer_list<std::uint32_t> modes) noexcept
{
    for (const std::uint32_t m : modes) {
        if (m == mode)
            return true;
    }
    return false;
}

bool IsMpegAudio(std::uint8_t streamType) noexcept
{
    return streamType == 0x03 || streamType == 0x04;
}

}  // namespace

EStreamSelection SelectStream(std::uint8_t streamType, std::uint32_t system, std::uint32_t mode) noexcept
{
    auto assembledIn = [mode](std::initializer_list<std::uint32_t> modes) noexcept {
        return In(mode, modes) ? EStreamSelection::Assembled : EStreamSelection::Skipped;
    };
    if (streamType >= 0x80 && system == SystemMTRM)
        return EStreamSelection::Skipped;
    switch (streamType) {
    case 0x01:
    case 0x02:
    case 0x1B:
        return assembledIn({SELECT_VIDEO, SELECT_VIDEO_AND_AUDIO, SELECT_ALL});
    case 0x03:
    case 0x04:
    case 0x81:
        return assembledIn({SELECT_AUDIO, SELECT_VIDEO_AND_AUDIO, SELECT_ALL});
    case 0x80:
        return system == SystemSESF ? assembledIn({SELECT_AUDIO, SELECT_VIDEO_AND_AUDIO, SELECT_ALL})
                                    : EStreamSelection::Skipped;
    case 0x90:
    case 0x91:
        return system == SystemHDMV ? assembledIn({SELECT_VIDEO, SELECT_VIDEO_AND_AUDIO, SELECT_ALL})
                                    : EStreamSelection::Skipped;
    case 0xA0:
        if (system == SystemTSMV)
            return In(mode, {SELECT_ALL, SELECT_PRIVATE}) ? EStreamSelection::PrivatePackets
                                                         : EStreamSelection::Skipped;
        return system == SystemTSHV ? assembledIn({SELECT_ALL, SELECT_PRIVATE}) : EStreamSelection::Skipped;
    case 0xA1:
        return system == SystemTSHV ? assembledIn({SELECT_ALL, SELECT_PRIVATE}) : EStreamSelection::Skipped;
    default:
        return streamType < 0x80 ? assembledIn({SELECT_ALL}) : EStreamSelection::Skipped;
    }
}

Result CStreamSet::Build(const CPmapSection& pmt, std::uint32_t historyMode, std::uint32_t videoBufferSize,
                         std::uint32_t selectionMode) noexcept
{
    Clear();
    m_system = pmt.System();
    m_historyMode = historyMode;
    try {
        m_streams.reserve(pmt.StreamCount());
        for (const SPmtStream& entry : pmt.Streams()) {
            SKeptStream stream;
            stream.streamType = entry.streamType;
            stream.elementaryPid = entry.elementaryPid;
            stream.selection = SelectStream(entry.streamType, m_system, selectionMode);
            if (IsMpegAudio(entry.streamType))
                stream.audioOrdinal = static_cast<std::uint16_t>(m_mpegAudioCount++);
            if (IsVideoStreamType(entry.streamType))
                stream.videoOrdinal = static_cast<std::uint16_t>(m_videoCount++);
            if (entry.streamType == 0x81)
                stream.ordinal81 = static_cast<std::uint16_t>(m_count81++);
            if (entry.streamType == 0x80)
                stream.ordinal80 = static_cast<std::uint16_t>(m_count80++);
            if (stream.selection == EStreamSelection::Assembled) {
                stream.assembler = std::make_unique<CPESPacketTs>();
                const std::uint32_t capacity =
                    IsVideoStreamType(entry.streamType) ? 2 * videoBufferSize : PES_CAPACITY_OTHER;
                const Result prepared = stream.assembler->Prepare(capacity, historyMode, entry.streamType, m_system);
                if (prepared != RESULT_OK) {
                    Clear();
                    return prepared;
                }
            }
            m_streams.push_back(std::move(stream));
        }
    } catch (const std::bad_alloc&) {
        Clear();
        return ResultNoMemory;
    }
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
    m_mpegAudioCount = 0;
    m_videoCount = 0;
    m_count81 = 0;
    m_count80 = 0;
    m_streams.clear();
}

}  // namespace parser
