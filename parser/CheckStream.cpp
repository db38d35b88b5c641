#include "CheckStream.h"

#include "StreamReader.h"
#include "TSHeader.h"

#include <algorithm>
#include <array>

namespace parser {
namespace {

constexpr std::uint32_t PREFIX_MAX = 4;
// Units compared by the short check; a tie between kinds is settled over
// runs of (buffered bytes / DETECT_BYTES_PER_UNIT) units.
constexpr std::uint32_t DETECT_RUN = 5;
constexpr std::uint32_t DETECT_BYTES_PER_UNIT = 384;
constexpr std::uint32_t DETECT_LONG_RUN_MIN = 10;

constexpr std::int32_t START_CODE_PACK = 0x1BA;
constexpr std::int32_t START_CODE_SYSTEM_HEADER = 0x1BB;
// Bytes after the start code of an MPEG-1 pack header, and of an MPEG-2 one
// before its stuffing.
constexpr std::size_t PACK_BODY_MPEG1 = 8;
constexpr std::size_t PACK_BODY_MPEG2 = 10;
// Past a start code that led nowhere. Three, not four: the code byte may be
// the first 00 of the next start code.
constexpr std::size_t START_CODE_STEP = 3;

bool IsStartCodePrefix(const std::uint8_t* p) noexcept
{
    return p[0] == 0 && p[1] == 0 && p[2] == 1;
}

}  // namespace

std::int32_t CheckPacketRun(CBitstream& bits, std::uint32_t prefix, std::uint32_t n,
                            std::size_t* resumeFrom) noexcept
{
    if (prefix > PREFIX_MAX || n == 0 || bits.Start() == nullptr)
        return -1;
    const std::uint8_t* const start = bits.Start();
    const std::size_t size = static_cast<std::size_t>(bits.End() - start);
    const std::size_t stride = prefix + TS_PACKET_SIZE;
    // From a unit start: the unit's sync byte, the bytes behind it that would
    // be the real sync byte if the one found lay in a prefix, and the next
    // unit's sync byte.
    const std::size_t stepBytes = 2 * prefix + TS_PACKET_SIZE + 1;

    // The search failed for want of bytes. It goes on at `resume`, a sync
    // byte still to be tried or the end of the bytes searched (those between
    // hold no sync byte); the unit of any sync byte found from there starts
    // no earlier than prefix bytes before it, and that is kept.
    auto needMore = [&](std::size_t resume) noexcept {
        bits.SeekFromStart(resume >= prefix ? resume - prefix : 0);
        if (resumeFrom != nullptr)
            *resumeFrom = resume;
        return -1;
    };

    for (;;) {
        std::array<std::uint32_t, PREFIX_MAX> counters{};
        const std::int64_t found = bits.FindSyncByte();
        if (found < 0)
            return needMore(size);
        const std::size_t s = static_cast<std::size_t>(found);
        if (s < prefix) {
            bits.SeekFromStart(s + 1);
            continue;
        }
        std::size_t u = s - prefix;
        std::size_t unit = u;
        bool broken = false;
        for (std::uint32_t step = 1; step < n; ++step) {
            if (size - unit < stepBytes)
                return needMore(s);
            const std::uint8_t* const p = start + unit;
            for (std::uint32_t j = 0; j < prefix; ++j) {
                if (p[prefix + 1 + j] == TS_SYNC_BYTE)
                    ++counters[j];
            }
            if (p[2 * prefix + TS_PACKET_SIZE] != TS_SYNC_BYTE) {
                broken = true;
                break;
            }
            unit += stride;
        }
        if (broken) {
            bits.SeekFromStart(s + 1);
            continue;
        }
        // A sync byte that every unit repeats a few bytes further on means
        // the one found was a prefix byte: the real unit starts behind it.
        for (std::uint32_t j = prefix; j-- > 0;) {
            if (counters[j] != n - 1)
                continue;
            if (size - unit < prefix + 2 + j)
                return needMore(s);
            if (start[unit + prefix + 1 + j] == TS_SYNC_BYTE) {
                u += j + 1;
                break;
            }
        }
        bits.SeekFromStart(u);
        return 0;
    }
}

Result CCheckStream::Prepare(std::uint32_t size) noexcept
{
    m_kind = STREAM_KIND_UNKNOWN;
    ResetStatus();
    if (size == 0 || size > UINT32_MAX - 4)
        return ResultNoMemory;
    if (Allocate(size + 4) == 0)
        return ResultNoMemory;
    return RESULT_OK;
}

bool CCheckStream::CheckProgramStream() noexcept
{
    for (;;) {
        const std::int32_t code = FindStartCode();
        if (code < 0)
            return false;
        const std::uint8_t* const at = Cursor();
        const std::size_t left = Remaining();
        std::size_t headerBytes = 0;
        if (code == START_CODE_PACK && left > 4) {
            const std::uint32_t form = at[4] >> 6;
            if (form == 0)
                headerBytes = 4 + PACK_BODY_MPEG1;
            else if (form == 1 && left >= 4 + PACK_BODY_MPEG2)
                headerBytes = 4 + PACK_BODY_MPEG2 + (at[4 + PACK_BODY_MPEG2 - 1] & 0x07u);
        } else if (code == START_CODE_SYSTEM_HEADER && left >= 6) {
            headerBytes = 6 + ((std::size_t{at[4]} << 8) | at[5]);
        }
        if (headerBytes != 0 && left >= headerBytes + 3 && IsStartCodePrefix(at + headerBytes))
            return true;
        Advance(START_CODE_STEP);
    }
}

std::uint32_t CCheckStream::Detect() noexcept
{
    Rewind();
    const bool a = CheckPacketRun(*this, 0, DETECT_RUN) == 0;
    Rewind();
    const bool b = CheckPacketRun(*this, 4, DETECT_RUN) == 0;
    Rewind();
    const bool p = CheckProgramStream();
    Rewind();

    const int votes = int{a} + int{b} + int{p};
    if (votes == 0) {
        m_kind = STREAM_KIND_UNKNOWN;
    } else if (votes == 1) {
        m_kind = a ? STREAM_KIND_TS188 : b ? STREAM_KIND_TS192 : STREAM_KIND_PROGRAM;
    } else {
        const std::uint32_t n = Used() / DETECT_BYTES_PER_UNIT;
        // The tie-break used for short buffers; also the answer when the long
        // runs fail and nothing spoke for a program stream (calling such data
        // a program stream would hand a transport stream to the wrong reader).
        const std::uint32_t shortAnswer = a ? STREAM_KIND_TS188 : STREAM_KIND_TS192;
        if (n < DETECT_LONG_RUN_MIN) {
            m_kind = shortAnswer;
        } else if (CheckPacketRun(*this, 0, n) == 0) {
            m_kind = STREAM_KIND_TS188;
        } else {
            Rewind();
            if (CheckPacketRun(*this, 4, n) == 0)
                m_kind = STREAM_KIND_TS192;
            else
                m_kind = p ? STREAM_KIND_PROGRAM : shortAnswer;
        }
        Rewind();
    }
    return m_kind;
}

}  // namespace parser
