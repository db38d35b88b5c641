#include "VideoHeaders.h"

#include "HeaderBits.h"
#include "VskMpegParser.h"

#include <array>
#include <limits>
#include <numeric>

namespace parser {
namespace {

constexpr std::size_t NOT_FOUND = std::numeric_limits<std::size_t>::max();

// Offset of the next 00 00 01 at or after `from`, or NOT_FOUND.
std::size_t FindStartCodePrefix(const std::uint8_t* bytes, std::size_t length, std::size_t from) noexcept
{
    for (std::size_t i = from; i + 3 <= length; ++i) {
        if (bytes[i + 2] > 1) {
            i += 2;
            continue;
        }
        if (bytes[i] == 0 && bytes[i + 1] == 0 && bytes[i + 2] == 1)
            return i;
    }
    return NOT_FOUND;
}

struct SFraction {
    std::uint32_t numerator;
    std::uint32_t denominator;
};

// frame_rate_code 1 to 8 of both standards; 0 and 9 to 15 are reserved.
constexpr std::array<SFraction, 16> FRAME_RATES = {{
    {0, 0}, {24000, 1001}, {24, 1}, {25, 1}, {30000, 1001}, {30, 1}, {50, 1}, {60000, 1001}, {60, 1},
    {0, 0}, {0, 0}, {0, 0}, {0, 0}, {0, 0}, {0, 0}, {0, 0},
}};

// MPEG-1 pel aspect ratio (height / width of a pel) times 10000; 0 for the
// forbidden code 0 and the reserved code 15.
constexpr std::array<std::uint32_t, 16> MPEG1_PEL_ASPECT = {
    0, 10000, 6735, 7031, 7615, 8055, 8437, 8935, 9375, 9815, 10255, 10695, 11250, 11575, 12015, 0,
};

// MPEG-2 display aspect ratios of aspect_ratio_information 2 to 4.
constexpr std::array<SFraction, 5> MPEG2_DISPLAY_ASPECT = {{{0, 0}, {0, 0}, {4, 3}, {16, 9}, {221, 100}}};

// aspect_ratio_idc 1 to 16 of the VUI; 0 is unspecified, 17 to 254 reserved.
constexpr std::array<SFraction, 17> AVC_SAMPLE_ASPECT = {{
    {0, 0}, {1, 1}, {12, 11}, {10, 11}, {16, 11}, {40, 33}, {24, 11}, {20, 11}, {32, 11},
    {80, 33}, {18, 11}, {15, 11}, {64, 33}, {160, 99}, {4, 3}, {3, 2}, {2, 1},
}};
constexpr std::uint32_t AVC_EXTENDED_SAR = 255;

void SetAspect(SVideoFacts& facts, std::uint64_t sarNumerator, std::uint64_t sarDenominator) noexcept
{
    ReduceFraction(sarNumerator, sarDenominator, facts.sampleAspectNumerator, facts.sampleAspectDenominator);
    if (facts.sampleAspectNumerator != 0) {
        ReduceFraction(std::uint64_t{facts.width} * facts.sampleAspectNumerator,
                       std::uint64_t{facts.height} * facts.sampleAspectDenominator, facts.displayAspectNumerator,
                       facts.displayAspectDenominator);
    } else {
        // Not stated: the picture is shown with square samples.
        ReduceFraction(facts.width, facts.height, facts.displayAspectNumerator, facts.displayAspectDenominator);
    }
}

std::uint32_t ClampRate(std::uint64_t rate) noexcept
{
    return rate > std::numeric_limits<std::uint32_t>::max() ? std::numeric_limits<std::uint32_t>::max()
                                                            : static_cast<std::uint32_t>(rate);
}

// scaling_list(): only its length matters here, which depends on the values.
void SkipScalingList(CHeaderBits& bits, std::uint32_t size) noexcept
{
    std::int32_t lastScale = 8;
    std::int32_t nextScale = 8;
    for (std::uint32_t j = 0; j < size && !bits.Overrun(); ++j) {
        if (nextScale != 0) {
            const std::int32_t delta = bits.ReadSe();
            if (delta < -128 || delta > 127) {
                // delta_scale lies in -128..127: anything else is damage.
                bits.Skip(bits.BitsLeft() + 1);
                return;
            }
            nextScale = (lastScale + delta + 256) % 256;
        }
        lastScale = nextScale == 0 ? lastScale : nextScale;
    }
}

// hrd_parameters(): BitRate[0] = (bit_rate_value_minus1[0] + 1) * 2^(6 + bit_rate_scale).
bool ReadHrd(CHeaderBits& bits, std::uint64_t& bitRate) noexcept
{
    const std::uint32_t cpbCountMinus1 = bits.ReadUe();
    if (cpbCountMinus1 > 31)
        return false;
    const std::uint32_t bitRateScale = bits.Read(4);
    bits.Read(4);  // cpb_size_scale
    for (std::uint32_t i = 0; i <= cpbCountMinus1; ++i) {
        const std::uint32_t valueMinus1 = bits.ReadUe();
        bits.ReadUe();  // cpb_size_value_minus1
        bits.Read(1);   // cbr_flag
        if (i == 0)
            bitRate = (std::uint64_t{valueMinus1} + 1) << (6 + bitRateScale);
    }
    bits.Read(20);  // the four delay and offset lengths
    return !bits.Overrun();
}

bool ReadVui(CHeaderBits& bits, SAvcSps& sps) noexcept
{
    if (bits.ReadFlag()) {
        sps.aspectRatioIdc = bits.Read(8);
        if (sps.aspectRatioIdc == AVC_EXTENDED_SAR) {
            sps.sarWidth = bits.Read(16);
            sps.sarHeight = bits.Read(16);
        }
    }
    if (bits.ReadFlag())  // overscan_info_present_flag
        bits.Read(1);
    if (bits.ReadFlag()) {  // video_signal_type_present_flag
        bits.Read(4);
        if (bits.ReadFlag())  // colour_description_present_flag
            bits.Read(24);
    }
    if (bits.ReadFlag()) {  // chroma_loc_info_present_flag
        bits.ReadUe();
        bits.ReadUe();
    }
    sps.timingInfoPresent = bits.ReadFlag();
    if (sps.timingInfoPresent) {
        sps.numUnitsInTick = bits.Read(32);
        sps.timeScale = bits.Read(32);
        sps.fixedFrameRate = bits.ReadFlag();
    }
    std::uint64_t nalRate = 0;
    std::uint64_t vclRate = 0;
    sps.nalHrdPresent = bits.ReadFlag();
    if (sps.nalHrdPresent && !ReadHrd(bits, nalRate))
        return false;
    sps.vclHrdPresent = bits.ReadFlag();
    if (sps.vclHrdPresent && !ReadHrd(bits, vclRate))
        return false;
    sps.hrdBitRate = sps.nalHrdPresent ? nalRate : vclRate;
    return !bits.Overrun();
}

bool HasChromaInfo(std::uint32_t profileIdc) noexcept
{
    switch (profileIdc) {
    case 100: case 110: case 122: case 244: case 44: case 83: case 86: case 118: case 128: case 138: case 139:
    case 134: case 135:
        return true;
    default:
        return false;
    }
}

}  // namespace

void ReduceFraction(std::uint64_t a, std::uint64_t b, std::uint32_t& numerator, std::uint32_t& denominator) noexcept
{
    numerator = 0;
    denominator = 0;
    if (a == 0 || b == 0)
        return;
    const std::uint64_t divisor = std::gcd(a, b);
    a /= divisor;
    b /= divisor;
    while (a > std::numeric_limits<std::uint32_t>::max() || b > std::numeric_limits<std::uint32_t>::max()) {
        a >>= 1;
        b >>= 1;
    }
    if (a == 0 || b == 0)
        return;
    numerator = static_cast<std::uint32_t>(a);
    denominator = static_cast<std::uint32_t>(b);
}

bool ParseMpegSequenceHeader(const std::uint8_t* bytes, std::size_t length, SMpegSequenceHeader& header) noexcept
{
    CHeaderBits bits(bytes, length);
    SMpegSequenceHeader h;
    h.horizontalSize = bits.Read(12);
    h.verticalSize = bits.Read(12);
    h.aspectRatioInformation = bits.Read(4);
    h.frameRateCode = bits.Read(4);
    h.bitRateValue = bits.Read(18);
    const bool marker = bits.ReadFlag();
    h.vbvBufferSizeValue = bits.Read(10);
    h.constrainedParameters = bits.ReadFlag();
    if (bits.ReadFlag())  // load_intra_quantiser_matrix
        bits.Skip(64 * 8);
    if (bits.ReadFlag())  // load_non_intra_quantiser_matrix
        bits.Skip(64 * 8);
    if (bits.Overrun() || !marker || h.horizontalSize == 0 || h.verticalSize == 0)
        return false;
    h.byteLength = static_cast<std::uint32_t>((bits.BitPosition() + 7) / 8);
    header = h;
    return true;
}

bool ParseMpegSequenceExtension(const std::uint8_t* bytes, std::size_t length,
                                SMpegSequenceExtension& extension) noexcept
{
    CHeaderBits bits(bytes, length);
    if (bits.Read(4) != MPEG_VIDEO_SEQUENCE_EXTENSION_ID)
        return false;
    SMpegSequenceExtension e;
    e.profileAndLevelIndication = bits.Read(8);
    e.progressiveSequence = bits.ReadFlag();
    e.chromaFormat = bits.Read(2);
    e.horizontalSizeExtension = bits.Read(2);
    e.verticalSizeExtension = bits.Read(2);
    e.bitRateExtension = bits.Read(12);
    const bool marker = bits.ReadFlag();
    e.vbvBufferSizeExtension = bits.Read(8);
    e.lowDelay = bits.ReadFlag();
    e.frameRateExtensionN = bits.Read(2);
    e.frameRateExtensionD = bits.Read(5);
    if (bits.Overrun() || !marker)
        return false;
    extension = e;
    return true;
}

SVideoFacts MpegVideoFacts(const SMpegSequenceHeader& header, const SMpegSequenceExtension* extension) noexcept
{
    SVideoFacts facts;
    facts.codec = VSK_PROBE_CODEC_MPEG2_VIDEO;
    facts.mpeg2Syntax = extension != nullptr;
    const SFraction rate = FRAME_RATES[header.frameRateCode & 0x0Fu];
    std::uint64_t bitRateValue = header.bitRateValue;
    bool rateUnknown = header.bitRateValue == MPEG_VIDEO_BIT_RATE_UNKNOWN;
    if (extension != nullptr) {
        facts.width = header.horizontalSize | (extension->horizontalSizeExtension << 12);
        facts.height = header.verticalSize | (extension->verticalSizeExtension << 12);
        ReduceFraction(std::uint64_t{rate.numerator} * (extension->frameRateExtensionN + 1),
                       std::uint64_t{rate.denominator} * (extension->frameRateExtensionD + 1),
                       facts.frameRateNumerator, facts.frameRateDenominator);
        facts.profile = (extension->profileAndLevelIndication >> 4) & 0x07u;
        facts.level = extension->profileAndLevelIndication & 0x0Fu;
        facts.progressive = extension->progressiveSequence ? 1 : 0;
        bitRateValue |= std::uint64_t{extension->bitRateExtension} << 18;
        rateUnknown = rateUnknown && extension->bitRateExtension == 0;
        // aspect_ratio_information gives the display aspect ratio (the
        // sample aspect ratio follows from the size), or square samples.
        const std::uint32_t code = header.aspectRatioInformation;
        facts.aspectRatioCode = code;
        if (code == 1) {
            SetAspect(facts, 1, 1);
        } else if (code >= 2 && code <= 4) {
            const SFraction dar = MPEG2_DISPLAY_ASPECT[code];
            SetAspect(facts, std::uint64_t{dar.numerator} * facts.height, std::uint64_t{dar.denominator} * facts.width);
        } else {
            SetAspect(facts, 0, 0);
        }
    } else {
        facts.width = header.horizontalSize;
        facts.height = header.verticalSize;
        facts.frameRateNumerator = rate.numerator;
        facts.frameRateDenominator = rate.denominator;
        facts.progressive = 1;
        // MPEG-1 states the pel aspect ratio, height over width.
        facts.aspectRatioCode = header.aspectRatioInformation & 0x0Fu;
        SetAspect(facts, MPEG1_PEL_ASPECT[header.aspectRatioInformation & 0x0Fu] != 0 ? 10000 : 0,
                  MPEG1_PEL_ASPECT[header.aspectRatioInformation & 0x0Fu]);
    }
    facts.bitRate = rateUnknown || bitRateValue == 0 ? 0 : ClampRate(bitRateValue * 400);
    return facts;
}

EVideoSearch FindMpegVideoFacts(const std::uint8_t* payload, std::size_t length, SVideoFacts& facts) noexcept
{
    if (payload == nullptr)
        return EVideoSearch::None;
    EVideoSearch found = EVideoSearch::None;
    for (std::size_t at = FindStartCodePrefix(payload, length, 0); at != NOT_FOUND;
         at = FindStartCodePrefix(payload, length, at + 3)) {
        if (at + 3 >= length || payload[at + 3] != MPEG_VIDEO_SEQUENCE_HEADER_CODE)
            continue;
        const std::size_t body = at + 4;
        SMpegSequenceHeader header;
        if (!ParseMpegSequenceHeader(payload + body, length - body, header))
            continue;
        const std::size_t next = FindStartCodePrefix(payload, length, body + header.byteLength);
        if (next == NOT_FOUND || next + 3 >= length) {
            if (found == EVideoSearch::None) {
                facts = MpegVideoFacts(header, nullptr);
                facts.mpeg2Syntax = false;
                found = EVideoSearch::HeaderOnly;
            }
            continue;
        }
        SMpegSequenceExtension extension;
        const bool isExtension = payload[next + 3] == MPEG_VIDEO_EXTENSION_START_CODE;
        if (isExtension && !ParseMpegSequenceExtension(payload + next + 4, length - next - 4, extension)) {
            // Some other extension, or one cut short: MPEG-2 all the same,
            // but without the facts of the sequence extension.
            if (found == EVideoSearch::None) {
                facts = MpegVideoFacts(header, nullptr);
                found = EVideoSearch::HeaderOnly;
            }
            continue;
        }
        facts = MpegVideoFacts(header, isExtension ? &extension : nullptr);
        return EVideoSearch::Complete;
    }
    return found;
}

void CountMpegPictures(const std::uint8_t* payload, std::size_t length, SMpegPictureCount& count) noexcept
{
    if (payload == nullptr)
        return;
    // From the start code: the identifier and four f_codes, intra_dc_precision
    // and picture_structure, six flags, repeat_first_field, chroma_420_type,
    // then progressive_frame in the first bit of the ninth byte.
    constexpr std::size_t EXTENSION_BYTES = 9;
    for (std::size_t at = FindStartCodePrefix(payload, length, 0); at != NOT_FOUND;
         at = FindStartCodePrefix(payload, length, at + 3)) {
        if (at + EXTENSION_BYTES > length || payload[at + 3] != MPEG_VIDEO_EXTENSION_START_CODE ||
            (payload[at + 4] >> 4) != MPEG_VIDEO_PICTURE_CODING_EXTENSION_ID)
            continue;
        if ((payload[at + 6] & 0x03u) == 0)
            continue;
        ++count.pictures;
        if ((payload[at + 8] & 0x80u) != 0)
            ++count.progressiveFrames;
    }
}

std::size_t RemoveEmulationPrevention(const std::uint8_t* nal, std::size_t length, std::uint8_t* out,
                                      std::size_t capacity) noexcept
{
    std::size_t written = 0;
    std::uint32_t zeros = 0;
    for (std::size_t i = 0; i < length && written < capacity; ++i) {
        const std::uint8_t byte = nal[i];
        if (zeros >= 2 && byte == 0x03) {
            zeros = 0;
            continue;
        }
        zeros = byte == 0 ? zeros + 1 : 0;
        out[written++] = byte;
    }
    return written;
}

bool ParseAvcSps(const std::uint8_t* rbsp, std::size_t length, SAvcSps& sps) noexcept
{
    CHeaderBits bits(rbsp, length);
    SAvcSps s;
    s.profileIdc = bits.Read(8);
    s.constraintFlags = bits.Read(8);
    s.levelIdc = bits.Read(8);
    s.spsId = bits.ReadUe();
    if (s.spsId > 31)
        return false;
    if (HasChromaInfo(s.profileIdc)) {
        s.chromaFormatIdc = bits.ReadUe();
        if (s.chromaFormatIdc > 3)
            return false;
        if (s.chromaFormatIdc == 3)
            s.separateColourPlane = bits.ReadFlag();
        const std::uint32_t lumaMinus8 = bits.ReadUe();
        const std::uint32_t chromaMinus8 = bits.ReadUe();
        if (lumaMinus8 > 6 || chromaMinus8 > 6)
            return false;
        s.bitDepthLuma = 8 + lumaMinus8;
        s.bitDepthChroma = 8 + chromaMinus8;
        bits.Read(1);  // qpprime_y_zero_transform_bypass_flag
        s.scalingMatrixPresent = bits.ReadFlag();
        if (s.scalingMatrixPresent) {
            const std::uint32_t lists = s.chromaFormatIdc != 3 ? 8 : 12;
            for (std::uint32_t i = 0; i < lists; ++i) {
                if (bits.ReadFlag())
                    SkipScalingList(bits, i < 6 ? 16 : 64);
            }
        }
    }
    if (bits.ReadUe() > 12)  // log2_max_frame_num_minus4
        return false;
    s.picOrderCntType = bits.ReadUe();
    if (s.picOrderCntType == 0) {
        if (bits.ReadUe() > 12)  // log2_max_pic_order_cnt_lsb_minus4
            return false;
    } else if (s.picOrderCntType == 1) {
        bits.Read(1);  // delta_pic_order_always_zero_flag
        bits.ReadSe();  // offset_for_non_ref_pic
        bits.ReadSe();  // offset_for_top_to_bottom_field
        const std::uint32_t cycle = bits.ReadUe();
        if (cycle > 255)
            return false;
        for (std::uint32_t i = 0; i < cycle && !bits.Overrun(); ++i)
            bits.ReadSe();
    } else if (s.picOrderCntType != 2) {
        return false;
    }
    s.maxNumRefFrames = bits.ReadUe();
    bits.Read(1);  // gaps_in_frame_num_value_allowed_flag
    const std::uint32_t widthMinus1 = bits.ReadUe();
    const std::uint32_t heightMinus1 = bits.ReadUe();
    // 16384 samples either way is far beyond every level.
    if (widthMinus1 >= 1024 || heightMinus1 >= 1024)
        return false;
    s.picWidthInMbs = widthMinus1 + 1;
    s.picHeightInMapUnits = heightMinus1 + 1;
    s.frameMbsOnly = bits.ReadFlag();
    if (!s.frameMbsOnly)
        bits.Read(1);  // mb_adaptive_frame_field_flag
    bits.Read(1);      // direct_8x8_inference_flag
    s.frameCropping = bits.ReadFlag();
    if (s.frameCropping) {
        s.cropLeft = bits.ReadUe();
        s.cropRight = bits.ReadUe();
        s.cropTop = bits.ReadUe();
        s.cropBottom = bits.ReadUe();
    }
    s.vuiPresent = bits.ReadFlag();
    if (bits.Overrun())
        return false;
    if (s.vuiPresent && !ReadVui(bits, s))
        return false;

    // The cropping rectangle in units of chroma samples (ChromaArrayType 0
    // counts luma samples), vertically also in field rows unless every
    // picture is a frame.
    const std::uint32_t chromaArrayType = s.separateColourPlane ? 0 : s.chromaFormatIdc;
    const std::uint64_t subWidth = chromaArrayType == 1 || chromaArrayType == 2 ? 2 : 1;
    const std::uint64_t subHeight = chromaArrayType == 1 ? 2 : 1;
    const std::uint64_t frameFactor = s.frameMbsOnly ? 1 : 2;
    const std::uint64_t fullWidth = std::uint64_t{s.picWidthInMbs} * 16;
    const std::uint64_t fullHeight = frameFactor * s.picHeightInMapUnits * 16;
    const std::uint64_t cropX = subWidth * (std::uint64_t{s.cropLeft} + s.cropRight);
    const std::uint64_t cropY = subHeight * frameFactor * (std::uint64_t{s.cropTop} + s.cropBottom);
    if (cropX >= fullWidth || cropY >= fullHeight)
        return false;
    s.width = static_cast<std::uint32_t>(fullWidth - cropX);
    s.height = static_cast<std::uint32_t>(fullHeight - cropY);
    sps = s;
    return true;
}

SVideoFacts AvcVideoFacts(const SAvcSps& sps) noexcept
{
    SVideoFacts facts;
    facts.codec = VSK_PROBE_CODEC_AVC;
    facts.width = sps.width;
    facts.height = sps.height;
    facts.profile = sps.profileIdc;
    facts.level = sps.levelIdc;
    facts.progressive = sps.frameMbsOnly ? 1 : 0;
    // A tick is one field period: a frame lasts two.
    if (sps.timingInfoPresent)
        ReduceFraction(sps.timeScale, std::uint64_t{2} * sps.numUnitsInTick, facts.frameRateNumerator,
                       facts.frameRateDenominator);
    facts.aspectRatioCode = sps.aspectRatioIdc;
    if (sps.aspectRatioIdc == AVC_EXTENDED_SAR)
        SetAspect(facts, sps.sarWidth, sps.sarHeight);
    else if (sps.aspectRatioIdc < AVC_SAMPLE_ASPECT.size())
        SetAspect(facts, AVC_SAMPLE_ASPECT[sps.aspectRatioIdc].numerator,
                  AVC_SAMPLE_ASPECT[sps.aspectRatioIdc].denominator);
    else
        SetAspect(facts, 0, 0);
    facts.bitRate = ClampRate(sps.hrdBitRate);
    return facts;
}

bool FindAvcVideoFacts(const std::uint8_t* payload, std::size_t length, SVideoFacts& facts) noexcept
{
    if (payload == nullptr)
        return false;
    std::array<std::uint8_t, AVC_SPS_MAX_BYTES> rbsp;
    for (std::size_t at = FindStartCodePrefix(payload, length, 0); at != NOT_FOUND;
         at = FindStartCodePrefix(payload, length, at + 3)) {
        const std::size_t header = at + 3;
        if (header >= length || (payload[header] & 0x80u) != 0 || (payload[header] & 0x1Fu) != AVC_NAL_SPS)
            continue;
        // The NAL unit runs to the next start code (00 00 00 or 00 00 01).
        std::size_t end = header + 1;
        while (end + 2 < length && !(payload[end] == 0 && payload[end + 1] == 0 && payload[end + 2] <= 1))
            ++end;
        if (end + 2 >= length)
            end = length;
        const std::size_t rbspLength =
            RemoveEmulationPrevention(payload + header + 1, end - header - 1, rbsp.data(), rbsp.size());
        SAvcSps sps;
        if (ParseAvcSps(rbsp.data(), rbspLength, sps)) {
            facts = AvcVideoFacts(sps);
            return true;
        }
    }
    return false;
}

}  // namespace parser
