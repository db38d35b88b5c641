// The host media framework's interfaces as the component sees them: the media
// item and its stream descriptions, the settings tree, and the two classes the
// component creates (target description, media property). Every operation sits
// at the slot the host's binary interface gives it (slot 0 = QueryInterface).
// Operations the component never calls fill the remaining slots so the
// interfaces describe coherent objects: properties come as put/get pairs.
//
// Conventions: all return HRESULT; text is BSTR; numbers are 32-bit LONG,
// sizes 64-bit LONGLONG, frame rates double, flags VARIANT_BOOL. A getter
// leaves its out-value untouched when it fails. Stream objects are handed out
// as IUnknown and answer their description interfaces through QueryInterface.
#pragma once

#include "platform/com.h"

// ---------------------------------------------------------------------------
// Interface and class ids.

inline constexpr IID IID_IHostMediaItem = {0x77CBEBE3, 0x90B5, 0x4E74, {0x9A, 0x40, 0x8B, 0xBB, 0xBE, 0x60, 0xAD, 0xF1}};
inline constexpr IID IID_IHostMpeg2VideoDescription = {0xEE32F090, 0x944E, 0x4E99, {0xAB, 0xC1, 0x34, 0xBF, 0x0A, 0x9F, 0xE6, 0x3A}};
inline constexpr IID IID_IHostAvcVideoDescription = {0x2B32C5B6, 0x8977, 0x48B0, {0xB7, 0x37, 0xEF, 0x74, 0x51, 0xE4, 0xEE, 0xC8}};
inline constexpr IID IID_IHostAc3AudioDescription = {0x59189596, 0x73C2, 0x4572, {0xAC, 0x9D, 0x06, 0x33, 0x02, 0xA6, 0x41, 0x59}};
inline constexpr IID IID_IHostMpegAudioDescription = {0x0AC749D4, 0x2E0F, 0x482D, {0x9D, 0x7C, 0x61, 0xB3, 0x56, 0x47, 0x7F, 0x19}};
inline constexpr IID IID_IHostOtherAudioDescription = {0xE0ADA222, 0x709D, 0x46DA, {0xA0, 0x95, 0xB3, 0xFB, 0xE0, 0x57, 0x30, 0xFB}};
inline constexpr IID IID_IHostSettingsSource = {0x2EDB06D3, 0xE980, 0x44F4, {0x91, 0x68, 0x74, 0xCE, 0x5D, 0x19, 0xF6, 0xB6}};
inline constexpr IID IID_IHostSettingsKey = {0x31F1372A, 0xB97B, 0x46AC, {0x8C, 0x50, 0x99, 0x0C, 0x81, 0x3D, 0xB0, 0xE0}};
inline constexpr IID IID_IHostSettingsValue = {0x5BA06DE8, 0xD562, 0x4484, {0x9B, 0x34, 0xB9, 0x16, 0x92, 0x00, 0xC2, 0x97}};
// The collections are reached only through the source and the key, never by
// QueryInterface from outside; these ids are the host kit's own.
inline constexpr IID IID_IHostSettingsKeyCollection = {0xFC08444C, 0x2D28, 0x4277, {0xA7, 0x12, 0xC0, 0x65, 0x34, 0x15, 0x0E, 0x29}};
inline constexpr IID IID_IHostSettingsValueCollection = {0xE1C9BB67, 0x8BCE, 0x4E50, {0xB4, 0x9E, 0x8B, 0x4F, 0x29, 0xE9, 0x68, 0xF6}};

inline constexpr CLSID CLSID_HostTargetDescription = {0x77A3A473, 0x1AD2, 0x475F, {0x97, 0xEC, 0x1E, 0x90, 0x22, 0x97, 0x70, 0xE9}};
inline constexpr IID IID_IHostTargetDescription = {0xE8DA6BAC, 0x8204, 0x4980, {0xB2, 0x13, 0x74, 0x20, 0x3C, 0xE9, 0x28, 0xCD}};
inline constexpr IID IID_IHostTargetDescriptionExt = {0xA373A528, 0xA118, 0x445F, {0x89, 0xEA, 0x65, 0x13, 0x51, 0xD1, 0xC3, 0xB0}};
inline constexpr CLSID CLSID_HostMediaProperty = {0xE5C8CBCE, 0xAD20, 0x48F7, {0x95, 0x01, 0xF8, 0x76, 0x26, 0xB6, 0xBE, 0x78}};
inline constexpr IID IID_IHostMediaProperty = {0x811AE906, 0xB39B, 0x40B1, {0xAC, 0x91, 0x47, 0xD7, 0xDB, 0xFE, 0x24, 0x63}};

