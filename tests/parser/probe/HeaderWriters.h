// Elementary-stream headers written field by field from the syntax tables of
// the standards, for the probe's tests: MPEG-1/2 video sequence header,
// sequence extension and picture coding extension, AVC sequence parameter set with VUI (emulation
// prevention inserted), AC-3 sync frames and MPEG audio frames. Every field
// is the test's to set, forbidden values included.
#pragma once

#include "vsktest/BitWriter.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace probetest {

using Bytes = std::vector<std::uint8_t>;

// 00 00 01 code.
Bytes StartCode(std::uint8_t code);
// Appends b to a.
void Append(Bytes& a, const Bytes& b);

// ue(v): (value + 1) in binary behind as many zeros as it has bits less one.
void PutUe(vsktest::CBitWriter& w, std::uint32_t value);
// se(v): k > 0 codes as 2k - 1, k <= 0 as -2k.
void PutSe(vsktest::CBitWriter& w, std::int32_t value);

struct SSequenceHeader {
    std::uint32_t horizontalSizeValue = 720;  // 12 bits
    std::uint32_t verticalSizeValue = 576;    // 12 bits
    std::uint32_t aspectRatioInformation = 2;
    std::uint32_t frameRateCode = 3;
    std::uint32_t bitRateValue = 22500;  // 18 bits, units of 400 bit/s
    std::uint32_t markerBit = 1;
    std::uint32_t vbvBufferSizeValue = 112;
    bool intraMatrix = false;     // 64 bytes of 16 follow when set
    bool nonIntraMatrix = false;  // 64 bytes of 16 follow when set
};
// From 00 00 01 B3 on.
Bytes SequenceHeader(const SSequenceHeader& p);

struct SSequenceExtension {
    std::uint32_t extensionId = 1;
    std::uint32_t profileAndLevel = 0x48;  // Main profile at Main level
    std::uint32_t progressiveSequence = 0;
    std::uint32_t chromaFormat = 1;
    std::uint32_t horizontalSizeExtension = 0;
    std::uint32_t verticalSizeExtension = 0;
    std::uint32_t bitRateExtension = 0;
    std::uint32_t markerBit = 1;
    std::uint32_t frameRateExtensionN = 0;
    std::uint32_t frameRateExtensionD = 0;
};
// From 00 00 01 B5 on.
Bytes SequenceExtension(const SSequenceExtension& p);

struct SPictureCodingExtension {
    std::uint32_t extensionId = 8;
    std::uint32_t fCodes = 0xFFFF;  // f_code[0][0] to f_code[1][1], 4 bits each
    std::uint32_t intraDcPrecision = 0;
    std::uint32_t pictureStructure = 3;  // 1 top field, 2 bottom field, 3 frame
    std::uint32_t topFieldFirst = 1;
    std::uint32_t repeatFirstField = 0;
    std::uint32_t progressiveFrame = 0;
};
// From 00 00 01 B5 on; no composite display fields.
Bytes PictureCodingExtension(const SPictureCodingExtension& p);

struct SScalingList {
    bool present = false;
    std::vector<std::int32_t> deltas{};  // delta_scale values as written
};

struct SHrd {
    std::uint32_t bitRateScale = 0;
    std::uint32_t cpbSizeScale = 0;
    std::vector<std::uint32_t> bitRateValueMinus1{0};  // one entry per CPB
};

struct SVui {
    std::optional<std::uint32_t> aspectRatioIdc{};
    std::uint32_t sarWidth = 0;
    std::uint32_t sarHeight = 0;
    bool overscan = false;
    bool videoSignal = false;  // with a colour description
    bool chromaLocation = false;
    std::optional<std::uint32_t> numUnitsInTick{};  // timing info when set
    std::uint32_t timeScale = 0;
    std::optional<SHrd> nalHrd{};
    std::optional<SHrd> vclHrd{};
};

struct SSps {
    std::uint32_t profileIdc = 100;
    std::uint32_t constraintFlags = 0;
    std::uint32_t levelIdc = 40;
    std::uint32_t spsId = 0;
    // High profiles only.
    std::uint32_t chromaFormatIdc = 1;
    bool separateColourPlane = false;
    std::uint32_t bitDepthLumaMinus8 = 0;
    std::uint32_t bitDepthChromaMinus8 = 0;
    std::vector<SScalingList> scalingLists{};  // seq_scaling_matrix_present_flag when not empty
    std::uint32_t log2MaxFrameNumMinus4 = 0;
    std::uint32_t picOrderCntType = 0;
    std::uint32_t log2MaxPocLsbMinus4 = 2;
    std::vector<std::int32_t> offsetsForRefFrame{};  // type 1
    std::uint32_t maxNumRefFrames = 4;
    std::uint32_t picWidthInMbsMinus1 = 119;
    std::uint32_t picHeightInMapUnitsMinus1 = 67;
    bool frameMbsOnly = true;
    std::optional<std::array<std::uint32_t, 4>> crop{};  // left, right, top, bottom
    std::optional<SVui> vui{};
};
// The RBSP behind the NAL unit header, trailing bits included.
Bytes SpsRbsp(const SSps& p);
// Emulation prevention inserted: 03 behind every 00 00 followed by 00 to 03.
Bytes Escape(const Bytes& rbsp);
// 00 00 00 01, the NAL unit header 0x67 and the escaped RBSP.
Bytes SpsNal(const SSps& p);

struct SAc3Header {
    std::uint32_t syncWord = 0x0B77;
    std::uint32_t fscod = 0;
    std::uint32_t frmsizecod = 30;
    std::uint32_t bsid = 8;
    std::uint32_t acmod = 7;
    std::uint32_t lfeon = 1;
};
// The header, then zeros up to frameBytes.
Bytes Ac3Frame(const SAc3Header& p, std::size_t frameBytes);

struct SMpegAudioHeader {
    std::uint32_t sync = 0x7FF;
    std::uint32_t versionCode = 3;  // 3 MPEG-1, 2 MPEG-2, 0 "2.5", 1 reserved
    std::uint32_t layerCode = 2;    // 3 layer I, 2 layer II, 1 layer III, 0 reserved
    std::uint32_t bitrateIndex = 12;
    std::uint32_t samplingCode = 1;
    std::uint32_t padding = 0;
    std::uint32_t mode = 0;
    std::uint32_t emphasis = 0;
};
// The header, then zeros up to frameBytes.
Bytes MpegAudioFrame(const SMpegAudioHeader& p, std::size_t frameBytes);

}  // namespace probetest
