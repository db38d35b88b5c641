// Exports of the MPEG parser library (VskMpegParser.dll / VskMpegParser.so).
//
// The component never links against this library: it loads it by path and
// looks both entry points up by the names below, so this header is the whole
// contract between the two. Only plain values cross it: a path, millisecond
// times, a flag and two outputs. Nothing is thrown across it.
#pragma once

#include <cstdint>

// Export attribute. The library's own build defines VSK_MPEGPARSER_BUILD;
// importers get nothing, because nobody imports these functions, they are
// looked up by name. Toolchains that know dllexport (the mingw-w64 build) mark
// the functions for the export table; elsewhere default visibility keeps them
// in the dynamic symbol table even when the library hides everything else.
#if defined(VSK_MPEGPARSER_BUILD)
#  if __has_attribute(dllexport)
#    define VSK_MPEGPARSER_API __attribute__((dllexport))
#  else
#    define VSK_MPEGPARSER_API __attribute__((visibility("default")))
#  endif
#else
#  define VSK_MPEGPARSER_API
#endif

// Result codes: HRESULT values carried in a signed 32-bit integer, so the
// library needs no COM header. Negative means failure.
inline constexpr std::int32_t VSK_PARSER_RESULT_OK = 0;
inline constexpr std::int32_t VSK_PARSER_RESULT_FAIL = static_cast<std::int32_t>(0x80004005u);
inline constexpr std::int32_t VSK_PARSER_RESULT_POINTER = static_cast<std::int32_t>(0x80004003u);
inline constexpr std::int32_t VSK_PARSER_RESULT_INVALIDARG = static_cast<std::int32_t>(0x80070057u);
inline constexpr std::int32_t VSK_PARSER_RESULT_OUTOFMEMORY = static_cast<std::int32_t>(0x8007000Eu);

// Names the component looks the entry points up by, and the library's file
// name without its platform extension (".dll" or ".so").
inline constexpr char VSK_PARSER_EXPORT_CREATE[] = "createVskMpegParser";
inline constexpr char VSK_PARSER_EXPORT_TIME_SEEK[] = "GetTimeSeekPosition";
inline constexpr wchar_t VSK_PARSER_LIBRARY_BASE_NAME[] = L"VskMpegParser";

// Version answered by GetInterfaceVersion: 2 since the object has slot 3
// (ProbeStream). An object of version 1 has slots 0 to 2 only, so a host that
// may meet an older library asks for the version before it calls slot 3.
inline constexpr std::uint32_t VSK_PARSER_INTERFACE_VERSION = 2;

// The stream facts the probe (slot 3) reports: plain values in a structure
// the caller owns. The caller sets `size` to sizeof(SVskStreamProbe) before
// the call; the library fills no more than that, so a caller built against an
// older, shorter structure keeps working. It leaves `size` as it is, and
// bytes beyond the structure it knows untouched. New fields only ever go at
// the end of SVskStreamProbe; SVskProbeStream, an array element, is fixed as
// it is in the first version (VSK_PROBE_SIZE_V1, the smallest size taken).
inline constexpr std::uint32_t VSK_PROBE_MAX_STREAMS = 32;

enum : std::uint32_t {
    // Packet format of a transport stream.
    VSK_PROBE_FORMAT_NONE = 0,          // program stream, or no transport stream
    VSK_PROBE_FORMAT_188 = 1,           // 188-byte packets
    // 192-byte units whose prefixes carry no clock: zero, or bytes that do
    // not rise as arrival time stamps do.
    VSK_PROBE_FORMAT_192_ZERO = 2,
    // 192-byte units whose prefixes carry arrival time stamps that rise
    // steadily (modulo 2^30) from unit to unit.
    VSK_PROBE_FORMAT_192_STAMPED = 3,

    // Stream categories and codecs.
    VSK_PROBE_STREAM_OTHER = 0,
    VSK_PROBE_STREAM_VIDEO = 1,
    VSK_PROBE_STREAM_AUDIO = 2,
    VSK_PROBE_CODEC_UNKNOWN = 0,
    VSK_PROBE_CODEC_MPEG2_VIDEO = 1,    // MPEG-1 or MPEG-2 video
    VSK_PROBE_CODEC_AVC = 2,
    VSK_PROBE_CODEC_MPEG_AUDIO = 3,     // MPEG-1/2 audio, layers I to III
    VSK_PROBE_CODEC_AC3 = 4,
    VSK_PROBE_CODEC_LPCM = 5,
};