// The context the component creates host objects with.
inline constexpr DWORD HOST_CREATE_CONTEXT = 0x17;

// Packet formats of a media item.
inline constexpr LONG HOST_PACKET_FORMAT_188 = 1;
inline constexpr LONG HOST_PACKET_FORMAT_192_ZERO_STAMPS = 2;
inline constexpr LONG HOST_PACKET_FORMAT_192_STAMPED = 3;

// ---------------------------------------------------------------------------
// Handed in by the host.

struct IHostMediaItem : public IUnknown {
    STDMETHOD(put_Title)(BSTR value) = 0;                           // 3
    STDMETHOD(get_Title)(BSTR* value) = 0;                          // 4
    STDMETHOD(put_MimeType)(BSTR value) = 0;                        // 5
    STDMETHOD(get_MimeType)(BSTR* value) = 0;                       // 6
    STDMETHOD(put_Path)(VARIANT value) = 0;                         // 7
    STDMETHOD(get_Path)(VARIANT* value) = 0;                        // 8
    STDMETHOD(put_Size)(LONGLONG value) = 0;                        // 9
    STDMETHOD(get_Size)(LONGLONG* value) = 0;                       // 10
    STDMETHOD(put_PacketFormat)(LONG value) = 0;                    // 11
    STDMETHOD(get_PacketFormat)(LONG* value) = 0;                   // 12
    STDMETHOD(put_Duration)(LONG milliseconds) = 0;                 // 13
    STDMETHOD(get_Duration)(LONG* milliseconds) = 0;                // 14
    STDMETHOD(put_BitRate)(LONG bitsPerSecond) = 0;                 // 15
    STDMETHOD(get_BitRate)(LONG* bitsPerSecond) = 0;                // 16
    STDMETHOD(put_VideoStreamCount)(LONG value) = 0;                // 17
    STDMETHOD(get_VideoStreamCount)(LONG* value) = 0;               // 18
    STDMETHOD(put_AudioStreamCount)(LONG value) = 0;                // 19
    STDMETHOD(get_AudioStreamCount)(LONG* value) = 0;               // 20
    STDMETHOD(put_SubtitleStreamCount)(LONG value) = 0;             // 21
    STDMETHOD(get_SubtitleStreamCount)(LONG* value) = 0;            // 22
    STDMETHOD(put_VideoStream)(IUnknown* stream) = 0;               // 23
    STDMETHOD(get_VideoStream)(IUnknown** stream) = 0;              // 24
    STDMETHOD(put_AudioStream)(IUnknown* stream) = 0;               // 25
    STDMETHOD(get_AudioStream)(IUnknown** stream) = 0;              // 26
};

struct IHostMpeg2VideoDescription : public IUnknown {
    STDMETHOD(put_StreamId)(LONG value) = 0;                        // 3
    STDMETHOD(get_StreamId)(LONG* value) = 0;                       // 4
    STDMETHOD(put_CodecName)(BSTR value) = 0;                       // 5
    STDMETHOD(get_CodecName)(BSTR* value) = 0;                      // 6
    STDMETHOD(put_Profile)(LONG value) = 0;                         // 7
    STDMETHOD(get_Profile)(LONG* value) = 0;                        // 8
    STDMETHOD(put_BitRateFlag)(VARIANT_BOOL value) = 0;             // 9
    STDMETHOD(get_BitRateFlag)(VARIANT_BOOL* value) = 0;            // 10
    STDMETHOD(put_PrimaryBitRate)(LONG value) = 0;                  // 11
    STDMETHOD(get_PrimaryBitRate)(LONG* value) = 0;                 // 12
    STDMETHOD(put_AspectRatioCode)(LONG value) = 0;                 // 13
    STDMETHOD(get_AspectRatioCode)(LONG* value) = 0;                // 14
    STDMETHOD(put_SecondaryBitRate)(LONG value) = 0;                // 15
    STDMETHOD(get_SecondaryBitRate)(LONG* value) = 0;               // 16
    STDMETHOD(put_FrameRate)(double value) = 0;                     // 17
    STDMETHOD(get_FrameRate)(double* value) = 0;                    // 18
    STDMETHOD(put_Level)(LONG value) = 0;                           // 19
    STDMETHOD(get_Level)(LONG* value) = 0;                          // 20
    STDMETHOD(put_ChromaFormat)(LONG value) = 0;                    // 21
    STDMETHOD(get_ChromaFormat)(LONG* value) = 0;                   // 22
    STDMETHOD(put_Width)(LONG value) = 0;                           // 23
    STDMETHOD(get_Width)(LONG* value) = 0;                          // 24
    STDMETHOD(put_Height)(LONG value) = 0;                          // 25
    STDMETHOD(get_Height)(LONG* value) = 0;                         // 26
};

