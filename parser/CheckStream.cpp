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

// The header bytes behind a sync byte: the flags and PID, and the byte with
// adaptation_field_control and continuity_counter.
constexpr std::size_t HEADER_REST = 3;
// A sync byte this far behind another may be the low byte of the other's PID.
constexpr std::size_t PID_LOW_BYTE_DISTANCE = 2;

// How well the bytes behind the sync byte at `sync` and the n - 1 at the
// stride behind it read as packet headers: a point for each header whose
// adaptation_field_control is not the reserved 00, and one for each whose
// PID is that of the unit before and whose continuity_counter follows it.
std::uint32_t HeaderScore(const std::uint8_t* sync, std::size_t stride, std::uint32_t n) noexcept
{
    std::uint32_t score = 0;
    std::uint32_t previousPid = UINT32_MAX;
    std::uint32_t previousCounter = 0;
    for (std::uint32_t i = 0; i < n; ++i) {
        const std::uint8_t* const h = sync + std::size_t{i} * stride;
        const std::uint32_t pid = ((h[1] & 0x1Fu) << 8) | h[2];
        const std::uint32_t counter = h[3] & 0x0Fu;
        if ((h[3] & 0x30u) != 0)
            ++score;
        if (pid == previousPid && counter == ((previousCounter + 1) & 0x0Fu))
            ++score;
        previousPid = pid;
        previousCounter = counter;
    }
    return score;
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
        const std::int64_t found = bits.FindSyncByte();
        if (found < 0)
            return needMore(size);
        const std::size_t s = static_cast<std::size_t>(found);
        if (s < prefix) {
            bits.SeekFromStart(s + 1);
            continue;
        }
        bool broken = false;
        for (std::uint32_t step = 1; step < n && !broken; ++step) {
            const std::size_t at = s + std::size_t{step} * stride;
            if (at >= size)
                return needMore(s);
            broken = start[at] != TS_SYNC_BYTE;
        }
        if (broken) {
            bits.SeekFromStart(s + 1);
            continue;
        }

        // 0x47 that repeats in every unit within a prefix's length of the
        // sync byte found gives the run other possible starts. The byte found
        // may lie in a prefix (an arrival time byte that stays 0x47), the
        // real sync byte behind it; or it is the real one and a header byte
        // behind it is 0x47 (a PID such as 0x0047); or it is that header byte
        // and the real sync byte comes before it, where the search did not
        // look or found it too close to the start for a whole unit. A
        // candidate before it is taken from the next unit on.
        std::array<std::size_t, 2 * PREFIX_MAX + 1> candidates{};
        std::size_t count = 0;
        for (std::size_t shift = 0; shift <= 2 * std::size_t{prefix}; ++shift) {
            if (shift == prefix)
                continue;
            // Units 0 .. n - 2 of every candidate lie before the last sync
            // byte of the run, which is buffered.
            const std::size_t first = shift < prefix ? s + stride - (prefix - shift) : s + (shift - prefix);
            bool repeats = true;
            for (std::uint32_t i = 0; i + 1 < n && repeats; ++i)
                repeats = start[first + std::size_t{i} * stride] == TS_SYNC_BYTE;
            if (!repeats)
                continue;
            const std::size_t last = first + std::size_t{n - 1} * stride;
            if (last >= size)
                return needMore(s);
            if (start[last] != TS_SYNC_BYTE)
                continue;
            if (size - last <= HEADER_REST)
                return needMore(s);
            candidates[count++] = first;
        }
        // The start whose units read best as packet headers wins. On equal
        // terms the later one does, as a prefix byte is the likelier 0x47,
        // except two bytes on, where a PID's low byte is.
        std::size_t sync = s;
        if (count != 0) {
            candidates[count++] = s;
            const auto phase = [&](std::size_t at) { return at > s + prefix ? at - stride : at; };
            std::sort(candidates.begin(), candidates.begin() + static_cast<std::ptrdiff_t>(count),
                      [&](std::size_t x, std::size_t y) { return phase(x) < phase(y); });
            std::uint32_t best = 0;
            for (std::size_t i = 0; i < count; ++i) {
                const std::uint32_t score = HeaderScore(start + candidates[i], stride, n);
                if (i == 0 || score > best ||
                    (score == best && phase(candidates[i]) - phase(sync) != PID_LOW_BYTE_DISTANCE)) {
                    sync = candidates[i];
                    best = score;
                }
            }
        }
        bits.SeekFromStart(sync - prefix);
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
