#include "SsidStreamId.h"

#include "MediaCoreDecSysRegDesc.h"
#include "StreamReader.h"

namespace parser {
namespace {

constexpr std::uint32_t PROGRAM_INDEX_MAX = 0xFF;
constexpr std::uint32_t SUB_INDEX_MAX_MPEG_AUDIO = 31;
constexpr std::uint32_t SUB_INDEX_MAX_VIDEO = 15;
constexpr std::uint32_t SUB_INDEX_MAX_PRIVATE_AUDIO = 7;

constexpr std::uint8_t CODING_DEFAULT = 0;
constexpr std::uint8_t CODING_AVC_FAMILY = 4;
constexpr std::uint8_t CODING_PRIVATE_DATA = 3;

struct SClass {
    std::uint32_t category = 0;
    std::uint32_t codec = 0;
    std::uint32_t subIndex = 0;
};

bool ClassifyTransport(const SUnitInfo& unit, SClass& c) noexcept
{
    const std::uint8_t pesId = unit.header.streamId;
    switch (unit.streamType) {
    case 0x01:
    case 0x02:
        c = {CATEGORY_VIDEO, CODEC_MPEG_VIDEO, pesId & 0x0Fu};
        return true;
    case 0x1B:
        c = {CATEGORY_VIDEO, CODEC_AVC, pesId & 0x0Fu};
        return true;
    case 0x90:
    case 0x91:
        if (unit.system != SystemHDMV)
            return false;
        c = {CATEGORY_VIDEO, unit.streamType == 0x91 ? CODEC_HDMV_0x91 : CODEC_HDMV_0x90, pesId & 0x0Fu};
        return true;
    case 0x03:
    case 0x04:
        c = {CATEGORY_AUDIO, CODEC_MPEG_AUDIO, pesId & 0x1Fu};
        return true;
    case 0x81:
        c = {CATEGORY_AUDIO, CODEC_AC3, unit.ordinal81};
        return true;
    case 0x80:
        if (unit.system != SystemSESF)
            return false;
        c = {CATEGORY_AUDIO, CODEC_LPCM, unit.ordinal80};
        return true;
    case 0x82:
        c = {CATEGORY_AUDIO, CODEC_LPCM, unit.ordinal80};
        return true;
    case 0xA0:
        if (unit.system == SystemTSMV) {
            c = {CATEGORY_PRIVATE_DATA, CODEC_TSMV_PRIVATE, 0};
            return true;
        }
        if (unit.system == SystemTSHV) {
            c = {CATEGORY_PRIVATE_DATA, CODEC_TSHV_PRIVATE_A0, 0};
            return true;
        }
        return false;
    case 0xA1:
        if (unit.system != SystemTSHV)
            return false;
        c = {CATEGORY_PRIVATE_DATA, CODEC_TSHV_PRIVATE_A1, 0};
        return true;
    default:
        return false;
    }
}

bool ClassifyProgram(const SUnitInfo& unit, SClass& c) noexcept
{
    const std::uint8_t id = unit.header.streamId;
    const std::uint8_t sub = unit.subStreamId;
    if (id >= STREAM_ID_VIDEO_FIRST && id <= STREAM_ID_VIDEO_LAST) {
        c = {CATEGORY_VIDEO, CODEC_MPEG_VIDEO, id & 0x0Fu};
        return true;
    }
    if (id >= STREAM_ID_AUDIO_FIRST && id <= STREAM_ID_AUDIO_LAST) {
        c = {CATEGORY_AUDIO, CODEC_MPEG_AUDIO, id & 0x1Fu};
        return true;
    }
    if (id == STREAM_ID_PRIVATE_STREAM_1) {
        if (sub >= 0x80 && sub <= 0x87)
            c = {CATEGORY_AUDIO, CODEC_AC3, sub & 0x07u};
        else if (sub >= 0xA0 && sub <= 0xA7)
            c = {CATEGORY_AUDIO, CODEC_LPCM, sub & 0x07u};
        else if (sub == SUBSTREAM_CODE_SUBPICTURE)
            c = {CATEGORY_PROGRAM_STREAM_PRIVATE, CODEC_PRIVATE_1_B2, 0};
        else if (sub == SUBSTREAM_CODE_DTS)
            c = {CATEGORY_PROGRAM_STREAM_PRIVATE, CODEC_PRIVATE_1_B4, 0};
        else
            c = {CATEGORY_PROGRAM_STREAM_PRIVATE, CODEC_PRIVATE_1, 0};
        return true;
    }
    if (id == STREAM_ID_PRIVATE_STREAM_2) {
        if (sub == SUBSTREAM_CODE_PCI)
            c = {CATEGORY_PROGRAM_STREAM_PRIVATE, CODEC_PRIVATE_2_B0, 0};
        else if (sub == SUBSTREAM_CODE_DSI)
            c = {CATEGORY_PROGRAM_STREAM_PRIVATE, CODEC_PRIVATE_2_B1, 0};
        else if (sub == SUBSTREAM_CODE_PRIVATE_2_OTHER)
            c = {CATEGORY_PROGRAM_STREAM_PRIVATE, CODEC_PRIVATE_2_B3, 0};
        else
            c = {CATEGORY_PROGRAM_STREAM_PRIVATE, CODEC_PRIVATE_2, 0};
        return true;
    }
    return false;
}

}  // namespace

bool CSsidStreamId::Pack(std::uint32_t category, std::uint32_t codec, std::uint32_t subIndex,
                         std::uint32_t programIndex, std::uint8_t pesStreamId, std::uint8_t subStreamId,
                         std::uint32_t& streamId) noexcept
{
    if (programIndex > PROGRAM_INDEX_MAX)
        return false;
    std::uint32_t idByte = 0;
    std::uint32_t subByte = 0;
    std::uint32_t coding = CODING_DEFAULT;
    if (category == CATEGORY_VIDEO) {
        if (subIndex > SUB_INDEX_MAX_VIDEO)
            return false;
        idByte = STREAM_ID_VIDEO_FIRST | subIndex;
        if (codec == CODEC_AVC || codec == CODEC_HDMV_0x91 || codec == CODEC_HDMV_0x90)
            coding = CODING_AVC_FAMILY;
    } else if (codec == CODEC_MPEG_AUDIO) {
        if (subIndex > SUB_INDEX_MAX_MPEG_AUDIO)
            return false;
        idByte = STREAM_ID_AUDIO_FIRST | subIndex;
    } else if (codec == CODEC_AC3 || codec == CODEC_LPCM) {
        if (subIndex > SUB_INDEX_MAX_PRIVATE_AUDIO)
            return false;
        idByte = STREAM_ID_PRIVATE_STREAM_1;
        subByte = (codec == CODEC_AC3 ? 0x80u : 0xA0u) | subIndex;
    } else if (category == CATEGORY_PRIVATE_DATA) {
        idByte = codec == CODEC_TSMV_PRIVATE ? 0u : codec == CODEC_TSHV_PRIVATE_A0 ? 1u : 2u;
        subByte = subIndex & 0xFFu;
        coding = CODING_PRIVATE_DATA;
    } else if (category == CATEGORY_PROGRAM_STREAM_PRIVATE) {
        idByte = pesStreamId;
        subByte = subStreamId;
    } else {
        return false;
    }
    streamId = idByte | (subByte << 8) | (coding << 16) | (programIndex << 24);
    return true;
}

void CSsidStreamId::Classify(SUnitInfo& unit) const noexcept
{
    SClass c;
    const bool known = unit.kind == STREAM_KIND_PROGRAM ? ClassifyProgram(unit, c) : ClassifyTransport(unit, c);
    unit.category = c.category;
    unit.codec = c.codec;
    unit.subIndex = c.subIndex;
    unit.streamId = 0;
    unit.classified = known && Pack(c.category, c.codec, c.subIndex, unit.programIndex, unit.header.streamId,
                                     unit.subStreamId, unit.streamId);
    if (!unit.classified)
        unit.streamId = 0;
}

}  // namespace parser
