// Which files of a served folder are recordings, and the plain MIME type of
// each kind: the type a recording is offered and served under when the
// component offers no DLNA profile for it (a program stream, a codec it does
// not know), so that it is still listed and played byte for byte.
//
// The extensions are those a recorder, a muxer or a disc tool writes for
// MPEG transport and program streams; case does not matter. Disc images
// (.iso) are left out: they are no stream a client can play from the first
// byte.
#pragma once

#include <filesystem>
#include <optional>
#include <string_view>

namespace mediahost::server {

// The plain MIME type of a recording's extension; nullopt for a file that
// is no recording.
std::optional<std::string_view> RecordingMimeType(const std::filesystem::path& path);

}  // namespace mediahost::server
