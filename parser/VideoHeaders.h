// The facts of a video stream as its own headers state them: the MPEG-1/2
// sequence header with the MPEG-2 sequence extension and the picture coding
// extensions of its pictures, and the AVC sequence parameter set with its
// VUI. Each parser takes the bytes behind the start
// code (and, for AVC, behind the NAL unit header, emulation prevention
// removed), reads only inside them and refuses values the syntax forbids, so
// any bytes may be handed to it. The Find functions look for the headers in
// the payload of one PES unit.
#pragma once

#include <cstddef>
#include <cstdint>

namespace parser {

// What the probe reports of a video stream. Fractions are reduced; 0/0 when
// unknown.
struct SVideoFacts {
    std::uint32_t codec = 0;  // VSK_PROBE_CODEC_...
    // MPEG video only: the sequence extension was seen (MPEG-2), or the start
    // code after the sequence header was something else (MPEG-1).
    bool mpeg2Syntax = false;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t frameRateNumerator = 0;
    std::uint32_t frameRateDenominator = 0;
    std::uint32_t sampleAspectNumerator = 0;
    std::uint32_t sampleAspectDenominator = 0;
    std::uint32_t displayAspectNumerator = 0;
    std::uint32_t displayAspectDenominator = 0;
    std::uint32_t profile = 0;
    std::uint32_t level = 0;
    std::uint32_t progressive = 0;
    // The aspect indication as written (aspect_ratio_information,
    // pel_aspect_ratio or aspect_ratio_idc); 0 when none.
    std::uint32_t aspectRatioCode = 0;
    // The rate the headers state in bit/s; 0 when they state none, or state
    // "unknown" (MPEG bit_rate_value 0x3FFFF).
    std::uint32_t bitRate = 0;
};

// Reduces a/b by their greatest common divisor into 32-bit parts, halving
// both while either does not fit; 0/0 when either is 0.
void ReduceFraction(std::uint64_t a, std::uint64_t b, std::uint32_t& numerator, std::uint32_t& denominator) noexcept;

// --- MPEG-1 and MPEG-2 video (ISO/IEC 11172-2, ISO/IEC 13818-2) ---

inline constexpr std::uint8_t MPEG_VIDEO_SEQUENCE_HEADER_CODE = 0xB3;
inline constexpr std::uint8_t MPEG_VIDEO_EXTENSION_START_CODE = 0xB5;
inline constexpr std::uint8_t MPEG_VIDEO_SEQUENCE_EXTENSION_ID = 1;
inline constexpr std::uint8_t MPEG_VIDEO_PICTURE_CODING_EXTENSION_ID = 8;
// bit_rate_value of a stream that states no rate: MPEG-1's mark of variable
// rate, which encoders also write into MPEG-2 headers when no maximum rate
// was set.
inline constexpr std::uint32_t MPEG_VIDEO_BIT_RATE_UNKNOWN = 0x3FFFF;

struct SMpegSequenceHeader {
    std::uint32_t horizontalSize = 0;
    std::uint32_t verticalSize = 0;
    std::uint32_t aspectRatioInformation = 0;
    std::uint32_t frameRateCode = 0;
    std::uint32_t bitRateValue = 0;
    std::uint32_t vbvBufferSizeValue = 0;
    bool constrainedParameters = false;
    // Bytes from behind the start code to the end of the header (the
    // quantiser matrices included).
    std::uint32_t byteLength = 0;
};

struct SMpegSequenceExtension {
    std::uint32_t profileAndLevelIndication = 0;
    bool progressiveSequence = false;
    std::uint32_t chromaFormat = 0;
    std::uint32_t horizontalSizeExtension = 0;
    std::uint32_t verticalSizeExtension = 0;
    std::uint32_t bitRateExtension = 0;
    std::uint32_t vbvBufferSizeExtension = 0;
    bool lowDelay = false;
    std::uint32_t frameRateExtensionN = 0;
    std::uint32_t frameRateExtensionD = 0;
};

// From the byte behind 00 00 01 B3. False when the bytes end inside the
// header, a marker bit is 0 or the size is 0.
bool ParseMpegSequenceHeader(const std::uint8_t* bytes, std::size_t length, SMpegSequenceHeader& header) noexcept;
// From the byte behind 00 00 01 B5. False when the extension is not the
// sequence extension, the bytes end inside it or its marker bit is 0.
bool ParseMpegSequenceExtension(const std::uint8_t* bytes, std::size_t length,
                                SMpegSequenceExtension& extension) noexcept;
// The facts of a sequence header, with the sequence extension of an MPEG-2
// stream (null for MPEG-1).
SVideoFacts MpegVideoFacts(const SMpegSequenceHeader& header, const SMpegSequenceExtension* extension) noexcept;

enum class EVideoSearch
{
    None,        // no sequence header in the bytes
    HeaderOnly,  // a sequence header, but the bytes end before the next start code
    Complete,    // a sequence header and what follows it
};
EVideoSearch FindMpegVideoFacts(const std::uint8_t* payload, std::size_t length, SVideoFacts& facts) noexcept;

// What the picture coding extensions say of the pictures: a sequence not
// marked progressive_sequence may still hold progressive frames only (film,
// and encoders that mark every picture progressive_frame), and only the
// pictures tell.
struct SMpegPictureCount {
    std::uint32_t pictures = 0;
    std::uint32_t progressiveFrames = 0;
};
// Adds the picture coding extensions in the payload of one PES unit. One
// that the payload's end cuts, or whose picture_structure is the reserved 0,
// is not counted.
void CountMpegPictures(const std::uint8_t* payload, std::size_t length, SMpegPictureCount& count) noexcept;

// --- AVC (ITU-T H.264) ---

inline constexpr std::uint8_t AVC_NAL_SPS = 7;
// The longest sequence parameter set looked at, emulation prevention removed.
inline constexpr std::size_t AVC_SPS_MAX_BYTES = 4096;

struct SAvcSps {
    std::uint32_t profileIdc = 0;
    std::uint32_t constraintFlags = 0;
    std::uint32_t levelIdc = 0;
    std::uint32_t spsId = 0;
    std::uint32_t chromaFormatIdc = 1;
    bool separateColourPlane = false;
    std::uint32_t bitDepthLuma = 8;
    std::uint32_t bitDepthChroma = 8;
    bool scalingMatrixPresent = false;
    std::uint32_t picOrderCntType = 0;
    std::uint32_t maxNumRefFrames = 0;
    std::uint32_t picWidthInMbs = 0;
    std::uint32_t picHeightInMapUnits = 0;
    bool frameMbsOnly = true;
    bool frameCropping = false;
    std::uint32_t cropLeft = 0;
    std::uint32_t cropRight = 0;
    std::uint32_t cropTop = 0;
    std::uint32_t cropBottom = 0;
    bool vuiPresent = false;
    std::uint32_t aspectRatioIdc = 0;
    std::uint32_t sarWidth = 0;
    std::uint32_t sarHeight = 0;
    bool timingInfoPresent = false;
    std::uint32_t numUnitsInTick = 0;
    std::uint32_t timeScale = 0;
    bool fixedFrameRate = false;
    bool nalHrdPresent = false;
    bool vclHrdPresent = false;
    // BitRate[0] of the NAL HRD, else of the VCL HRD; 0 without either.
    std::uint64_t hrdBitRate = 0;
    // The cropped size.
    std::uint32_t width = 0;
    std::uint32_t height = 0;
};

// Copies a NAL unit's bytes without its emulation prevention bytes (the 03
// of every 00 00 03) into out, at most capacity bytes; the length copied.
std::size_t RemoveEmulationPrevention(const std::uint8_t* nal, std::size_t length, std::uint8_t* out,
                                      std::size_t capacity) noexcept;
// From the first byte behind the NAL unit header (profile_idc), emulation
// prevention removed. Reads through the VUI's HRD parameters; false when the
// bytes end before that or a field has a value the syntax forbids.
bool ParseAvcSps(const std::uint8_t* rbsp, std::size_t length, SAvcSps& sps) noexcept;
SVideoFacts AvcVideoFacts(const SAvcSps& sps) noexcept;
// The first sequence parameter set in the bytes that parses.
bool FindAvcVideoFacts(const std::uint8_t* payload, std::size_t length, SVideoFacts& facts) noexcept;

}  // namespace parser
