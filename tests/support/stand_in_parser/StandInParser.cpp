// A stand-in for the MPEG parser library, for tests of the component's
// binding: it exports the library's entry points (the broken variant, built
// with VSK_STANDIN_WITHOUT_TIME_SEEK, lacks GetTimeSeekPosition) and answers
// as the environment tells it at each call. It parses nothing.
#include "StandInParser.h"

#include "StandInSettings.h"

#include <atomic>
#include <memory>
#include <string>

namespace standin {
namespace {

std::atomic<std::int32_t> g_liveParsers{0};
std::atomic<std::int32_t> g_seekCalls{0};

}  // namespace

CStandInParser::CStandInParser()
{
    ++g_liveParsers;
}

CStandInParser::~CStandInParser()
{
    --g_liveParsers;
}

std::uint32_t CStandInParser::GetInterfaceVersion() noexcept
{
    return VSK_PARSER_INTERFACE_VERSION;
}

std::int32_t CStandInParser::FindTimeSeekPosition(const wchar_t* path, std::uint32_t durationMs,
                                                  std::uint32_t timeMs, bool flag, std::uint32_t* foundTimeMs,
                                                  std::int64_t* bytePosition) noexcept
{
    return StandInSeek(path, durationMs, timeMs, flag, foundTimeMs, bytePosition);
}

std::int32_t CStandInParser::ReleaseParser() noexcept
{
    // The object owns itself from creation to this call.
    std::unique_ptr<CStandInParser> self(this);
    return VSK_PARSER_RESULT_OK;
}

std::int32_t CStandInParser::ProbeStream(const wchar_t*, SVskStreamProbe*) noexcept
{
    return VSK_PARSER_RESULT_FAIL;
}

std::int32_t CStandInParser::LiveCount() noexcept
{
    return g_liveParsers.load();
}

std::int32_t SeekCallCount() noexcept
{
    return g_seekCalls.load();
}

std::int32_t StandInSeek(const wchar_t* path, std::uint32_t durationMs, std::uint32_t timeMs, bool flag,
                         std::uint32_t* foundTimeMs, std::int64_t* bytePosition) noexcept
{
    try {
        ++g_seekCalls;
        std::string line = ToUtf8(path);
        line += '\t' + std::to_string(durationMs) + '\t' + std::to_string(timeMs) + '\t' + (flag ? "1" : "0") + '\n';
        AppendToFileNamedBy("VSK_STANDIN_LOG", line);

        const auto result = static_cast<std::int32_t>(static_cast<std::uint32_t>(
            NumberSetting("VSK_STANDIN_SEEK_RESULT", 0)));
        if (result < 0)
            return result;
        if (!foundTimeMs || !bytePosition)
            return VSK_PARSER_RESULT_POINTER;
        *foundTimeMs = static_cast<std::uint32_t>(NumberSetting("VSK_STANDIN_SEEK_FOUND_MS", timeMs));
        *bytePosition = static_cast<std::int64_t>(NumberSetting("VSK_STANDIN_SEEK_POSITION", 0));
        return result;
    } catch (...) {
        return VSK_PARSER_RESULT_FAIL;
    }
}

}  // namespace standin

extern "C" {

VSK_MPEGPARSER_API std::int32_t createVskMpegParser(IVskMpegParser** parser) noexcept
{
    try {
        if (!parser)
            return VSK_PARSER_RESULT_POINTER;
        const auto result = static_cast<std::int32_t>(static_cast<std::uint32_t>(
            standin::NumberSetting("VSK_STANDIN_CREATE_RESULT", 0)));
        if (standin::ReadSetting("VSK_STANDIN_CREATE_NULL").value_or("") == "1") {
            *parser = nullptr;
            return result;
        }
        if (result != VSK_PARSER_RESULT_OK)
            return result;
        *parser = std::make_unique<standin::CStandInParser>().release();
        return VSK_PARSER_RESULT_OK;
    } catch (const std::bad_alloc&) {
        return VSK_PARSER_RESULT_OUTOFMEMORY;
    } catch (...) {
        return VSK_PARSER_RESULT_FAIL;
    }
}

#if !defined(VSK_STANDIN_WITHOUT_TIME_SEEK)
VSK_MPEGPARSER_API std::int32_t GetTimeSeekPosition(const wchar_t* path, std::uint32_t durationMs,
                                                    std::uint32_t timeMs, bool flag, std::uint32_t* foundTimeMs,
                                                    std::int64_t* bytePosition) noexcept
{
    return standin::StandInSeek(path, durationMs, timeMs, flag, foundTimeMs, bytePosition);
}
#endif

// Test hooks.
VSK_MPEGPARSER_API std::int32_t StandInLiveParsers() noexcept
{
    return standin::CStandInParser::LiveCount();
}

VSK_MPEGPARSER_API std::int32_t StandInSeekCalls() noexcept
{
    return standin::SeekCallCount();
}

}  // extern "C"
