// CCheckStream: decides from the first chunk of a file what kind of stream it
// holds (program stream, 188-byte transport packets, 192-byte units with a
// 4-byte prefix). CheckPacketRun is the packet-run test it shares with the
// transport packet reader, which uses it to find its footing again after a
// lost sync byte.
#pragma once

#include "Buffer.h"
#include "Results.h"

#include <cstddef>
#include <cstdint>

namespace parser {

// Looks from the cursor for n units of stride prefix + 188 whose sync bytes
// all lie where they belong (prefix 0 or 4). Success (0): the cursor is on the
// first unit's first byte. When 0x47 repeats in every unit close behind the
// first sync byte found, that one may lie inside a prefix (a prefix byte that
// happens to be 0x47 in every unit) or be the real one with a header byte of
// 0x47 behind it (a PID such as 0x0047): the start whose units read as packet
// headers is taken.
//
// Failure (-1): no run in the bytes at hand. The cursor is then left where the
// bytes worth keeping begin, and *resumeFrom (when given) receives the offset
// from start at which the search must start again once more bytes have been
// appended, so that a search over data arriving piece by piece sees exactly
// the candidates that one search over all of it would.
std::int32_t CheckPacketRun(CBitstream& bits, std::uint32_t prefix, std::uint32_t n,
                            std::size_t* resumeFrom = nullptr) noexcept;

class CCheckStream : public CBuffer2
{
public:
    CCheckStream() = default;
    ~CCheckStream() override = default;

    // kind = 0 and room for size bytes. ResultNoMemory for size 0 or when the
    // memory cannot be had.
    Result Prepare(std::uint32_t size) noexcept;
    // Examines the buffered bytes, sets and returns the kind
    // (STREAM_KIND_...).
    std::uint32_t Detect() noexcept;
    // From the cursor: a pack or system header directly followed by another
    // start code.
    bool CheckProgramStream() noexcept;

    std::uint32_t Kind() const noexcept { return m_kind; }

private:
    std::uint32_t m_kind = 0;
};

}  // namespace parser
