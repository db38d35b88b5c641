// The demultiplexing target: one input drives one CStreamReader the way the
// time seek drives it (Initialize; Configure(2, 4, 0xFF, 0x20000, 0); Feed
// piece by piece; after each Feed, NextUnits until it returns 0 or less;
// every unit taken, checked and released; Shutdown). The control byte
// chooses how the stream is cut into Feed pieces, so detection on a short
// first chunk, packets split across Feed calls and (with the smallest packet
// buffer) compaction are all reached.
//
// It does nothing else, so it runs at thousands of inputs a second: no file
// is written and no search run per input (that is the seek target's work).
// Filling the smallest buffer takes 160 KiB however short the input, some
// eighty times the work of a typical input, so only one input in eight
// (FUZZ_FEED_PAST_BUFFER) does it; fed to every input with the small buffer,
// as before, it held the rate near a thousand a second.
#include "FuzzSupport.h"

#include "StreamReader.h"

#include <map>
#include <utility>

namespace vskfuzz {
namespace {

// The rules every result must keep, whatever the bytes were.
class CReaderCheck
{
public:
    CReaderCheck(const parser::CStreamReader& reader, std::uint32_t largestBuffer)
        : m_reader(reader), m_largestBuffer(largestBuffer)
    {
    }

    void AfterFeed(parser::Result result, std::uint32_t length)
    {
        const std::uint32_t kind = m_reader.Kind();
        const bool first = !m_fed;
        if (first) {
            m_fed = true;
            m_kind = kind;
        } else if (kind != m_kind) {
            Fault("the stream kind changed after the first Feed");
        }
        if (kind > parser::STREAM_KIND_TS192)
            Fault("Feed set a stream kind that does not exist");
        if (kind == parser::STREAM_KIND_UNKNOWN) {
            if (result == parser::RESULT_OK)
                Fault("Feed of a stream of unknown kind reported success");
            if (!first && result != parser::ResultUnsupported)
                Fault("Feed after detection found no kind did not answer ResultUnsupported");
        }
        if (result == parser::RESULT_OK && (kind == parser::STREAM_KIND_TS188 || kind == parser::STREAM_KIND_TS192)) {
            if (m_reader.TransportStream() == nullptr)
                Fault("a transport stream was fed without a demultiplexer");
            // The bytes just fed are still held, so at most capacity - length is free.
            if (length > m_largestBuffer || m_reader.FreeSpace() > m_largestBuffer - length)
                Fault("FreeSpace counts bytes that were just fed as free");
        }
        CheckFreeSpace();
    }

    void AfterNextUnits(std::int32_t units)
    {
        if (units < -1)
            Fault("NextUnits returned a value below -1");
        if (m_reader.Kind() == parser::STREAM_KIND_UNKNOWN && units != -1)
            Fault("NextUnits on a stream of unknown kind did not fail");
        CheckFreeSpace();
    }

    // The rules of a unit record, whatever the bytes were.
    void CheckUnit(const parser::SUnitInfo& unit, std::uint64_t fed)
    {
        if (unit.kind != m_reader.Kind())
            Fault("a unit record names another stream kind");
        if (unit.payload == nullptr || unit.payloadLength == 0)
            Fault("a unit was reported without payload");
        if (unit.position < 0 || unit.spanLength == 0 ||
            static_cast<std::uint64_t>(unit.position) + unit.spanLength > fed)
            Fault("a unit lies outside the bytes fed");
        if (unit.payloadLength > unit.spanLength)
            Fault("a unit carries more payload than it spans");
        // Every payload byte is read, so a payload outside the reader's
        // memory is caught by the sanitizers.
        std::uint32_t sum = 0;
        for (std::uint32_t i = 0; unit.payload != nullptr && i < unit.payloadLength; ++i)
            sum += unit.payload[i];
        m_payloadSum += sum;
        if (unit.packetCount != 0) {
            if (unit.packetPositions == nullptr || unit.packetHeaderLengths == nullptr ||
                unit.packetPositions[0] != unit.position)
                Fault("a unit's first packet is not where the unit begins");
            for (std::uint32_t i = 1; i < unit.packetCount; ++i) {
                if (unit.packetPositions[i] <= unit.packetPositions[i - 1])
                    Fault("a unit's packets are not in stream order");
            }
            const std::uint64_t last = static_cast<std::uint64_t>(unit.packetPositions[unit.packetCount - 1]);
            if (last >= static_cast<std::uint64_t>(unit.position) + unit.spanLength)
                Fault("a unit's last packet lies beyond its span");
        }
        // Units of one stream come in stream order.
        const auto key = std::make_pair(unit.programIndex, unit.streamIndex);
        const auto previous = m_lastPositions.find(key);
        if (previous != m_lastPositions.end() && unit.position <= previous->second)
            Fault("a stream's units do not come in stream order");
        m_lastPositions[key] = unit.position;
    }

private:
    void CheckFreeSpace()
    {
        if (m_reader.FreeSpace() > m_largestBuffer)
            Fault("FreeSpace exceeds the largest buffer the reader can have");
    }

