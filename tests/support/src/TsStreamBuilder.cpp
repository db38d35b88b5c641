#include "vsktest/TsStreamBuilder.h"

#include "vsktest/TempDir.h"

#include <algorithm>
#include <stdexcept>

namespace vsktest {

std::array<std::uint8_t, 4> EncodeArrivalTimePrefix(std::uint32_t arrivalTime,
                                                    std::uint8_t copyPermission)
{
    const std::uint32_t v = (static_cast<std::uint32_t>(copyPermission & 3u) << 30) |
                            (arrivalTime & 0x3FFFFFFFu);
    return {static_cast<std::uint8_t>(v >> 24), static_cast<std::uint8_t>(v >> 16),
            static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)};
}

std::vector<TsPacket> PacketizePes(std::uint16_t pid, std::span<const std::uint8_t> pes,
                                   const PesPacketOptions& options)
{
    if (options.maxPayloadPerPacket == 0)
        throw std::invalid_argument("PacketizePes: maxPayloadPerPacket is 0");
    std::vector<TsPacket> packets;
    std::size_t pos = 0;
    do {
        TsPacket p;
        p.pid = pid;
        p.fill = TsFill::AdaptationStuffing;
        std::size_t room = TS_MAX_PAYLOAD;
        if (packets.empty()) {
            p.payloadUnitStart = true;
            if (options.pcrBase || options.randomAccess) {
                AdaptationField af;
                af.pcrBase = options.pcrBase;
                af.pcrExtension = options.pcrExtension;
                af.randomAccess = options.randomAccess;
                room -= EncodeAdaptationField(af).size();
                p.adaptation = af;
            }
        }
        const std::size_t n = std::min({room, options.maxPayloadPerPacket, pes.size() - pos});
        p.payload.assign(pes.begin() + static_cast<std::ptrdiff_t>(pos),
                         pes.begin() + static_cast<std::ptrdiff_t>(pos + n));
        pos += n;
        packets.push_back(std::move(p));
    } while (pos < pes.size());
    return packets;
}

std::vector<TsPacket> PacketizeSections(std::uint16_t pid,
                                        const std::vector<std::vector<std::uint8_t>>& sections,
                                        const SectionPacketOptions& options)
{
    if (options.maxPayloadPerPacket < 2 || options.maxPayloadPerPacket > TS_MAX_PAYLOAD)
        throw std::invalid_argument("PacketizeSections: maxPayloadPerPacket must be 2..184");

    if (options.sectionPerPacket && sections.size() > 1) {
        std::vector<TsPacket> all;
        SectionPacketOptions single = options;
        single.sectionPerPacket = false;
        for (const auto& section : sections) {
            std::vector<TsPacket> part = PacketizeSections(pid, {section}, single);
            all.insert(all.end(), part.begin(), part.end());
            single.leadingBytes.clear();
        }
        return all;
    }

    std::vector<std::uint8_t> data = options.leadingBytes;
    std::vector<std::size_t> starts;
    for (const auto& section : sections) {
        starts.push_back(data.size());
        data.insert(data.end(), section.begin(), section.end());
    }

    std::vector<TsPacket> packets;
    std::size_t pos = 0;
    std::size_t nextStart = 0;  // index into starts
    const std::size_t cap = options.maxPayloadPerPacket;
    while (pos < data.size() || packets.empty()) {
        TsPacket p;
        p.pid = pid;
        while (nextStart < starts.size() && starts[nextStart] < pos)
            ++nextStart;
        const bool startHere = nextStart < starts.size() && starts[nextStart] < pos + cap;
        if (startHere && starts[nextStart] < pos + cap - 1) {
            p.payloadUnitStart = true;
            p.payload.push_back(static_cast<std::uint8_t>(starts[nextStart] - pos));
            const std::size_t n = std::min(cap - 1, data.size() - pos);
            p.payload.insert(p.payload.end(), data.begin() + static_cast<std::ptrdiff_t>(pos),
                             data.begin() + static_cast<std::ptrdiff_t>(pos + n));
            pos += n;
        } else if (startHere) {
            // The next section would start on the packet's last byte, where
            // the pointer_field leaves no room for it: end this packet with
            // the previous section's tail and stuffing, start the next afresh.
            p.payload.assign(data.begin() + static_cast<std::ptrdiff_t>(pos),
                             data.begin() + static_cast<std::ptrdiff_t>(starts[nextStart]));
            p.payload.push_back(0xFF);
            pos = starts[nextStart];
        } else {
            const std::size_t n = std::min(cap, data.size() - pos);
            p.payload.assign(data.begin() + static_cast<std::ptrdiff_t>(pos),
                             data.begin() + static_cast<std::ptrdiff_t>(pos + n));
            pos += n;
        }
        // Inside a section, fewer payload bytes than the packet holds must be
        // made up by adaptation stuffing: 0xFF in the payload would be read
        // as section data. Behind the last section, 0xFF is the stuffing.
        p.fill = pos < data.size() ? TsFill::AdaptationStuffing : TsFill::PayloadStuffing;
        packets.push_back(std::move(p));
    }
    return packets;
}

