// The component's two interfaces and class ids, as hosts see them. Both
// interfaces derive directly from IUnknown; the operations are in slot order.
#pragma once

#include "frame/host_interfaces.h"
#include "platform/com.h"

namespace MediaTranscoderLib {

inline constexpr IID IID_IVskMediaTranscoder = {0xD6333CD0, 0x3339, 0x4212, {0xB7, 0x3E, 0x09, 0x42, 0xFD, 0x83, 0x5D, 0xFD}};
inline constexpr IID IID_IVskMediaTranscoderInfo = {0xF0D20C3B, 0xDDCD, 0x402B, {0x83, 0xF8, 0x37, 0xDF, 0xB6, 0x7B, 0x22, 0xFD}};
inline constexpr CLSID CLSID_Mpeg2TSConverter = {0x6D87181D, 0x31B4, 0x449C, {0xAC, 0xED, 0x34, 0xA0, 0xD1, 0xE4, 0x49, 0xEB}};
inline constexpr CLSID CLSID_Mpeg2TSConverterInfo = {0x14311EB0, 0xDE57, 0x424A, {0xA7, 0x6F, 0xCE, 0x30, 0xC1, 0x82, 0x9E, 0x81}};

// Serves one source file to one client.
struct IVskMediaTranscoder : public IUnknown {
    // source: VT_BSTR path, or VT_UNKNOWN / VT_DISPATCH host media item.
    STDMETHOD(Open)(VARIANT source, IHostTargetDescription* target) = 0;
    STDMETHOD(Close)() = 0;
    STDMETHOD(Start)() = 0;
    STDMETHOD(Stop)() = 0;
    STDMETHOD(SeekByBytes)(LONGLONG position) = 0;
    STDMETHOD(SeekByTime)(ULONG timeMs, ULONG* actualTimeMs, LONGLONG* bytePosition) = 0;
    STDMETHOD(GetRangeEnd)(ULONG endValue, ULONG* endValueOut, LONGLONG* lastBytePosition) = 0;
    STDMETHOD(SetRate)(double rate) = 0;
    STDMETHOD(GetSize)(LONGLONG* size) = 0;
    STDMETHOD(GetDuration)(ULONG* durationMs) = 0;
    // data: a new VT_UI1 array the caller owns.
    STDMETHOD(Read)(LONG count, SAFEARRAY** data, VARIANT_BOOL* endOfStream) = 0;
};

// Describes what the component can serve and creates converters.
struct IVskMediaTranscoderInfo : public IUnknown {
    STDMETHOD(LoadSettings)(IHostSettingsSource* settings) = 0;
    // Result lists: VT_VARIANT arrays of VT_UNKNOWN elements the caller owns.
    STDMETHOD(GetSupportedProfiles)(SAFEARRAY** profiles) = 0;
    STDMETHOD(GetSourceProfiles)(VARIANT source, SAFEARRAY** profiles) = 0;
    STDMETHOD(IsProfileSupported)(VARIANT source, IHostTargetDescription* target, VARIANT_BOOL* supported) = 0;
    STDMETHOD(GetMediaProperties)(VARIANT source, IHostTargetDescription* target, SAFEARRAY** properties) = 0;
    STDMETHOD(CreateTranscoder)(IVskMediaTranscoder** transcoder) = 0;
};

}  // namespace MediaTranscoderLib
