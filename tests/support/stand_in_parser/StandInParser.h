// The stand-in's parser object: counts itself among the live objects so tests
// can see that whoever creates one also releases it.
#pragma once

#include "VskMpegParser.h"

#include <cstdint>

namespace standin {

class CStandInParser final : public IVskMpegParser
{
public:
    CStandInParser();
    ~CStandInParser();
    CStandInParser(const CStandInParser&) = delete;
    CStandInParser& operator=(const CStandInParser&) = delete;

    std::uint32_t GetInterfaceVersion() noexcept override;
    std::int32_t FindTimeSeekPosition(const wchar_t* path, std::uint32_t durationMs, std::uint32_t timeMs,
                                      bool flag, std::uint32_t* foundTimeMs,
                                      std::int64_t* bytePosition) noexcept override;
    std::int32_t ReleaseParser() noexcept override;
    // The stand-in probes nothing.
    std::int32_t ProbeStream(const wchar_t* path, SVskStreamProbe* probe) noexcept override;

    static std::int32_t LiveCount() noexcept;
};

// The seek answer as the environment chooses it; shared by the export and
// the object's own operation.
std::int32_t StandInSeek(const wchar_t* path, std::uint32_t durationMs, std::uint32_t timeMs, bool flag,
                         std::uint32_t* foundTimeMs, std::int64_t* bytePosition) noexcept;

std::int32_t SeekCallCount() noexcept;

}  // namespace standin
