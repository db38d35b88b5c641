#include "StreamReader.h"

#include "CheckStream.h"
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
        // The program-stream reader takes the bytes here.
        return RESULT_OK;
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

std::uint32_t CStreamReader::FreeSpace() const noexcept
{
    switch (m_kind) {
    case STREAM_KIND_TS188:
    case STREAM_KIND_TS192:
        return m_transportStream ? m_transportStream->FreeSpace() : 0;
    case STREAM_KIND_PROGRAM:
        // The program-stream reader's buffer, once it exists.
        return 0;
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
        const std::uint32_t units = demux.CompleteUnitCount();
        if (units > 0)
            return units > static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max())
                       ? std::numeric_limits<std::int32_t>::max()
                       : static_cast<std::int32_t>(units);
        // A pending one-packet private unit is to count as one unit here.
        // No packet could be had (a re-synchronisation waits for bytes):
        // until more are fed every further pass would find the same.
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
        // The program-stream reader reports its units here.
        return 0;
    default:
        return -1;
    }
}

void CStreamReader::Shutdown() noexcept
{
    m_transportStream.reset();
    m_kind = STREAM_KIND_UNKNOWN;
    m_kindDecided = false;
}

}  // namespace parser
