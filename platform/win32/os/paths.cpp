#include "platform/paths.h"

#include <windows.h>
#include <shlobj.h>

#include <vector>

namespace platform {

namespace {

bool IsSeparator(wchar_t c)
{
    return c == L'\\' || c == L'/';
}

// Length of the part of path that ".." never removes: "C:\", "C:", "\\server\share\", "\".
std::size_t RootLength(const std::wstring& path)
{
    if (path.size() >= 2 && path[1] == L':') {
        return path.size() >= 3 && IsSeparator(path[2]) ? 3 : 2;
    }
    if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) {
        std::size_t pos = 2;
        for (int parts = 0; parts < 2 && pos < path.size(); ++parts) {
            while (pos < path.size() && !IsSeparator(path[pos])) {
                ++pos;
            }
            if (pos < path.size()) {
                ++pos;
            }
        }
        return pos;
    }
    return !path.empty() && IsSeparator(path[0]) ? 1 : 0;
}

}  // namespace

std::wstring ExecutablePath()
{
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD n = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) {
            return {};
        }
        if (n < buffer.size()) {
            return std::wstring(buffer.data(), n);
        }
        buffer.resize(buffer.size() * 2);
    }
}

bool PathExists(const wchar_t* path)
{
    return path != nullptr && *path != L'\0' && ::GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES;
}

bool IsDirectory(const wchar_t* path)
{
    if (path == nullptr || *path == L'\0') {
        return false;
    }
    const DWORD attributes = ::GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool CreateDirectories(const wchar_t* path)
{
    if (path == nullptr || *path == L'\0') {
        return false;
    }
    std::wstring directory(path);
    while (directory.size() > 3 && IsSeparator(directory.back())) {
        directory.pop_back();
    }
    for (wchar_t& c : directory) {
        if (c == L'/') {
            c = L'\\';  // SHCreateDirectoryExW wants backslashes
        }
    }
    ::SHCreateDirectoryExW(nullptr, directory.c_str(), nullptr);
    return IsDirectory(directory.c_str());
}

bool MovePath(const wchar_t* from, const wchar_t* to)
{
    return from != nullptr && to != nullptr && ::MoveFileExW(from, to, MOVEFILE_REPLACE_EXISTING) != FALSE;
}

bool DeletePath(const wchar_t* path)
{
    return path != nullptr && ::DeleteFileW(path) != FALSE;
}

bool ClearReadOnly(const wchar_t* path)
{
    if (path == nullptr) {
        return false;
    }
    const DWORD attributes = ::GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES &&
           ::SetFileAttributesW(path, attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY)) != FALSE;
}

bool SetReadOnly(const wchar_t* path)
{
    if (path == nullptr) {
        return false;
    }
    const DWORD attributes = ::GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES &&
           ::SetFileAttributesW(path, (attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL)) | FILE_ATTRIBUTE_READONLY) !=
               FALSE;
}

namespace {

// A folder the shell names, created if missing, without a trailing separator.
std::wstring SpecialFolder(int csidl)
{
    wchar_t buffer[MAX_PATH] = {};
    if (!::SHGetSpecialFolderPathW(nullptr, buffer, csidl, TRUE)) {
        return {};
    }
    std::wstring folder(buffer);
    while (folder.size() > 3 && IsSeparator(folder.back())) {
        folder.pop_back();
    }
    return folder;
}

}  // namespace

std::wstring DesktopFolder()
{
    return SpecialFolder(CSIDL_DESKTOP);
}

std::wstring UserCacheFolder()
{
    return SpecialFolder(CSIDL_LOCAL_APPDATA);
}

SPathParts SplitPath(const wchar_t* path)
{
    SPathParts parts;
    if (path == nullptr) {
        return parts;
    }
    std::wstring text(path);
    if (text.size() >= 2 && text[1] == L':') {
        parts.drive = text.substr(0, 2);
        text.erase(0, 2);
    }
    const std::size_t separator = text.find_last_of(L"\\/");
    const std::size_t nameStart = separator == std::wstring::npos ? 0 : separator + 1;
    parts.directory = text.substr(0, nameStart);
    const std::size_t dot = text.rfind(L'.');
    if (dot != std::wstring::npos && dot >= nameStart) {
        parts.name = text.substr(nameStart, dot - nameStart);
        parts.extension = text.substr(dot);
    } else {
        parts.name = text.substr(nameStart);
    }
    return parts;
}

std::wstring ConfiguredPath(std::wstring path)
{
    return path;
}

std::wstring AppendPath(const std::wstring& base, const std::wstring& more)
{
    std::wstring joined = base;
    if (!more.empty()) {
        if (RootLength(more) > 0) {
            joined = more;
        } else {
            if (!joined.empty() && !IsSeparator(joined.back())) {
                joined.push_back(L'\\');
            }
            joined += more;
        }
    }
    const std::size_t rootLength = RootLength(joined);
    std::wstring root = joined.substr(0, rootLength);
    for (wchar_t& c : root) {
        if (c == L'/') {
            c = L'\\';
        }
    }
    std::vector<std::wstring> parts;
    std::size_t start = rootLength;
    while (start <= joined.size()) {
        std::size_t end = joined.find_first_of(L"\\/", start);
        if (end == std::wstring::npos) {
            end = joined.size();
        }
        const std::wstring part = joined.substr(start, end - start);
        if (part == L"..") {
            if (!parts.empty() && parts.back() != L"..") {
                parts.pop_back();
            } else if (rootLength == 0) {
                parts.push_back(part);
            }
        } else if (!part.empty() && part != L".") {
            parts.push_back(part);
        }
        start = end + 1;
    }
    std::wstring out = root;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i > 0) {
            out.push_back(L'\\');
        }
        out += parts[i];
    }
    if (out.empty()) {
        out = L"\\";
    }
    return out;
}

}  // namespace platform
