// Helpers shared by the packet tests: streams of plain packets whose bytes
// hold no sync byte outside the packet headers (so every sync byte a search
// finds is one the test put there), and a packet reader loaded with bytes.
#pragma once

#include "CheckStream.h"
#include "TSHeader.h"

#include "vsktest/TsStreamBuilder.h"

#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace packettest {

inline constexpr std::uint16_t TEST_PID = 0x0100;

// A packet on TEST_PID whose 184 payload bytes are `fill`.
inline vsktest::TsPacket FilledPacket(std::uint8_t fill = 0x11, std::uint16_t pid = TEST_PID)
{
    vsktest::TsPacket p;
    p.pid = pid;
    p.payload.assign(vsktest::TS_MAX_PAYLOAD, fill);
    return p;
}

// `count` units of FilledPacket; 192-byte units get `prefix` in front.
inline std::vector<std::uint8_t> PlainStream(std::size_t count, std::size_t unitSize = vsktest::TS_UNIT_SIZE_188,
                                             std::array<std::uint8_t, 4> prefix = {0, 0, 0, 0},
                                             std::uint8_t fill = 0x11)
{
    vsktest::CTsStreamBuilder builder(unitSize);
    builder.SetCustomPrefix(prefix);
    for (std::size_t i = 0; i < count; ++i)
        builder.Add(FilledPacket(fill));
    return builder.Take();
}

inline std::vector<std::uint8_t> Slice(const std::vector<std::uint8_t>& bytes, std::size_t from,
                                       std::size_t length = SIZE_MAX)
{
    const std::size_t end = length == SIZE_MAX || from + length > bytes.size() ? bytes.size() : from + length;
    return std::vector<std::uint8_t>(bytes.begin() + static_cast<std::ptrdiff_t>(from),
                                     bytes.begin() + static_cast<std::ptrdiff_t>(end));
}

// A cursor over bytes the test owns.
class CView : public parser::CBitstream
{
public:
    explicit CView(std::span<const std::uint8_t> bytes) { Attach(bytes.data(), bytes.size()); }
};

// A packet reader that can pretend its buffer ends early, for the checks
// that guard against data a whole-packet read never leaves missing.
class CTestReader : public parser::CTSHeader
{
public:
    // Loads the bytes into a fresh buffer.
    void Load(std::span<const std::uint8_t> bytes, std::uint32_t prefix = 0)
    {
        Prepare(static_cast<std::uint32_t>(bytes.size() + 1024), prefix);
        if (!bytes.empty())
            Append(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
    }
    void Feed(std::span<const std::uint8_t> bytes)
    {
        if (FreeSpace() < bytes.size())
            Compact();
        Append(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
    }
    // The buffered data ends `n` bytes after the cursor.
    void EndAfterCursor(std::size_t n) { m_end = m_cursor + n; }
};

}  // namespace packettest
