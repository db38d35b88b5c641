// Which entries of the served folder are offered to the network: one set of
// rules for the listing, the media resource and the directory.
//
// An entry (a file or a sub-folder) is served when
// - every name from the folder down to it is a servable name
//   (http::IsServableName: UTF-8, no leading dot, nothing Windows would
//   read as a device or strip) and none of those entries is hidden by the
//   system (Windows' hidden and system attributes);
// - its final path, taken from the opened file with every link, junction
//   and mount point followed (platform::FinalPath), lies inside the folder's
//   own final path, and the names on that path below the folder pass the
//   same name rule: a link inside the folder to a hidden sub-folder is no
//   way into it.
// A recording is, besides, a regular file with a recording's extension
// (server::RecordingMimeType). The walk does not descend into folders
// reached through a link (a link may lead to its own parent), though such a
// folder's files are served when asked for by path and their final paths
// stay inside.
//
// What is checked is the path when it is asked for; a file replaced by a
// link between the check and its opening is not caught, as it would not be
// by any server that opens files by name.
#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace mediahost::server {

class CFolderRules {
public:
    // False, with the reason, when the folder is no folder or cannot be
    // opened.
    bool Open(const std::filesystem::path& folder, std::string& why);

    // The folder's final path; every path below is relative to it.
    const std::filesystem::path& Root() const { return m_root; }

    // Whether the entry (a path below Root()) is offered.
    bool IsServed(const std::filesystem::path& entry) const;
    // The same rule as a predicate, for whoever walks the folder.
    std::function<bool(const std::filesystem::path&)> Predicate() const;

    // The recording that segments (decoded names below the folder) name:
    // Root() joined with them, when it is served and a recording.
    std::optional<std::filesystem::path> Recording(const std::vector<std::string>& segments) const;
    // The names of an entry below Root(), in UTF-8 (for its URL).
    std::vector<std::string> Segments(const std::filesystem::path& entry) const;
    // Every recording served, in path order, at most `limit`.
    std::vector<std::filesystem::path> Recordings(std::size_t limit) const;

private:
    std::filesystem::path m_root;
};

}  // namespace mediahost::server