CTsStreamBuilder::CTsStreamBuilder(std::size_t unitSize) : m_unitSize(unitSize)
{
    if (unitSize != TS_UNIT_SIZE_188 && unitSize != TS_UNIT_SIZE_192)
        throw std::invalid_argument("CTsStreamBuilder: unit size must be 188 or 192");
}

void CTsStreamBuilder::SetPrefixZero()
{
    m_prefixMode = PrefixMode::Zero;
}

void CTsStreamBuilder::SetArrivalTime(std::uint32_t first, std::uint32_t step, std::uint8_t copyPermission)
{
    m_prefixMode = PrefixMode::ArrivalTime;
    m_arrivalTime = first & 0x3FFFFFFFu;
    m_arrivalStep = step;
    m_copyPermission = copyPermission;
}

void CTsStreamBuilder::SetCustomPrefix(std::array<std::uint8_t, 4> prefix)
{
    SetCustomPrefix([prefix](std::size_t) { return prefix; });
}

void CTsStreamBuilder::SetCustomPrefix(std::function<std::array<std::uint8_t, 4>(std::size_t)> prefix)
{
    m_prefixMode = PrefixMode::Custom;
    m_customPrefix = std::move(prefix);
}

std::array<std::uint8_t, 4> CTsStreamBuilder::NextPrefix(std::size_t packetIndex)
{
    switch (m_prefixMode) {
    case PrefixMode::ArrivalTime: {
        auto prefix = EncodeArrivalTimePrefix(m_arrivalTime, m_copyPermission);
        m_arrivalTime = (m_arrivalTime + m_arrivalStep) & 0x3FFFFFFFu;
        return prefix;
    }
    case PrefixMode::Custom:
        return m_customPrefix(packetIndex);
    case PrefixMode::Zero:
        break;
    }
    return {0, 0, 0, 0};
}

std::size_t CTsStreamBuilder::Add(const TsPacket& packet)
{
    std::uint8_t& next = m_nextContinuity[packet.pid];
    std::uint8_t cc;
    if (packet.continuityCounter)
        cc = *packet.continuityCounter & 0x0Fu;
    else if (CarriesPayload(packet))
        cc = next;
    else
        cc = static_cast<std::uint8_t>((next + 15u) & 0x0Fu);  // unchanged without payload
    if (CarriesPayload(packet))
        next = static_cast<std::uint8_t>((cc + 1u) & 0x0Fu);

    const std::size_t index = m_unitOffsets.size();
    m_unitOffsets.push_back(m_bytes.size());
    if (m_unitSize == TS_UNIT_SIZE_192) {
        const auto prefix = NextPrefix(index);
        m_bytes.insert(m_bytes.end(), prefix.begin(), prefix.end());
    }
    const auto encoded = EncodeTsPacket(packet, cc);
    m_bytes.insert(m_bytes.end(), encoded.begin(), encoded.end());
    return index;
}

