#include "MediaTypes.h"

#include "Utf8.h"

#include <algorithm>
#include <cctype>
#include <string>

namespace mediahost::server {
namespace {

struct SRecordingKind {
    std::string_view extension;  // with its dot, lower case
    std::string_view mimeType;
};

// Transport streams of 188-byte packets or 192-byte units, then program
// streams.
constexpr SRecordingKind RECORDING_KINDS[] = {
    {".ts", "video/mp2t"},   {".m2ts", "video/mp2t"}, {".mts", "video/mp2t"},  {".m2t", "video/mp2t"},
    {".tts", "video/mp2t"},  {".trp", "video/mp2t"},  {".zts", "video/mp2t"},  {".mpg", "video/mpeg"},
    {".mpeg", "video/mpeg"}, {".mpe", "video/mpeg"},  {".m2p", "video/mpeg"},  {".vob", "video/mpeg"},
};

}  // namespace

std::optional<std::string_view> RecordingMimeType(const std::filesystem::path& path)
{
    std::string extension = Utf8FromPath(path.extension());
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    for (const SRecordingKind& kind : RECORDING_KINDS) {
        if (kind.extension == extension)
            return kind.mimeType;
    }
    return std::nullopt;
}

}  // namespace mediahost::server
