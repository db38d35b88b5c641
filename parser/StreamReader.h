// CStreamReader: the front of the parser. It is fed the bytes of a file in
// order, decides once from the first chunk what kind of stream they are, and
// hands them to the reader of that kind; NextUnits then makes the reader work
// through what it holds. Positions reported by the readers are absolute from
// the first byte ever fed.
#pragma once

#include "Results.h"
#include "UnitInfo.h"

#include <cstdint>
#include <memory>

namespace parser {

class CProgramStream;
class CSsidStreamId;
class CTransportStream;

enum : std::uint32_t {
    STREAM_KIND_UNKNOWN = 0,
    STREAM_KIND_PROGRAM = 1,
    STREAM_KIND_TS188 = 2,
    STREAM_KIND_TS192 = 3,
};

class CStreamReader
{
public:
    CStreamReader();
    ~CStreamReader();
    CStreamReader(const CStreamReader&) = delete;
    CStreamReader& operator=(const CStreamReader&) = delete;

    Result Initialize() noexcept;
    // historyMode 2 or more keeps the packet positions of each unit;
    // profileLevel is the MPEG-2 profile and level byte that sizes the packet
    // buffer (bit 7 set: unknown); forcedKind 0 detects the kind.
    void Configure(std::uint32_t historyMode, std::uint32_t selectionMode, std::uint32_t profileLevel,
                   std::uint32_t bufferSize, std::uint32_t forcedKind) noexcept;
    Result Feed(const std::uint8_t* bytes, std::uint32_t length) noexcept;
    std::uint32_t FreeSpace() const noexcept;
    // Complete units waiting (> 0), 0 when more data is needed, -1 on failure.
    std::int32_t NextUnits() noexcept;
    // Describes the first waiting unit: a pending private packet first, then
    // the programs in the order of the association section and their
    // streams in the order of the program map. RESULT_OK, or
    // ResultNeedMoreData with an empty record (no payload) when no unit
    // waits.
    Result TakeUnit(SUnitInfo& info) noexcept;
    // Releases the unit `info` describes (its program and stream) and clears
    // the reader's anomaly record; the pointers in `info` are invalid
    // afterwards.
    void ReleaseUnit(const SUnitInfo& info) noexcept;
    void Shutdown() noexcept;

    std::uint32_t Kind() const noexcept { return m_kind; }
    // Whether the kind has been settled (by detection or by forcedKind); it
    // is never examined again.
    bool KindDecided() const noexcept { return m_kindDecided; }
    // The demultiplexer of a transport stream, once created.
    const CTransportStream* TransportStream() const noexcept { return m_transportStream.get(); }
    // The reader of a program stream, once created.
    const CProgramStream* ProgramStream() const noexcept { return m_programStream.get(); }

    std::uint32_t HistoryMode() const noexcept { return m_historyMode; }
    std::uint32_t SelectionMode() const noexcept { return m_selectionMode; }
    std::uint32_t ProfileLevel() const noexcept { return m_profileLevel; }
    std::uint32_t BufferSize() const noexcept { return m_bufferSize; }
    std::uint32_t ForcedKind() const noexcept { return m_forcedKind; }

private:
    // Settles the kind from the first bytes fed.
    Result DecideKind(const std::uint8_t* bytes, std::uint32_t length) noexcept;
    Result FeedTransportStream(const std::uint8_t* bytes, std::uint32_t length) noexcept;
    Result FeedProgramStream(const std::uint8_t* bytes, std::uint32_t length) noexcept;
    std::int32_t NextTransportUnits() noexcept;

    std::uint32_t m_kind = STREAM_KIND_UNKNOWN;
    bool m_kindDecided = false;
    std::uint32_t m_historyMode = 0;
    std::uint32_t m_selectionMode = 0;
    std::uint32_t m_profileLevel = 0;
    std::uint32_t m_bufferSize = 0;
    std::uint32_t m_forcedKind = 0;
    std::unique_ptr<CTransportStream> m_transportStream;
    std::unique_ptr<CProgramStream> m_programStream;
    std::unique_ptr<CSsidStreamId> m_ssid;
};

}  // namespace parser