struct SVskProbeStream {
    std::uint32_t category = VSK_PROBE_STREAM_OTHER;
    std::uint32_t codec = VSK_PROBE_CODEC_UNKNOWN;
    std::uint32_t programIndex = 0;      // entry of the association section
    std::uint32_t programNumber = 0;
    std::uint32_t pid = 0;               // 0 in a program stream
    std::uint32_t streamType = 0;        // stream_type; the stream_id in a program stream
    std::uint32_t streamId = 0;          // PES stream_id
    // Bit rate in bit/s: the one the elementary headers state, or else the
    // one measured over the part read (bitRateMeasured 1); 0 when unknown.
    std::uint32_t bitRate = 0;
    std::uint32_t bitRateMeasured = 0;
    // Video: coded size after cropping, frame rate as a fraction (frames per
    // second), display aspect ratio as a fraction (16:9 is 16/9), sample
    // aspect ratio (1/1 for square samples; 0/0 when not stated), the
    // profile and level as the stream states them (MPEG-2: the profile and
    // the level of profile_and_level_indication; AVC: profile_idc and
    // level_idc), progressive (1) or interlaced (0) frames.
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t frameRateNumerator = 0;
    std::uint32_t frameRateDenominator = 0;
    std::uint32_t displayAspectNumerator = 0;
    std::uint32_t displayAspectDenominator = 0;
    std::uint32_t sampleAspectNumerator = 0;
    std::uint32_t sampleAspectDenominator = 0;
    std::uint32_t profile = 0;
    std::uint32_t level = 0;
    std::uint32_t progressive = 0;
    // Audio: channels (5.1 counts 6), sampling rate in Hz, MPEG audio layer.
    std::uint32_t channels = 0;
    std::uint32_t samplingRate = 0;
    std::uint32_t layer = 0;
    // Program streams: the sub-stream id of a private_stream_1 stream (0x80
    // to 0x87 AC-3, 0xA0 to 0xA7 LPCM, 0x20 to 0x3F sub-pictures), which
    // tells its streams apart; 0 otherwise.
    std::uint32_t subStreamId = 0;
    // Video: the aspect indication as the stream writes it, which the
    // fractions above cannot always tell apart (at 1920x1080 square samples
    // and a 16:9 display are the same picture): MPEG-2
    // aspect_ratio_information (1 square samples, 2 4:3, 3 16:9, 4 2.21:1),
    // MPEG-1 pel_aspect_ratio, AVC aspect_ratio_idc (255 for a stated
    // sample aspect ratio); 0 when the stream states none.
    std::uint32_t aspectRatioCode = 0;
};

struct SVskStreamProbe {
    std::uint32_t size = sizeof(SVskStreamProbe);
    // STREAM_KIND: 1 program stream, 2 188-byte packets, 3 192-byte units.
    std::uint32_t streamKind = 0;
    std::uint32_t packetFormat = VSK_PROBE_FORMAT_NONE;
    std::int64_t fileSize = 0;
    // From the earliest to the latest PTS of the first video stream (of the
    // first audio stream when there is no video), across the wrap of the
    // clock, plus one frame; 0 when unknown. Overall bit rate in bit/s from
    // the file size and it; 0 when the duration is unknown.
    std::uint32_t durationMs = 0;
    std::uint32_t bitRate = 0;
    // Programs of the association section (1 for a program stream), and the
    // entries of `streams` filled, in the order of the programs and their
    // map sections (program streams: in the order they are met); streams
    // beyond VSK_PROBE_MAX_STREAMS are left out.
    std::uint32_t programCount = 0;
    std::uint32_t streamCount = 0;
    SVskProbeStream streams[VSK_PROBE_MAX_STREAMS];
};

inline constexpr std::uint32_t VSK_PROBE_SIZE_V1 = 3240;
static_assert(sizeof(SVskProbeStream) == 100 && sizeof(SVskStreamProbe) == VSK_PROBE_SIZE_V1,
              "the probe structures are binary contract");

