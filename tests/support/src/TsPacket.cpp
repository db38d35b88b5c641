#include "vsktest/TsPacket.h"

#include "vsktest/BitWriter.h"

#include <algorithm>
#include <stdexcept>

namespace vsktest {

std::array<std::uint8_t, 6> EncodePcr(std::uint64_t base, std::uint16_t extension)
{
    CBitWriter w;
    w.Put(base, 33).Ones(6).Put(extension, 9);
    std::array<std::uint8_t, 6> out{};
    std::copy_n(w.Data().begin(), 6, out.begin());
    return out;
}

std::vector<std::uint8_t> EncodeAdaptationField(const AdaptationField& field)
{
    if (field.lengthOnly)
        return {field.lengthOverride.value_or(0)};

    CBitWriter w;
    w.Put(0, 8);  // length, patched below
    w.Put(field.discontinuity, 1)
        .Put(field.randomAccess, 1)
        .Put(field.esPriority, 1)
        .Put(field.pcrBase.has_value(), 1)
        .Put(field.opcrBase.has_value(), 1)
        .Put(field.spliceCountdown.has_value(), 1)
        .Put(field.privateData.has_value(), 1)
        .Put(field.extension.has_value(), 1);
    if (field.pcrBase)
        w.Bytes(EncodePcr(*field.pcrBase, field.pcrExtension));
    if (field.opcrBase)
        w.Bytes(EncodePcr(*field.opcrBase, field.opcrExtension));
    if (field.spliceCountdown)
        w.Put(static_cast<std::uint8_t>(*field.spliceCountdown), 8);
    if (field.privateData) {
        if (field.privateData->size() > 255)
            throw std::invalid_argument("transport_private_data longer than 255 bytes");
        w.Put(field.privateData->size(), 8).Bytes(*field.privateData);
    }
    if (field.extension) {
        if (field.extension->size() > 255)
            throw std::invalid_argument("adaptation field extension longer than 255 bytes");
        w.Put(field.extension->size(), 8).Bytes(*field.extension);
    }
    w.Fill(0xFF, field.stuffing);

    std::vector<std::uint8_t> bytes = w.Take();
    if (bytes.size() - 1 > 255)
        throw std::invalid_argument("adaptation field too long");
    bytes[0] = field.lengthOverride.value_or(static_cast<std::uint8_t>(bytes.size() - 1));
    return bytes;
}

namespace {

bool HasAdaptationField(const TsPacket& packet)
{
    return packet.adaptation.has_value() ||
           (packet.fill == TsFill::AdaptationStuffing && packet.payload.size() < TS_MAX_PAYLOAD);
}

}  // namespace

std::uint8_t EffectiveAdaptationFieldControl(const TsPacket& packet)
{
    if (packet.adaptationFieldControl)
        return *packet.adaptationFieldControl & 3u;
    if (!HasAdaptationField(packet))
        return 1;
    return packet.payload.empty() ? 2 : 3;
}

bool CarriesPayload(const TsPacket& packet)
{
    std::uint8_t afc = EffectiveAdaptationFieldControl(packet);
    return afc == 1 || afc == 3;
}

std::array<std::uint8_t, TS_PACKET_SIZE> EncodeTsPacket(const TsPacket& packet,
                                                        std::uint8_t continuityCounter)
{
    std::array<std::uint8_t, TS_PACKET_SIZE> out{};
    const std::uint8_t afc = EffectiveAdaptationFieldControl(packet);
    const std::uint8_t cc = packet.continuityCounter.value_or(continuityCounter) & 0x0Fu;

    out[0] = packet.syncByte;
    out[1] = static_cast<std::uint8_t>((packet.transportError ? 0x80 : 0) |
                                       (packet.payloadUnitStart ? 0x40 : 0) |
                                       (packet.transportPriority ? 0x20 : 0) |
                                       ((packet.pid >> 8) & 0x1F));
    out[2] = static_cast<std::uint8_t>(packet.pid & 0xFF);
    out[3] = static_cast<std::uint8_t>(((packet.scrambling & 3u) << 6) | (afc << 4) | cc);

    std::vector<std::uint8_t> field;
    if (HasAdaptationField(packet)) {
        AdaptationField af = packet.adaptation.value_or(AdaptationField{});
        const std::size_t room = TS_MAX_PAYLOAD - std::min(packet.payload.size(), TS_MAX_PAYLOAD);
        // Grow the field so that field + payload fill the packet, either
        // because stuffing was asked for or because there is no payload to
        // fill it (a field of its own must span the whole packet).
        const bool grow = !af.lengthOverride &&
                          (packet.fill == TsFill::AdaptationStuffing || packet.payload.empty());
        if (grow && !af.lengthOnly) {
            std::size_t used = EncodeAdaptationField(af).size();
            if (used <= room)
                af.stuffing += room - used;
        } else if (grow && af.lengthOnly && room > 1) {
            af.lengthOnly = false;
            af.stuffing = room - 2;
        }
        if (!packet.adaptation && room == 1)
            af.lengthOnly = true;
        field = EncodeAdaptationField(af);
    }

    if (TS_HEADER_SIZE + field.size() + packet.payload.size() > TS_PACKET_SIZE)
        throw std::invalid_argument("transport packet content exceeds 188 bytes");
    std::size_t pos = TS_HEADER_SIZE;
    std::copy(field.begin(), field.end(), out.begin() + static_cast<std::ptrdiff_t>(pos));
    pos += field.size();
    std::copy(packet.payload.begin(), packet.payload.end(), out.begin() + static_cast<std::ptrdiff_t>(pos));
    pos += packet.payload.size();
    std::fill(out.begin() + static_cast<std::ptrdiff_t>(pos), out.end(), 0xFF);
    return out;
}

}  // namespace vsktest
