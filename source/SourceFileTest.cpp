#include "source/SourceFileTest.h"

#include "frame/TextCompare.h"
#include "platform/file.h"
#include "platform/sync.h"

#include <algorithm>
#include <array>

namespace source {
namespace {

constexpr std::uint8_t SYNC_BYTE = 0x47;

// One probe at a time in the process opens and reads a file.
platform::CCriticalSection g_probeLock;

}  // namespace

bool IsTransportStreamFile(const std::wstring& path)
{
    static constexpr const wchar_t* EXTENSIONS[] = {L".mpg", L".m2ts", L".iso", L".zts", L".tts", L".m2t"};
    const bool listed = std::any_of(std::begin(EXTENSIONS), std::end(EXTENSIONS),
                                    [&](std::wstring_view ext) {
                                        // A name must stand before the extension.
                                        return path.size() > ext.size() && frame::EndsWithNoCase(path, ext);
                                    });
    if (!listed)
        return false;
    bool is192 = false;
    return ProbePacketSize(path, is192);
}

bool ScanPacketWindow(const std::uint8_t* window, std::size_t n, bool& is192)
{
    n = std::min(n, PROBE_WINDOW_SIZE);
    const auto at = [&](std::size_t i) -> std::uint8_t { return i < n ? window[i] : 0; };
    for (std::size_t i = 0; i < n; ++i) {
        if (at(i) == SYNC_BYTE) {
            if (at(i + 188) == SYNC_BYTE && at(i + 376) == SYNC_BYTE) {
                is192 = false;
                return true;
            }
        } else if (at(i + 4) == SYNC_BYTE) {
            if (at(i + 196) == SYNC_BYTE && at(i + 388) == SYNC_BYTE) {
                is192 = true;
                return true;
            }
        } else if (at(i) == 0x00 && at(i + 1) == 0x00 && at(i + 2) == 0x01 && at(i + 3) == 0xBA) {
            // A program stream's pack header ('01' marks MPEG-2, '0010' MPEG-1).
            if ((at(i + 4) >> 6) <= 1)
                return false;
        } else if (at(i) == 0x00 && at(i + 1) == 0x00 && at(i + 2) == 0x01 && at(i + 3) == 0xB6) {
            return false;
        }
    }
    return false;
}

bool ProbePacketSize(const std::wstring& path, bool& is192)
{
    // Zero-filled, so bytes a short file lacks read as 0.
    std::array<std::uint8_t, PROBE_WINDOW_SIZE> window{};
    std::size_t n = 0;
    {
        platform::CCriticalSectionGuard guard(g_probeLock);
        platform::CFile file;
        if (!file.Open(path.c_str(), platform::EFileMode::READ_SHARED))
            return false;
        const std::int64_t size = file.Size();
        if (size < 0)
            return false;
        // The whole 64-bit size counts: a recording of 4 GiB and a few hundred
        // bytes is probed on its first 512 bytes, not on the few hundred.
        n = static_cast<std::size_t>(std::min<std::int64_t>(size, PROBE_WINDOW_SIZE));
        if (file.Read(window.data(), n) != static_cast<std::int64_t>(n))
            return false;
    }
    return ScanPacketWindow(window.data(), n, is192);
}

}  // namespace source