// A parser object. Not a COM interface: no reference count; it is created only
// by createVskMpegParser and destroyed only by ReleaseParser.
//
// The slot order is binary contract: the component calls slot 2 (ReleaseParser)
// through the table without knowing the other two. That is why there is no
// virtual destructor: under the Itanium ABI it takes two slots and would push
// ReleaseParser out of place. The destructor is protected and non-virtual so a
// caller cannot delete the object around ReleaseParser.
class IVskMpegParser
{
public:
    // Slot 0. Not used by the component: the interface version the object
    // implements (VSK_PARSER_INTERFACE_VERSION).
    virtual std::uint32_t GetInterfaceVersion() noexcept = 0;

    // Slot 1. Not used by the component: the same search as the exported
    // GetTimeSeekPosition, offered through the object for hosts that hold one.
    virtual std::int32_t FindTimeSeekPosition(const wchar_t* path, std::uint32_t durationMs,
                                              std::uint32_t timeMs, bool flag,
                                              std::uint32_t* foundTimeMs,
                                              std::int64_t* bytePosition) noexcept = 0;

    // Slot 2. Destroys the object and frees everything it holds. The pointer is
    // invalid afterwards. The result is 0 and callers may ignore it.
    virtual std::int32_t ReleaseParser() noexcept = 0;

    // Slot 3. Not used by the component: the stream facts of a recording, for
    // a host that describes its files to clients. It reads at most the first
    // and the last 4 MiB of the file (all of a file up to 8 MiB), opened with
    // read sharing only. 0 on success; E_POINTER for a null probe,
    // E_INVALIDARG for a size below VSK_PROBE_SIZE_V1, a null path or a file
    // that cannot be opened, E_OUTOFMEMORY, E_FAIL when the file cannot be
    // read or is of no known kind. The probe is written on success only.
    virtual std::int32_t ProbeStream(const wchar_t* path, SVskStreamProbe* probe) noexcept = 0;

protected:
    IVskMpegParser() = default;
    IVskMpegParser(const IVskMpegParser&) = default;
    IVskMpegParser& operator=(const IVskMpegParser&) = default;
    ~IVskMpegParser() = default;
};

extern "C" {

// Creates a parser object and stores it in *parser. Returns 0 on success (the
// caller then owns the object and ends it with ReleaseParser); any other value
// is a failure and *parser is not to be used. A null parser gives E_POINTER.
VSK_MPEGPARSER_API std::int32_t createVskMpegParser(IVskMpegParser** parser) noexcept;

// Finds the byte offset from which playback shows timeMs of a file whose play
// time is durationMs, and the play time that belongs to that offset: the
// video unit examined just before the first one whose presentation time
// exceeds timeMs after the file's first video unit, with its time in ms from
// that first unit (0 for a unit that lies before it). The file is opened
// with read sharing only, so a file another process holds open for writing
// is refused on Windows.
//
// Checks, in this order: durationMs 0 gives E_INVALIDARG; a null foundTimeMs
// or bytePosition gives E_POINTER; flag true gives E_INVALIDARG (false is
// the only search there is); timeMs 0 answers 0 ms at offset 0 without
// opening the file. A file without any video unit answers 0 ms at offset 0.
// Otherwise: 0 on success; E_INVALIDARG when the file cannot be opened or
// positioned, E_OUTOFMEMORY, or E_FAIL when it cannot be read or parsed. The
// outputs are written on success only.
VSK_MPEGPARSER_API std::int32_t GetTimeSeekPosition(const wchar_t* path, std::uint32_t durationMs,
                                                    std::uint32_t timeMs, bool flag,
                                                    std::uint32_t* foundTimeMs,
                                                    std::int64_t* bytePosition) noexcept;

}  // extern "C"

// The entry points as the component holds them after looking them up by name.
using PfnCreateVskMpegParser = std::int32_t (*)(IVskMpegParser** parser);
using PfnGetTimeSeekPosition = std::int32_t (*)(const wchar_t* path, std::uint32_t durationMs,
                                                std::uint32_t timeMs, bool flag,
                                                std::uint32_t* foundTimeMs,
                                                std::int64_t* bytePosition);
