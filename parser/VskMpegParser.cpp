// The parser library's own translation unit: its two exports and the parser
// object they hand out.
#include "VskMpegParser.h"

#include "StreamProbe.h"
#include "TimeSeek.h"

#include <memory>
#include <new>

namespace {

// A parser object holds nothing: every search builds and frees what it needs.
class CVskMpegParser final : public IVskMpegParser
{
public:
    std::uint32_t GetInterfaceVersion() noexcept override { return VSK_PARSER_INTERFACE_VERSION; }

    std::int32_t FindTimeSeekPosition(const wchar_t* path, std::uint32_t durationMs, std::uint32_t timeMs, bool flag,
                                      std::uint32_t* foundTimeMs, std::int64_t* bytePosition) noexcept override
    {
        return parser::FindTimeSeekPosition(path, durationMs, timeMs, flag, foundTimeMs, bytePosition);
    }

    std::int32_t ReleaseParser() noexcept override
    {
        // The object owns itself from creation to this call.
        std::unique_ptr<CVskMpegParser> self(this);
        return VSK_PARSER_RESULT_OK;
    }

    std::int32_t ProbeStream(const wchar_t* path, SVskStreamProbe* probe) noexcept override
    {
        return parser::ProbeStreamFile(path, probe);
    }
};

}  // namespace

extern "C" VSK_MPEGPARSER_API std::int32_t createVskMpegParser(IVskMpegParser** parser) noexcept
{
    if (parser == nullptr)
        return VSK_PARSER_RESULT_POINTER;
    *parser = new (std::nothrow) CVskMpegParser;
    return *parser != nullptr ? VSK_PARSER_RESULT_OK : VSK_PARSER_RESULT_OUTOFMEMORY;
}

extern "C" VSK_MPEGPARSER_API std::int32_t GetTimeSeekPosition(const wchar_t* path, std::uint32_t durationMs,
                                                               std::uint32_t timeMs, bool flag,
                                                               std::uint32_t* foundTimeMs,
                                                               std::int64_t* bytePosition) noexcept
{
    return parser::FindTimeSeekPosition(path, durationMs, timeMs, flag, foundTimeMs, bytePosition);
}
