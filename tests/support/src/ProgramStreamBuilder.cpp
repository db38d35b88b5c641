#include "vsktest/ProgramStreamBuilder.h"

#include "vsktest/BitWriter.h"
#include "vsktest/TempDir.h"

#include <stdexcept>

namespace vsktest {

std::vector<std::uint8_t> MakePackHeader(const PackHeaderParams& s)
{
    CBitWriter w;
    w.Put(PS_START_CODE_PACK, 32);
    if (s.mpeg1) {
        w.Put(0x2, 4)
            .Put(s.scrBase >> 30, 3).Marker()
            .Put(s.scrBase >> 15, 15).Marker()
            .Put(s.scrBase, 15).Marker()
            .Marker()
            .Put(s.muxRate, 22).Marker();
    } else {
        if (s.stuffing > 7)
            throw std::invalid_argument("pack_stuffing_length above 7");
        w.Put(0x1, 2)
            .Put(s.scrBase >> 30, 3).Marker()
            .Put(s.scrBase >> 15, 15).Marker()
            .Put(s.scrBase, 15).Marker()
            .Put(s.scrExtension, 9).Marker()
            .Put(s.muxRate, 22).Marker().Marker()
            .Ones(5).Put(s.stuffing, 3)
            .Fill(0xFF, s.stuffing);
    }
    return w.Take();
}

std::vector<std::uint8_t> MakeSystemHeader(const SystemHeaderParams& s)
{
    CBitWriter body;
    body.Marker()
        .Put(s.rateBound, 22).Marker()
        .Put(s.audioBound, 6)
        .Put(s.fixed, 1)
        .Put(s.csps, 1)
        .Put(s.systemAudioLock, 1)
        .Put(s.systemVideoLock, 1)
        .Marker()
        .Put(s.videoBound, 5)
        .Put(s.packetRateRestriction, 1)
        .Ones(7);
    for (const SystemHeaderStream& st : s.streams)
        body.Put(st.streamId, 8).Put(0x3, 2).Put(st.bufferBoundScale, 1).Put(st.bufferSizeBound, 13);
    const std::vector<std::uint8_t> bytes = body.Take();

    CBitWriter w;
    w.Put(PS_START_CODE_SYSTEM_HEADER, 32).Put(bytes.size(), 16).Bytes(bytes);
    return w.Take();
}

std::uint64_t CProgramStreamBuilder::AddRaw(std::span<const std::uint8_t> bytes)
{
    const std::uint64_t at = m_bytes.size();
    m_bytes.insert(m_bytes.end(), bytes.begin(), bytes.end());
    return at;
}

std::uint64_t CProgramStreamBuilder::AddPack(const PackHeaderParams& params)
{
    return AddRaw(MakePackHeader(params));
}

std::uint64_t CProgramStreamBuilder::AddSystemHeader(const SystemHeaderParams& params)
{
    return AddRaw(MakeSystemHeader(params));
}

std::uint64_t CProgramStreamBuilder::AddPes(const PesParams& params)
{
    return AddRaw(MakePes(params));
}

std::uint64_t CProgramStreamBuilder::AddMpeg1Pes(const Mpeg1PesParams& params)
{
    return AddRaw(MakeMpeg1Pes(params));
}

std::uint64_t CProgramStreamBuilder::AddEnd()
{
    const std::uint8_t end[] = {0x00, 0x00, 0x01, 0xB9};
    return AddRaw(end);
}

std::vector<std::uint8_t> CProgramStreamBuilder::Take()
{
    std::vector<std::uint8_t> bytes = std::move(m_bytes);
    m_bytes.clear();
    return bytes;
}

void CProgramStreamBuilder::WriteTo(const std::filesystem::path& path) const
{
    WriteFileBytes(path, m_bytes);
}

}  // namespace vsktest
