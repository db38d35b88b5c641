// Whole recordings for tests that need a plausible file rather than single
// packets: PAT and PMT, then a video stream whose PES packets start every N
// packets with increasing PTS (PCR and random access in the first packet of
// each), optionally interleaved with one-packet audio PES packets. The layout
// is exact and reported, so a test knows the offset and PTS of every unit.
#pragma once

#include "vsktest/TsStreamBuilder.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <vector>

namespace vsktest {

struct RecordingParams
{
    std::size_t unitSize = TS_UNIT_SIZE_188;  // 188 or 192
    // Prefix of 192-byte units.
    PrefixMode prefixMode = PrefixMode::ArrivalTime;
    std::uint32_t arrivalTimeFirst = 0;
    std::uint32_t arrivalTimeStep = 7520;  // 27 MHz ticks per packet (about 5.4 Mbit/s)
    std::uint8_t copyPermission = 0;
    std::array<std::uint8_t, 4> customPrefix{};

    std::size_t packetCount = 1000;
    std::uint16_t transportStreamId = 1;
    std::uint16_t programNumber = 1;
    std::uint16_t pmtPid = 0x0100;
    std::uint16_t videoPid = 0x0200;
    std::uint16_t audioPid = 0x0201;
    std::uint8_t videoStreamType = 0x02;  // 0x02 MPEG-2 video, 0x1B AVC
    bool audio = false;
    std::uint8_t audioStreamType = 0x04;  // 0x03/0x04 MPEG audio, 0x81 AC-3
    std::size_t audioInterval = 12;       // every this many packets one audio packet
    std::size_t videoPacketsPerPes = 32;  // N: a video PES packet spans N packets
    std::uint64_t firstPts = 90000;
    std::uint64_t videoPtsStep = 3003;
    std::uint64_t audioPtsStep = 2160;
    bool videoUnbounded = true;  // PES_packet_length 0 for video
    bool pcr = true;             // PCR on the video PID in each unit's first packet
    std::size_t psiInterval = 0;  // PAT and PMT again every this many packets (0: only at the start)
};

struct UnitMark
{
    std::uint64_t pts = 0;
    std::uint64_t unitOffset = 0;  // first byte of the transport unit (prefix included)
    std::size_t packetIndex = 0;
};

struct Recording
{
    std::vector<std::uint8_t> bytes;
    std::vector<UnitMark> video;  // every video PES whose first packet was written
    std::vector<UnitMark> audio;
};

Recording MakeRecording(const RecordingParams& params);

// Writes a recording of about `size` bytes (rounded down to whole units) fast
// enough for benchmark files of a gibibyte: one block of packets is built once
// and written again and again with its PTS, PCR, continuity counters and
// arrival times moved on, so the file stays a valid, steadily timed stream.
// params.packetCount sets the block's minimum size. Returns the bytes written.
std::uint64_t WriteLargeRecording(const std::filesystem::path& path, std::uint64_t size,
                                  const RecordingParams& params);

}  // namespace vsktest