struct IHostAvcVideoDescription : public IUnknown {
    STDMETHOD(put_StreamId)(LONG value) = 0;                        // 3
    STDMETHOD(get_StreamId)(LONG* value) = 0;                       // 4
    STDMETHOD(put_CodecName)(BSTR value) = 0;                       // 5
    STDMETHOD(get_CodecName)(BSTR* value) = 0;                      // 6
    STDMETHOD(put_Profile)(LONG value) = 0;                         // 7
    STDMETHOD(get_Profile)(LONG* value) = 0;                        // 8
    STDMETHOD(put_Level)(LONG value) = 0;                           // 9
    STDMETHOD(get_Level)(LONG* value) = 0;                          // 10
    STDMETHOD(put_BitRateFlag)(VARIANT_BOOL value) = 0;             // 11
    STDMETHOD(get_BitRateFlag)(VARIANT_BOOL* value) = 0;            // 12
    STDMETHOD(put_SecondaryBitRate)(LONG value) = 0;                // 13
    STDMETHOD(get_SecondaryBitRate)(LONG* value) = 0;               // 14
    STDMETHOD(put_PrimaryBitRate)(LONG value) = 0;                  // 15
    STDMETHOD(get_PrimaryBitRate)(LONG* value) = 0;                 // 16
    STDMETHOD(put_AspectRatioCode)(LONG value) = 0;                 // 17
    STDMETHOD(get_AspectRatioCode)(LONG* value) = 0;                // 18
    STDMETHOD(put_FrameRate)(double value) = 0;                     // 19
    STDMETHOD(get_FrameRate)(double* value) = 0;                    // 20
    STDMETHOD(put_Width)(LONG value) = 0;                           // 21
    STDMETHOD(get_Width)(LONG* value) = 0;                          // 22
    STDMETHOD(put_Height)(LONG value) = 0;                          // 23
    STDMETHOD(get_Height)(LONG* value) = 0;                         // 24
};

struct IHostAc3AudioDescription : public IUnknown {
    STDMETHOD(put_StreamId)(LONG value) = 0;                        // 3
    STDMETHOD(get_StreamId)(LONG* value) = 0;                       // 4
    STDMETHOD(put_Language)(BSTR value) = 0;                        // 5
    STDMETHOD(get_Language)(BSTR* value) = 0;                       // 6
    STDMETHOD(put_SampleRate)(LONG hertz) = 0;                      // 7
    STDMETHOD(get_SampleRate)(LONG* hertz) = 0;                     // 8
    STDMETHOD(put_Channels)(LONG value) = 0;                        // 9
    STDMETHOD(get_Channels)(LONG* value) = 0;                       // 10
    STDMETHOD(put_BitRate)(LONG bitsPerSecond) = 0;                 // 11
    STDMETHOD(get_BitRate)(LONG* bitsPerSecond) = 0;                // 12
};

struct IHostMpegAudioDescription : public IUnknown {
    STDMETHOD(put_StreamId)(LONG value) = 0;                        // 3
    STDMETHOD(get_StreamId)(LONG* value) = 0;                       // 4
    STDMETHOD(put_Language)(BSTR value) = 0;                        // 5
    STDMETHOD(get_Language)(BSTR* value) = 0;                       // 6
    STDMETHOD(put_SampleRate)(LONG hertz) = 0;                      // 7
    STDMETHOD(get_SampleRate)(LONG* hertz) = 0;                     // 8
    STDMETHOD(put_Layer)(LONG value) = 0;                           // 9
    STDMETHOD(get_Layer)(LONG* value) = 0;                          // 10
    STDMETHOD(put_Channels)(LONG value) = 0;                        // 11
    STDMETHOD(get_Channels)(LONG* value) = 0;                       // 12
    STDMETHOD(put_BitRate)(LONG bitsPerSecond) = 0;                 // 13
    STDMETHOD(get_BitRate)(LONG* bitsPerSecond) = 0;                // 14
};

