// Path services: the host executable, existence tests, directory creation,
// move, delete, read-only attribute, the desktop and cache folders and path
// splitting.
// Paths are wide text; on POSIX they are handed to the system in UTF-8.
#pragma once

#include <string>

namespace platform {

#ifdef _WIN32
inline constexpr wchar_t PATH_SEPARATOR = L'\\';
#else
inline constexpr wchar_t PATH_SEPARATOR = L'/';
#endif

// Full path of the running executable (GetModuleFileNameW(null) or
// /proc/self/exe); empty on failure.
std::wstring ExecutablePath();

bool PathExists(const wchar_t* path);
bool IsDirectory(const wchar_t* path);
// Creates path and every missing parent (SHCreateDirectoryExW). True when the
// directory exists afterwards.
bool CreateDirectories(const wchar_t* path);
// Moves or renames a file, replacing an existing target.
bool MovePath(const wchar_t* from, const wchar_t* to);
// Deletes a file (not a directory).
bool DeletePath(const wchar_t* path);
// Clears the read-only attribute (POSIX: adds owner write permission).
bool ClearReadOnly(const wchar_t* path);
// Sets it (POSIX: removes every write permission).
bool SetReadOnly(const wchar_t* path);
// The user's desktop folder, created if missing, without a trailing
// separator (Windows: CSIDL_DESKTOP; Linux: $HOME/Desktop, since there is no
// registered desktop folder to ask for). Empty on failure.
std::wstring DesktopFolder();
// The user's folder for data a program keeps for itself and can rebuild
// (caches), created if missing, without a trailing separator. Windows: the
// local application data folder (CSIDL_LOCAL_APPDATA, never roamed); Linux:
// $XDG_CACHE_HOME when it is an absolute path, else $HOME/.cache, as the XDG
// base directory rules say. Empty on failure.
std::wstring UserCacheFolder();

// The four parts of a path as _wsplitpath_s gives them: drive ("C:" or empty;
// always empty on POSIX), directory with its trailing separator, file name
// without extension, extension with its dot. Windows accepts both '\\' and
// '/' as separators; POSIX only '/'.
struct SPathParts {
    std::wstring drive;
    std::wstring directory;
    std::wstring name;
    std::wstring extension;
};
SPathParts SplitPath(const wchar_t* path);

// A path as a configuration file written for Windows gives it, in this
// system's form: on POSIX each '\\' is a separator and becomes '/' (a
// backslash in a POSIX file name is not worth keeping for such files);
// Windows takes it as it is.
std::wstring ConfiguredPath(std::wstring path);

// Appends more to base with one separator between, then resolves "." and ".."
// parts (PathAppendW / PathCanonicalizeW). ".." never climbs above the root.
std::wstring AppendPath(const std::wstring& base, const std::wstring& more);

}  // namespace platform
