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

// Version answered by GetInterfaceVersion.
inline constexpr std::uint32_t VSK_PARSER_INTERFACE_VERSION = 1;

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
