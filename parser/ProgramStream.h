// CProgramStream: the reader of MPEG program streams (MPEG-1 and MPEG-2
// pack forms). It scans the bytes fed to it for start codes, follows pack
// and system headers, and makes every selected PES packet one unit,
// positioned at its start code. One unit at a time is reported; it stays in
// the buffer, and is described by TakeUnit, until ReleaseUnit moves past it.
#pragma once

#include "Buffer.h"
#include "PesHeader.h"
#include "Results.h"
#include "UnitInfo.h"

#include <array>
#include <cstdint>
#include <vector>

namespace parser {

// The least buffer a program-stream reader works with.
inline constexpr std::uint32_t PROGRAM_STREAM_MIN_BUFFER = 0x20000;

enum : std::uint8_t {
    PACK_FORM_UNKNOWN = 0,
    PACK_FORM_MPEG1 = 1,
    PACK_FORM_MPEG2 = 2,
};

// What is kept of the last pack header.
struct SPackHeader {
    std::uint8_t form = PACK_FORM_UNKNOWN;
    std::int64_t position = -1;
    std::uint64_t scrBase = 0;
    std::uint16_t scrExtension = 0;
    std::uint32_t programMuxRate = 0;
    std::uint8_t stuffingLength = 0;
};

struct SSystemHeaderStream {
    std::uint8_t streamId = 0;
    std::uint8_t bufferBoundScale = 0;
    std::uint16_t bufferSizeBound = 0;
};

// The last system header.
struct SSystemHeader {
    bool seen = false;
    std::uint32_t rateBound = 0;
    std::uint8_t audioBound = 0;
    std::uint8_t fixedFlag = 0;
    std::uint8_t cspsFlag = 0;
    std::uint8_t systemAudioLockFlag = 0;
    std::uint8_t systemVideoLockFlag = 0;
    std::uint8_t videoBound = 0;
    std::uint8_t packetRateRestrictionFlag = 0;
    std::vector<SSystemHeaderStream> streams;
};

class CProgramStream : public CBuffer2
{
public:
    CProgramStream() = default;
    ~CProgramStream() override = default;

    // Buffer of max(bufferSize, PROGRAM_STREAM_MIN_BUFFER) bytes;
    // selectionMode 1 video, 2 MPEG audio, 3 both, anything else every
    // stream. ResultSetupFailed for bufferSize 0, ResultNoMemory when the
    // buffer cannot be had.
    Result Prepare(std::uint32_t bufferSize, std::uint32_t selectionMode) noexcept;
    // Appends behind the bytes still held, compacting first when they would
    // not fit (a reported unit that is not released yet is kept).
    // ResultAppendFailed when the bytes could not be taken.
    Result Append(const std::uint8_t* bytes, std::uint32_t length) noexcept;
    // 1 when a unit is reported (the same one until it is released), 0 when
    // more data is needed, -1 on failure.
    std::int32_t NextUnit() noexcept;
    // Describes the reported unit (kind, header, payload, position, span,
    // stream, sub-stream; classification is left to the caller). False, and
    // nothing written, when no unit is reported.
    bool TakeUnit(SUnitInfo& info) const noexcept;
    // Moves past the reported unit; nothing when none is.
    void ReleaseUnit() noexcept;

    bool UnitReported() const noexcept { return m_unitReported; }
    const SPackHeader& PackHeader() const noexcept { return m_pack; }
    const SSystemHeader& SystemHeader() const noexcept { return m_systemHeader; }
    const SAnomalyRecord& Anomalies() const noexcept { return m_anomalies; }
    void ClearAnomalies() noexcept { m_anomalies.Clear(); }

private:
    std::uint32_t m_selectionMode = 0;
    bool m_unitReported = false;
    SPackHeader m_pack;
    SSystemHeader m_systemHeader;
    SAnomalyRecord m_anomalies;
};

}  // namespace parser
