// MPEG program streams: pack headers in the MPEG-2 form ('01' after the start
// code, SCR base and extension, 22-bit mux rate, stuffing) and the MPEG-1 form
// ('0010' after the start code), system headers, PES packets and the program
// end code, appended in any order the test wants.
#pragma once

#include "vsktest/PesPacket.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <vector>

namespace vsktest {

inline constexpr std::uint32_t PS_START_CODE_PACK = 0x000001BA;
inline constexpr std::uint32_t PS_START_CODE_SYSTEM_HEADER = 0x000001BB;
inline constexpr std::uint32_t PS_START_CODE_END = 0x000001B9;

struct PackHeaderParams
{
    bool mpeg1 = false;
    std::uint64_t scrBase = 0;        // 33 bits, 90 kHz
    std::uint16_t scrExtension = 0;   // 9 bits (MPEG-2 only)
    std::uint32_t muxRate = 25200;    // 22 bits, units of 50 bytes/s
    std::uint8_t stuffing = 0;        // pack_stuffing_length, 0..7 (MPEG-2 only)
};

// 14 + stuffing bytes (MPEG-2) or 12 bytes (MPEG-1).
std::vector<std::uint8_t> MakePackHeader(const PackHeaderParams& params);

struct SystemHeaderStream
{
    std::uint8_t streamId = STREAM_ID_VIDEO_FIRST;
    bool bufferBoundScale = true;
    std::uint16_t bufferSizeBound = 232;  // 13 bits
};

struct SystemHeaderParams
{
    std::uint32_t rateBound = 25200;  // 22 bits
    std::uint8_t audioBound = 1;      // 6 bits
    bool fixed = false;
    bool csps = false;
    bool systemAudioLock = true;
    bool systemVideoLock = true;
    std::uint8_t videoBound = 1;      // 5 bits
    bool packetRateRestriction = false;
    std::vector<SystemHeaderStream> streams;
};

std::vector<std::uint8_t> MakeSystemHeader(const SystemHeaderParams& params);

class CProgramStreamBuilder
{
public:
    // Each Add returns the offset at which its bytes begin.
    std::uint64_t AddPack(const PackHeaderParams& params);
    std::uint64_t AddSystemHeader(const SystemHeaderParams& params);
    std::uint64_t AddPes(const PesParams& params);
    std::uint64_t AddMpeg1Pes(const Mpeg1PesParams& params);
    std::uint64_t AddEnd();
    std::uint64_t AddRaw(std::span<const std::uint8_t> bytes);

    std::uint64_t Size() const { return m_bytes.size(); }
    const std::vector<std::uint8_t>& Bytes() const { return m_bytes; }
    std::vector<std::uint8_t> Take();
    void WriteTo(const std::filesystem::path& path) const;

private:
    std::vector<std::uint8_t> m_bytes;
};

}  // namespace vsktest