struct IHostOtherAudioDescription : public IUnknown {
    STDMETHOD(put_StreamId)(LONG value) = 0;                        // 3
    STDMETHOD(get_StreamId)(LONG* value) = 0;                       // 4
    STDMETHOD(put_Language)(BSTR value) = 0;                        // 5
    STDMETHOD(get_Language)(BSTR* value) = 0;                       // 6
    STDMETHOD(put_SampleRate)(LONG hertz) = 0;                      // 7
    STDMETHOD(get_SampleRate)(LONG* hertz) = 0;                     // 8
    STDMETHOD(put_FormatTag)(LONG value) = 0;                       // 9
    STDMETHOD(get_FormatTag)(LONG* value) = 0;                      // 10
    STDMETHOD(put_Channels)(LONG value) = 0;                        // 11
    STDMETHOD(get_Channels)(LONG* value) = 0;                       // 12
};

// Settings: source -> key collection -> key -> value collection -> value.
struct IHostSettingsValue : public IUnknown {
    STDMETHOD(get_Name)(BSTR* name) = 0;                            // 3
    STDMETHOD(get_Text)(BSTR* text) = 0;                            // 4
    STDMETHOD(put_Text)(BSTR text) = 0;                             // 5
};

struct IHostSettingsValueCollection : public IUnknown {
    STDMETHOD(get_Count)(LONG* count) = 0;                          // 3
    STDMETHOD(get_ItemAt)(LONG index, IHostSettingsValue** value) = 0;  // 4
    STDMETHOD(get_Item)(VARIANT name, IHostSettingsValue** value) = 0;  // 5: name is VT_BSTR
};

struct IHostSettingsKey : public IUnknown {
    STDMETHOD(get_Name)(BSTR* name) = 0;                            // 3
    STDMETHOD(get_Values)(IHostSettingsValueCollection** values) = 0;   // 4
};

struct IHostSettingsKeyCollection : public IUnknown {
    STDMETHOD(get_Count)(LONG* count) = 0;                          // 3
    STDMETHOD(get_ItemAt)(LONG index, IHostSettingsKey** key) = 0;  // 4
    STDMETHOD(get_Item)(VARIANT name, IHostSettingsKey** key) = 0;  // 5: name is VT_BSTR
};

struct IHostSettingsSource : public IUnknown {
    STDMETHOD(get_Keys)(IHostSettingsKeyCollection** keys) = 0;     // 3
};

// ---------------------------------------------------------------------------
// Created by the component.

struct IHostTargetDescription : public IUnknown {
    STDMETHOD(get_MimeType)(BSTR* value) = 0;                       // 3
    STDMETHOD(put_MimeType)(BSTR value) = 0;                        // 4
    STDMETHOD(get_ProfileName)(BSTR* value) = 0;                    // 5
    STDMETHOD(put_ProfileName)(BSTR value) = 0;                     // 6
    STDMETHOD(get_TargetFlag1)(VARIANT_BOOL* value) = 0;            // 7
    STDMETHOD(put_TargetFlag1)(VARIANT_BOOL value) = 0;             // 8
    STDMETHOD(get_TargetFlag2)(VARIANT_BOOL* value) = 0;            // 9: time seeking available
    STDMETHOD(put_TargetFlag2)(VARIANT_BOOL value) = 0;             // 10
    STDMETHOD(get_TargetFlag3)(VARIANT_BOOL* value) = 0;            // 11
    STDMETHOD(put_TargetFlag3)(VARIANT_BOOL value) = 0;             // 12
};

struct IHostTargetDescriptionExt : public IUnknown {
    STDMETHOD(get_AlternativeProfileName)(BSTR* value) = 0;         // 3
    STDMETHOD(put_AlternativeProfileName)(BSTR value) = 0;          // 4
};

struct IHostMediaProperty : public IUnknown {
    STDMETHOD(get_Name)(BSTR* value) = 0;                           // 3
    STDMETHOD(put_Name)(BSTR value) = 0;                            // 4
    STDMETHOD(get_Value)(BSTR* value) = 0;                          // 5
    STDMETHOD(put_Value)(BSTR value) = 0;                           // 6
};