    const parser::CStreamReader& m_reader;
    const std::uint32_t m_largestBuffer;
    std::map<std::pair<std::uint32_t, std::uint32_t>, std::int64_t> m_lastPositions;
    std::uint32_t m_payloadSum = 0;
    bool m_fed = false;
    std::uint32_t m_kind = parser::STREAM_KIND_UNKNOWN;
};

// Feeds one piece and works through it as the time seek does; false when
// the reader failed and the input says not to go on.
bool FeedPiece(parser::CStreamReader& reader, CReaderCheck& check, const std::uint8_t* bytes, std::size_t length,
               std::size_t& fed, bool goOn)
{
    const parser::Result result = reader.Feed(bytes, static_cast<std::uint32_t>(length));
    check.AfterFeed(result, static_cast<std::uint32_t>(length));
    fed += length;
    if (result != parser::RESULT_OK && !goOn)
        return false;
    // A reader that reports units but never consumes a byte would keep this
    // loop going; every real step consumes at least one of the bytes fed so
    // far, which bounds it.
    std::int32_t units = 1;
    for (std::size_t calls = 0; units > 0 && calls <= fed + 16; ++calls) {
        units = reader.NextUnits();
        check.AfterNextUnits(units);
        if (units > 0) {
            parser::SUnitInfo unit;
            if (reader.TakeUnit(unit) != parser::RESULT_OK) {
                Fault("NextUnits reported a unit that TakeUnit did not find");
                break;
            }
            check.CheckUnit(unit, fed);
            reader.ReleaseUnit(unit);
        }
    }
    return units >= 0 || goOn;
}

int RunDemuxInput(const std::uint8_t* data, std::size_t size) noexcept
{
    if (size < 2)
        return 0;
    const std::uint8_t control = data[0];
    const std::uint8_t* stream = data + 1;
    const std::size_t streamLength = size - 1;
    const bool smallBuffer = (control & FUZZ_SMALL_BUFFER) != 0;
    const bool feedPastBuffer = (control & FUZZ_FEED_PAST_BUFFER) == FUZZ_FEED_PAST_BUFFER;
    const bool goOn = (control & FUZZ_GO_ON_AFTER_FAILURE) != 0;

    parser::CStreamReader reader;
    if (reader.Initialize() != parser::RESULT_OK) {
        reader.Shutdown();
        return 0;
    }
    reader.Configure(FUZZ_HISTORY_MODE, FUZZ_SELECTION_MODE, smallBuffer ? FUZZ_SMALL_PROFILE_LEVEL : FUZZ_PROFILE_LEVEL,
                     FUZZ_BUFFER_SIZE, 0);
    CReaderCheck check(reader, smallBuffer ? FUZZ_SMALL_BUFFER_SIZE : FUZZ_LARGEST_BUFFER);

    std::vector<std::size_t> pieces;
    try {
        pieces = PlanPieces(control, streamLength);
    } catch (...) {
        reader.Shutdown();
        return 0;
    }

    // The first pass cuts the stream as planned; then, for one input in
    // eight, the stream goes in again whole, until the small buffer has been
    // filled and compacted.
    std::size_t fed = 0;
    std::size_t offset = 0;
    bool going = true;
    for (std::size_t k = 0; going && k < pieces.size(); ++k) {
        going = FeedPiece(reader, check, stream + offset, pieces[k], fed, goOn);
        offset += pieces[k];
    }
    while (going && feedPastBuffer && fed < FUZZ_SMALL_BUFFER_FEED)
        going = FeedPiece(reader, check, stream, streamLength, fed, goOn);
    reader.Shutdown();
    return 0;
}

}  // namespace
}  // namespace vskfuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    return vskfuzz::RunDemuxInput(data, size);
}
