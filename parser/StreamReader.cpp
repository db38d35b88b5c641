#include "StreamReader.h"

#include "CheckStream.h"
#include "ProgramStream.h"
#include "SsidStreamId.h"
#include "TransportStream.h"

#include <limits>
#include <new>

namespace parser {
namespace {

// Packets one NextUnits call works through at most before it lets the caller
// feed again.
constexpr std::uint32_t NEXT_UNITS_PASSES = 10002;

}  // namespace

CStreamReader::CStreamReader() = default;

CStreamReader::~CStreamReader() = default;

Result CStreamReader::Initialize() noexcept
{
    Shutdown();
    m_historyMode = 0;
    m_selectionMode = 0;
    m_profileLevel = 0;
    m_bufferSize = 0;
    m_forcedKind = 0;
    try {
        m_ssid = std::make_unique<CSsidStreamId>();
    } catch (const std::bad_alloc&) {
        return ResultNoMemory;
    }
    return RESULT_OK;
}

void CStreamReader::Configure(std::uint32_t historyMode, std::uint32_t selectionMode, std::uint32_t profileLevel,
                              std::uint32_t bufferSize, std::uint32_t forcedKind) noexcept
{
    m_historyMode = historyMode;
    m_selectionMode = selectionMode;
    m_profileLevel = profileLevel;
    m_bufferSize = bufferSize;
    m_forcedKind = forcedKind;
}

Result CStreamReader::DecideKind(const std::uint8_t* bytes, std::uint32_t length) noexcept
{
    if (m_forcedKind != STREAM_KIND_UNKNOWN) {
        m_kind = m_forcedKind <= STREAM_KIND_TS192 ? m_forcedKind : STREAM_KIND_UNKNOWN;
        m_kindDecided = true;
        return RESULT_OK;
    }
    std::unique_ptr<CCheckStream> detector;
    try {
        detector = std::make_unique<CCheckStream>();
    } catch (const std::bad_alloc&) {
        return ResultNoMemory;
    }
    // A set-up or append failure leaves the kind open: the next Feed tries
    // again rather than deciding on bytes that were never looked at.
    if (detector->Prepare(length) != RESULT_OK)
        return ResultSetupFailed;
    if (bytes == nullptr || detector->Append(bytes, length) != length)
        return ResultAppendFailed;
    m_kind = detector->Detect();
    m_kindDecided = true;
    return RESULT_OK;
}

Result CStreamReader::Feed(const std::uint8_t* bytes, std::uint32_t length) noexcept
{
    if (!m_kindDecided) {
        const Result decided = DecideKind(bytes, length);
        if (decided != RESULT_OK)
            return decided;
    }
    switch (m_kind) {
    case STREAM_KIND_PROGRAM:
        return FeedProgramStream(bytes, length);
    case STREAM_KIND_TS188:
    case STREAM_KIND_TS192:
        return FeedTransportStream(bytes, length);
    default:
        return ResultUnsupported;
    }
}

Result CStreamReader::FeedTransportStream(const std::uint8_t* bytes, std::uint32_t length) noexcept
{
    if (!m_transportStream) {
        std::unique_ptr<CTransportStream> demux;
        try {
            demux = std::make_unique<CTransportStream>();
        } catch (const std::bad_alloc&) {
            return ResultNoMemory;
        }
        const std::uint32_t prefix = m_kind == STREAM_KIND_TS192 ? 4 : 0;
        if (demux->Prepare(m_historyMode, m_selectionMode, prefix, m_profileLevel, m_bufferSize) != RESULT_OK)
            return ResultSetupFailed;
        m_transportStream = std::move(demux);
    }
    return m_transportStream->Append(bytes, length);
}

Result CStreamReader::FeedProgramStream(const std::uint8_t* bytes, std::uint32_t length) noexcept
{
    if (!m_programStream) {
        std::unique_ptr<CProgramStream> reader;
        try {
            reader = std::make_unique<CProgramStream>();
        } catch (const std::bad_alloc&) {
            return ResultNoMemory;
        }
        if (reader->Prepare(m_bufferSize, m_selectionMode) != RESULT_OK)
            return ResultSetupFailed;
        m_programStream = std::move(reader);
    }
    return m_programStream->Append(bytes, length);
}

std::uint32_t CStreamReader::FreeSpace() const noexcept
{
    switch (m_kind) {
    case STREAM_KIND_TS188:
    case STREAM_KIND_TS192:
        return m_transportStream ? m_transportStream->FreeSpace() : 0;
    case STREAM_KIND_PROGRAM:
        return m_programStream ? m_programStream->FreeSpace() : 0;
    default:
        return m_bufferSize;
    }
}

std::int32_t CStreamReader::NextTransportUnits() noexcept
{
    if (!m_transportStream)
        return -1;
    CTransportStream& demux = *m_transportStream;
    for (std::uint32_t pass = 0; pass < NEXT_UNITS_PASSES; ++pass) {
        if (demux.Buffered() < demux.Stride())
            return 0;
        const Result result = demux.ProcessPacket();
        if (result != RESULT_OK && result != ResultNeedMoreData)
            return -1;
        // A unit under assembly is no reason to stop: only a packet that
        // could not be had at all (a re-synchronisation waiting for bytes)
        // ends the call early, since every further pass would find the same.
        const std::uint32_t units = demux.CompleteUnitCount() + (demux.PrivateUnitPending() ? 1u : 0u);
        if (units > 0)
            return units > static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max())
                       ? std::numeric_limits<std::int32_t>::max()
                       : static_cast<std::int32_t>(units);
        if (result == ResultNeedMoreData)
            return 0;
    }
    return 0;
}

std::int32_t CStreamReader::NextUnits() noexcept
{
    switch (m_kind) {
    case STREAM_KIND_TS188:
    case STREAM_KIND_TS192:
        return NextTransportUnits();
    case STREAM_KIND_PROGRAM:
        return m_programStream ? m_programStream->NextUnit() : -1;
    default:
        return -1;
    }
}

Result CStreamReader::TakeUnit(SUnitInfo& info) noexcept
{
    info = SUnitInfo{};
    info.kind = m_kind;
    bool found = false;
    if (m_transportStream && (m_kind == STREAM_KIND_TS188 || m_kind == STREAM_KIND_TS192))
        found = m_transportStream->TakeUnit(info);
    else if (m_programStream && m_kind == STREAM_KIND_PROGRAM)
        found = m_programStream->TakeUnit(info);
    if (!found) {
        info = SUnitInfo{};
        info.kind = m_kind;
        return ResultNeedMoreData;
    }
    info.kind = m_kind;
    if (m_ssid)
        m_ssid->Classify(info);
    return RESULT_OK;
}

void CStreamReader::ReleaseUnit(const SUnitInfo& info) noexcept
{
    // A record of a unit released already (or of none) releases nothing:
    // the unit now waiting in its place is another one.
    if (m_transportStream && (m_kind == STREAM_KIND_TS188 || m_kind == STREAM_KIND_TS192)) {
        m_transportStream->ReleaseUnit(info.programIndex, info.streamIndex, info.position);
    } else if (m_programStream && m_kind == STREAM_KIND_PROGRAM &&
               m_programStream->ReportedPosition() == info.position) {
        m_programStream->ReleaseUnit();
        m_programStream->ClearAnomalies();
    }
}

void CStreamReader::Shutdown() noexcept
{
    m_transportStream.reset();
    m_programStream.reset();
    m_ssid.reset();
    m_kind = STREAM_KIND_UNKNOWN;
    m_kindDecided = false;
}

}  // namespace parser