std::size_t CTsStreamBuilder::Add(const std::vector<TsPacket>& packets)
{
    const std::size_t first = m_unitOffsets.size();
    for (const auto& p : packets)
        Add(p);
    return first;
}

std::size_t CTsStreamBuilder::AddNull(std::size_t count)
{
    const std::size_t first = m_unitOffsets.size();
    TsPacket null;
    null.pid = TS_PID_NULL;
    null.continuityCounter = 0;
    for (std::size_t i = 0; i < count; ++i)
        Add(null);
    return first;
}

std::size_t CTsStreamBuilder::AddPes(std::uint16_t pid, std::span<const std::uint8_t> pes,
                                     const PesPacketOptions& options)
{
    return Add(PacketizePes(pid, pes, options));
}

std::size_t CTsStreamBuilder::AddSection(std::uint16_t pid, std::span<const std::uint8_t> section,
                                         const SectionPacketOptions& options)
{
    return AddSections(pid, {std::vector<std::uint8_t>(section.begin(), section.end())}, options);
}

std::size_t CTsStreamBuilder::AddSections(std::uint16_t pid,
                                          const std::vector<std::vector<std::uint8_t>>& sections,
                                          const SectionPacketOptions& options)
{
    return Add(PacketizeSections(pid, sections, options));
}

void CTsStreamBuilder::AddRaw(std::span<const std::uint8_t> bytes)
{
    m_bytes.insert(m_bytes.end(), bytes.begin(), bytes.end());
}

std::uint8_t CTsStreamBuilder::NextContinuity(std::uint16_t pid) const
{
    auto it = m_nextContinuity.find(pid);
    return it == m_nextContinuity.end() ? 0 : it->second;
}

void CTsStreamBuilder::SetNextContinuity(std::uint16_t pid, std::uint8_t counter)
{
    m_nextContinuity[pid] = counter & 0x0Fu;
}

std::uint64_t CTsStreamBuilder::UnitOffset(std::size_t packetIndex) const
{
    return m_unitOffsets.at(packetIndex);
}

std::uint64_t CTsStreamBuilder::PacketOffset(std::size_t packetIndex) const
{
    return UnitOffset(packetIndex) + PrefixSize();
}

void CTsStreamBuilder::BreakSync(std::size_t packetIndex, std::uint8_t value)
{
    const std::uint64_t at = PacketOffset(packetIndex);
    if (at >= m_bytes.size())
        throw std::out_of_range("BreakSync: packet truncated");
    m_bytes[static_cast<std::size_t>(at)] = value;
}

void CTsStreamBuilder::SetTransportError(std::size_t packetIndex)
{
    const std::uint64_t at = PacketOffset(packetIndex) + 1;
    if (at >= m_bytes.size())
        throw std::out_of_range("SetTransportError: packet truncated");
    m_bytes[static_cast<std::size_t>(at)] |= 0x80u;
}

void CTsStreamBuilder::TruncateLastUnit(std::size_t keep)
{
    if (m_unitOffsets.empty())
        throw std::logic_error("TruncateLastUnit: no packet");
    if (keep >= m_unitSize)
        throw std::invalid_argument("TruncateLastUnit: nothing would be cut");
    m_bytes.resize(static_cast<std::size_t>(m_unitOffsets.back()) + keep);
}

std::vector<std::uint8_t> CTsStreamBuilder::Take()
{
    std::vector<std::uint8_t> bytes = std::move(m_bytes);
    m_bytes.clear();
    m_unitOffsets.clear();
    return bytes;
}

void CTsStreamBuilder::WriteTo(const std::filesystem::path& path) const
{
    WriteFileBytes(path, m_bytes);
}

}  // namespace vsktest
