#include "vsktest/PesPacket.h"

#include "vsktest/BitWriter.h"

#include <algorithm>
#include <stdexcept>

namespace vsktest {

std::array<std::uint8_t, 5> EncodeTimestamp(std::uint8_t prefix, std::uint64_t timestamp)
{
    CBitWriter w;
    w.Put(prefix, 4)
        .Put(timestamp >> 30, 3)
        .Marker()
        .Put(timestamp >> 15, 15)
        .Marker()
        .Put(timestamp, 15)
        .Marker();
    std::array<std::uint8_t, 5> out{};
    std::copy_n(w.Data().begin(), 5, out.begin());
    return out;
}

std::uint64_t DecodeTimestamp(const std::uint8_t* f)
{
    return (static_cast<std::uint64_t>((f[0] >> 1) & 0x07u) << 30) |
           (static_cast<std::uint64_t>(f[1]) << 22) |
           (static_cast<std::uint64_t>(f[2] >> 1) << 15) |
           (static_cast<std::uint64_t>(f[3]) << 7) |
           static_cast<std::uint64_t>(f[4] >> 1);
}

bool PesHasOptionalHeader(std::uint8_t id)
{
    switch (id) {
    case 0xBC: case 0xBE: case 0xBF: case 0xF0: case 0xF1: case 0xF2: case 0xF8: case 0xFF:
        return false;
    default:
        return true;
    }
}

namespace {

std::vector<std::uint8_t> OptionalHeaderFields(const PesParams& s)
{
    CBitWriter w;
    if (s.pts && s.dts) {
        w.Bytes(EncodeTimestamp(TIMESTAMP_PREFIX_PTS, *s.pts));
        w.Bytes(EncodeTimestamp(TIMESTAMP_PREFIX_DTS, *s.dts));
    } else if (s.pts) {
        w.Bytes(EncodeTimestamp(TIMESTAMP_PREFIX_PTS_ONLY, *s.pts));
    }
    if (s.escrBase)
        w.Ones(2).Put(*s.escrBase >> 30, 3).Marker().Put(*s.escrBase >> 15, 15).Marker()
            .Put(*s.escrBase, 15).Marker().Put(s.escrExtension, 9).Marker();
    if (s.esRate)
        w.Marker().Put(*s.esRate, 22).Marker();
    if (s.trickMode)
        w.Put(*s.trickMode, 8);
    if (s.additionalCopyInfo)
        w.Marker().Put(*s.additionalCopyInfo, 7);
    if (s.previousCrc)
        w.Put(*s.previousCrc, 16);
    if (s.extension)
        w.Bytes(*s.extension);
    w.Fill(0xFF, s.headerStuffing);
    return w.Take();
}

}  // namespace

std::size_t PesHeaderSize(const PesParams& params)
{
    if (!PesHasOptionalHeader(params.streamId))
        return 6;
    return 9 + OptionalHeaderFields(params).size();
}

std::vector<std::uint8_t> MakePes(const PesParams& s)
{
    CBitWriter w;
    w.Put(0x000001, 24).Put(s.streamId, 8);

    std::vector<std::uint8_t> rest;
    if (PesHasOptionalHeader(s.streamId)) {
        const std::vector<std::uint8_t> fields = OptionalHeaderFields(s);
        if (fields.size() > 255)
            throw std::invalid_argument("PES header data longer than 255 bytes");
        const std::uint8_t flags = s.ptsDtsFlagsOverride.value_or(s.pts ? (s.dts ? 3 : 2) : 0);
        CBitWriter h;
        h.Put(2, 2)
            .Put(s.scrambling, 2)
            .Put(s.priority, 1)
            .Put(s.dataAlignment, 1)
            .Put(s.copyright, 1)
            .Put(s.original, 1)
            .Put(flags, 2)
            .Put(s.escrBase.has_value(), 1)
            .Put(s.esRate.has_value(), 1)
            .Put(s.trickMode.has_value(), 1)
            .Put(s.additionalCopyInfo.has_value(), 1)
            .Put(s.previousCrc.has_value(), 1)
            .Put(s.extension.has_value(), 1)
            .Put(fields.size(), 8)
            .Bytes(fields);
        rest = h.Take();
    }
    rest.insert(rest.end(), s.payload.begin(), s.payload.end());

    std::uint16_t length = 0;
    if (s.packetLengthOverride) {
        length = *s.packetLengthOverride;
    } else if (!s.unbounded) {
        if (rest.size() > 0xFFFF)
            throw std::invalid_argument("PES packet longer than PES_packet_length can express");
        length = static_cast<std::uint16_t>(rest.size());
    }
    w.Put(length, 16).Bytes(rest);
    return w.Take();
}

std::vector<std::uint8_t> MakeMpeg1Pes(const Mpeg1PesParams& s)
{
    CBitWriter rest;
    if (s.streamId != STREAM_ID_PRIVATE_2 && s.streamId != STREAM_ID_PADDING) {
        rest.Fill(0xFF, s.stuffing);
        if (s.stdBuffer)
            rest.Put(1, 2).Put(s.stdBuffer->first, 1).Put(s.stdBuffer->second, 13);
        if (s.pts && s.dts) {
            rest.Bytes(EncodeTimestamp(TIMESTAMP_PREFIX_PTS, *s.pts));
            rest.Bytes(EncodeTimestamp(TIMESTAMP_PREFIX_DTS, *s.dts));
        } else if (s.pts) {
            rest.Bytes(EncodeTimestamp(TIMESTAMP_PREFIX_PTS_ONLY, *s.pts));
        } else {
            rest.Put(0x0F, 8);
        }
    }
    rest.Bytes(s.payload);
    std::vector<std::uint8_t> body = rest.Take();
    if (!s.packetLengthOverride && body.size() > 0xFFFF)
        throw std::invalid_argument("PES packet longer than packet_length can express");

    CBitWriter w;
    w.Put(0x000001, 24)
        .Put(s.streamId, 8)
        .Put(s.packetLengthOverride.value_or(static_cast<std::uint16_t>(body.size())), 16)
        .Bytes(body);
    return w.Take();
}

}  // namespace vsktest
