#include "HeaderWriters.h"

namespace probetest {

using vsktest::CBitWriter;

Bytes StartCode(std::uint8_t code)
{
    return {0x00, 0x00, 0x01, code};
}

void Append(Bytes& a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
}

void PutUe(CBitWriter& w, std::uint32_t value)
{
    const std::uint64_t coded = std::uint64_t{value} + 1;
    unsigned bits = 0;
    while ((coded >> bits) > 1)
        ++bits;
    if (bits > 0)
        w.Put(0, bits);
    w.Put(coded, bits + 1);
}

void PutSe(CBitWriter& w, std::int32_t value)
{
    PutUe(w, value > 0 ? static_cast<std::uint32_t>(2 * static_cast<std::int64_t>(value) - 1)
                       : static_cast<std::uint32_t>(-2 * static_cast<std::int64_t>(value)));
}

namespace {

void AlignWithZeros(CBitWriter& w)
{
    while (!w.Aligned())
        w.Put(0, 1);
}

void PutHrd(CBitWriter& w, const SHrd& hrd)
{
    PutUe(w, static_cast<std::uint32_t>(hrd.bitRateValueMinus1.size() - 1));
    w.Put(hrd.bitRateScale, 4).Put(hrd.cpbSizeScale, 4);
    for (const std::uint32_t value : hrd.bitRateValueMinus1) {
        PutUe(w, value);
        PutUe(w, 1000);  // cpb_size_value_minus1
        w.Put(0, 1);     // cbr_flag
    }
    w.Put(23, 5).Put(23, 5).Put(23, 5).Put(24, 5);
}

void PutVui(CBitWriter& w, const SVui& vui)
{
    w.Put(vui.aspectRatioIdc ? 1 : 0, 1);
    if (vui.aspectRatioIdc) {
        w.Put(*vui.aspectRatioIdc, 8);
        if (*vui.aspectRatioIdc == 255)
            w.Put(vui.sarWidth, 16).Put(vui.sarHeight, 16);
    }
    w.Put(vui.overscan ? 1 : 0, 1);
    if (vui.overscan)
        w.Put(1, 1);
    w.Put(vui.videoSignal ? 1 : 0, 1);
    if (vui.videoSignal)
        w.Put(5, 3).Put(0, 1).Put(1, 1).Put(1, 8).Put(1, 8).Put(1, 8);
    w.Put(vui.chromaLocation ? 1 : 0, 1);
    if (vui.chromaLocation) {
        PutUe(w, 1);
        PutUe(w, 2);
    }
    w.Put(vui.numUnitsInTick ? 1 : 0, 1);
    if (vui.numUnitsInTick)
        w.Put(*vui.numUnitsInTick, 32).Put(vui.timeScale, 32).Put(1, 1);
    w.Put(vui.nalHrd ? 1 : 0, 1);
    if (vui.nalHrd)
        PutHrd(w, *vui.nalHrd);
    w.Put(vui.vclHrd ? 1 : 0, 1);
    if (vui.vclHrd)
        PutHrd(w, *vui.vclHrd);
    if (vui.nalHrd || vui.vclHrd)
        w.Put(0, 1);  // low_delay_hrd_flag
    w.Put(0, 1);      // pic_struct_present_flag
    w.Put(0, 1);      // bitstream_restriction_flag
}

}  // namespace

Bytes SequenceHeader(const SSequenceHeader& p)
{
    CBitWriter w;
    w.Put(p.horizontalSizeValue, 12).Put(p.verticalSizeValue, 12);
    w.Put(p.aspectRatioInformation, 4).Put(p.frameRateCode, 4);
    w.Put(p.bitRateValue, 18).Put(p.markerBit, 1).Put(p.vbvBufferSizeValue, 10).Put(0, 1);
    w.Put(p.intraMatrix ? 1 : 0, 1);
    if (p.intraMatrix)
        for (int i = 0; i < 64; ++i)
            w.Put(16, 8);
    w.Put(p.nonIntraMatrix ? 1 : 0, 1);
    if (p.nonIntraMatrix)
        for (int i = 0; i < 64; ++i)
            w.Put(16, 8);
    Bytes out = StartCode(0xB3);
    Append(out, w.Take());
    return out;
}

Bytes SequenceExtension(const SSequenceExtension& p)
{
    CBitWriter w;
    w.Put(p.extensionId, 4).Put(p.profileAndLevel, 8).Put(p.progressiveSequence, 1).Put(p.chromaFormat, 2);
    w.Put(p.horizontalSizeExtension, 2).Put(p.verticalSizeExtension, 2).Put(p.bitRateExtension, 12);
    w.Put(p.markerBit, 1).Put(0, 8).Put(0, 1).Put(p.frameRateExtensionN, 2).Put(p.frameRateExtensionD, 5);
    Bytes out = StartCode(0xB5);
    Append(out, w.Take());
    return out;
}

Bytes PictureCodingExtension(const SPictureCodingExtension& p)
{
    CBitWriter w;
    w.Put(p.extensionId, 4).Put(p.fCodes, 16).Put(p.intraDcPrecision, 2).Put(p.pictureStructure, 2);
    // frame_pred_frame_dct, concealment_motion_vectors, q_scale_type,
    // intra_vlc_format, alternate_scan.
    w.Put(p.topFieldFirst, 1).Put(1, 1).Put(0, 1).Put(0, 1).Put(0, 1).Put(0, 1);
    // chroma_420_type, in 4:2:0 the same as progressive_frame, which
    // follows; composite_display_flag 0.
    w.Put(p.repeatFirstField, 1).Put(p.progressiveFrame, 1).Put(p.progressiveFrame, 1).Put(0, 1);
    AlignWithZeros(w);
    Bytes out = StartCode(0xB5);
    Append(out, w.Take());
    return out;
}

Bytes SpsRbsp(const SSps& p)
{
    CBitWriter w;
    w.Put(p.profileIdc, 8).Put(p.constraintFlags, 8).Put(p.levelIdc, 8);
    PutUe(w, p.spsId);
    const bool high = p.profileIdc == 100 || p.profileIdc == 110 || p.profileIdc == 122 || p.profileIdc == 244 ||
                      p.profileIdc == 44 || p.profileIdc == 83 || p.profileIdc == 86 || p.profileIdc == 118 ||
                      p.profileIdc == 128 || p.profileIdc == 138 || p.profileIdc == 139 || p.profileIdc == 134 ||
                      p.profileIdc == 135;
    if (high) {
        PutUe(w, p.chromaFormatIdc);
        if (p.chromaFormatIdc == 3)
            w.Put(p.separateColourPlane ? 1 : 0, 1);
        PutUe(w, p.bitDepthLumaMinus8);
        PutUe(w, p.bitDepthChromaMinus8);
        w.Put(0, 1);
        w.Put(p.scalingLists.empty() ? 0 : 1, 1);
        for (const SScalingList& list : p.scalingLists) {
            w.Put(list.present ? 1 : 0, 1);
            if (list.present)
                for (const std::int32_t delta : list.deltas)
                    PutSe(w, delta);
        }
    }
    PutUe(w, p.log2MaxFrameNumMinus4);
    PutUe(w, p.picOrderCntType);
    if (p.picOrderCntType == 0) {
        PutUe(w, p.log2MaxPocLsbMinus4);
    } else if (p.picOrderCntType == 1) {
        w.Put(0, 1);
        PutSe(w, -2);
        PutSe(w, 1);
        PutUe(w, static_cast<std::uint32_t>(p.offsetsForRefFrame.size()));
        for (const std::int32_t offset : p.offsetsForRefFrame)
            PutSe(w, offset);
    }
    PutUe(w, p.maxNumRefFrames);
    w.Put(0, 1);
    PutUe(w, p.picWidthInMbsMinus1);
    PutUe(w, p.picHeightInMapUnitsMinus1);
    w.Put(p.frameMbsOnly ? 1 : 0, 1);
    if (!p.frameMbsOnly)
        w.Put(1, 1);  // mb_adaptive_frame_field_flag
    w.Put(1, 1);      // direct_8x8_inference_flag
    w.Put(p.crop ? 1 : 0, 1);
    if (p.crop)
        for (const std::uint32_t offset : *p.crop)
            PutUe(w, offset);
    w.Put(p.vui ? 1 : 0, 1);
    if (p.vui)
        PutVui(w, *p.vui);
    w.Put(1, 1);  // rbsp_stop_one_bit
    AlignWithZeros(w);
    return w.Take();
}

Bytes Escape(const Bytes& rbsp)
{
    Bytes out;
    int zeros = 0;
    for (const std::uint8_t byte : rbsp) {
        if (zeros >= 2 && byte <= 3) {
            out.push_back(0x03);
            zeros = 0;
        }
        out.push_back(byte);
        zeros = byte == 0 ? zeros + 1 : 0;
    }
    return out;
}

Bytes SpsNal(const SSps& p)
{
    Bytes out = {0x00, 0x00, 0x00, 0x01, 0x67};
    Append(out, Escape(SpsRbsp(p)));
    return out;
}

Bytes Ac3Frame(const SAc3Header& p, std::size_t frameBytes)
{
    CBitWriter w;
    w.Put(p.syncWord, 16).Put(0x1234, 16).Put(p.fscod, 2).Put(p.frmsizecod, 6);
    w.Put(p.bsid, 5).Put(0, 3).Put(p.acmod, 3);
    // cmixlev when there are three front channels, surmixlev when there are
    // surround channels, dsurmod in 2/0 mode; each written as 01.
    if ((p.acmod & 1u) != 0 && p.acmod != 1)
        w.Put(1, 2);
    if ((p.acmod & 4u) != 0)
        w.Put(1, 2);
    if (p.acmod == 2)
        w.Put(1, 2);
    w.Put(p.lfeon, 1);
    AlignWithZeros(w);
    Bytes out = w.Take();
    if (out.size() < frameBytes)
        out.resize(frameBytes, 0);
    return out;
}

Bytes MpegAudioFrame(const SMpegAudioHeader& p, std::size_t frameBytes)
{
    CBitWriter w;
    w.Put(p.sync, 11).Put(p.versionCode, 2).Put(p.layerCode, 2).Put(1, 1);
    w.Put(p.bitrateIndex, 4).Put(p.samplingCode, 2).Put(p.padding, 1).Put(0, 1);
    w.Put(p.mode, 2).Put(0, 2).Put(0, 1).Put(1, 1).Put(p.emphasis, 2);
    Bytes out = w.Take();
    if (out.size() < frameBytes)
        out.resize(frameBytes, 0);
    return out;
}

}  // namespace probetest
