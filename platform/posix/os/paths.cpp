#include "platform/paths.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "utf8.h"

namespace platform {

namespace {

bool Narrow(const wchar_t* path, std::string& out)
{
    return path != nullptr && *path != L'\0' && detail::ToUtf8(path, out);
}

}  // namespace

std::wstring ExecutablePath()
{
    std::vector<char> buffer(4096);
    for (;;) {
        const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (n < 0) {
            return {};
        }
        if (static_cast<std::size_t>(n) < buffer.size()) {
            return detail::FromUtf8(std::string_view(buffer.data(), static_cast<std::size_t>(n)));
        }
        buffer.resize(buffer.size() * 2);
    }
}

bool PathExists(const wchar_t* path)
{
    std::string narrow;
    struct stat st {};
    return Narrow(path, narrow) && ::stat(narrow.c_str(), &st) == 0;
}

bool IsDirectory(const wchar_t* path)
{
    std::string narrow;
    struct stat st {};
    return Narrow(path, narrow) && ::stat(narrow.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool CreateDirectories(const wchar_t* path)
{
    std::string narrow;
    if (!Narrow(path, narrow)) {
        return false;
    }
    while (narrow.size() > 1 && narrow.back() == '/') {
        narrow.pop_back();
    }
    for (std::size_t i = 1; i <= narrow.size(); ++i) {
        if (i == narrow.size() || narrow[i] == '/') {
            const std::string part = narrow.substr(0, i);
            if (::mkdir(part.c_str(), 0777) != 0 && errno != EEXIST) {
                return false;
            }
        }
    }
    struct stat st {};
    return ::stat(narrow.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool MovePath(const wchar_t* from, const wchar_t* to)
{
    std::string a;
    std::string b;
    return Narrow(from, a) && Narrow(to, b) && std::rename(a.c_str(), b.c_str()) == 0;
}

bool DeletePath(const wchar_t* path)
{
    std::string narrow;
    return Narrow(path, narrow) && ::unlink(narrow.c_str()) == 0;
}

bool ClearReadOnly(const wchar_t* path)
{
    std::string narrow;
    struct stat st {};
    return Narrow(path, narrow) && ::stat(narrow.c_str(), &st) == 0 &&
           ::chmod(narrow.c_str(), (st.st_mode & 07777) | S_IWUSR) == 0;
}

bool SetReadOnly(const wchar_t* path)
{
    std::string narrow;
    struct stat st {};
    return Narrow(path, narrow) && ::stat(narrow.c_str(), &st) == 0 &&
           ::chmod(narrow.c_str(), (st.st_mode & 07777) & ~(S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

std::wstring DesktopFolder()
{
    const char* home = std::getenv("HOME");
    if (home == nullptr || *home != '/') {
        return {};
    }
    std::wstring desktop = AppendPath(detail::FromUtf8(home), L"Desktop");
    return CreateDirectories(desktop.c_str()) ? desktop : std::wstring();
}

std::wstring UserCacheFolder()
{
    std::wstring folder;
    const char* cache = std::getenv("XDG_CACHE_HOME");
    if (cache != nullptr && *cache == '/') {
        folder = AppendPath(detail::FromUtf8(cache), L"");
    } else {
        const char* home = std::getenv("HOME");
        if (home == nullptr || *home != '/') {
            return {};
        }
        folder = AppendPath(detail::FromUtf8(home), L".cache");
    }
    return CreateDirectories(folder.c_str()) ? folder : std::wstring();
}

SPathParts SplitPath(const wchar_t* path)
{
    SPathParts parts;
    if (path == nullptr) {
        return parts;
    }
    const std::wstring text(path);
    const std::size_t slash = text.rfind(L'/');
    const std::size_t nameStart = slash == std::wstring::npos ? 0 : slash + 1;
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
    for (wchar_t& c : path) {
        if (c == L'\\') {
            c = L'/';
        }
    }
    return path;
}

std::wstring AppendPath(const std::wstring& base, const std::wstring& more)
{
    std::wstring joined = base;
    if (!more.empty()) {
        if (more.front() == L'/') {
            joined = more;
        } else {
            if (!joined.empty() && joined.back() != L'/') {
                joined.push_back(L'/');
            }
            joined += more;
        }
    }
    const bool absolute = !joined.empty() && joined.front() == L'/';
    std::vector<std::wstring> parts;
    std::size_t start = 0;
    while (start <= joined.size()) {
        std::size_t end = joined.find(L'/', start);
        if (end == std::wstring::npos) {
            end = joined.size();
        }
        const std::wstring part = joined.substr(start, end - start);
        if (part == L"..") {
            if (!parts.empty() && parts.back() != L"..") {
                parts.pop_back();
            } else if (!absolute) {
                parts.push_back(part);
            }
        } else if (!part.empty() && part != L".") {
            parts.push_back(part);
        }
        start = end + 1;
    }
    std::wstring out = absolute ? L"/" : L"";
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i > 0) {
            out.push_back(L'/');
        }
        out += parts[i];
    }
    if (out.empty()) {
        out = L".";
    }
    return out;
}

}  // namespace platform
