// What a path finally names, for deciding whether a file that a folder's
// entry leads to still lies inside that folder.
//
// Windows resolves symbolic links, junctions and mount points only when a
// file is opened, and std::filesystem::canonical there follows none of
// them; so the path is opened and the system asked for the final path of
// that handle (GetFinalPathNameByHandleW). POSIX resolves every link in the
// name (realpath). Either way the answer is an absolute path in the form
// the system uses for that file everywhere ("C:\..." without the "\\?\"
// prefix, "\\server\share\..." for a share), so two answers compare by
// their text.
#pragma once

#include <filesystem>

namespace platform {

// The final path of the file or folder path names; empty when it cannot be
// opened. Paths are std::filesystem's, so a POSIX name in any bytes goes to
// the system as it is.
std::filesystem::path FinalPath(const std::filesystem::path& path);

// Whether the system itself marks the entry hidden: Windows' hidden or
// system attribute. POSIX has no such mark (a leading dot is a naming
// convention, for callers to check by name), so there it is always false.
bool IsHiddenBySystem(const std::filesystem::path& path);

}  // namespace platform
