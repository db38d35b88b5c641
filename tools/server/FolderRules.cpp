#include "FolderRules.h"

#include "HttpRules.h"
#include "MediaTypes.h"
#include "Utf8.h"
#include "platform/final_path.h"

#include <algorithm>

namespace mediahost::server {
namespace {

namespace fs = std::filesystem;

// A name in UTF-8; nullopt when it has none (a Windows name holding a lone
// surrogate).
std::optional<std::string> NameOf(const fs::path& name)
{
    try {
        return Utf8FromPath(name);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

// The part of path below root, when path lies lexically inside root.
std::optional<fs::path> Below(const fs::path& root, const fs::path& path)
{
    auto r = root.begin();
    auto p = path.begin();
    for (; r != root.end(); ++r, ++p) {
        // A root's trailing separator ("C:\", "/srv/") is an empty last part.
        if (r->empty() && std::next(r) == root.end())
            break;
        if (p == path.end() || *r != *p)
            return std::nullopt;
    }
    fs::path rest;
    for (; p != path.end(); ++p)
        rest /= *p;
    if (rest.empty())
        return std::nullopt;
    return rest;
}

bool ServableNames(const fs::path& relative)
{
    for (const fs::path& part : relative) {
        const std::optional<std::string> name = NameOf(part);
        if (!name || !http::IsServableName(*name))
            return false;
    }
    return true;
}

}  // namespace

bool CFolderRules::Open(const fs::path& folder, std::string& why)
{
    std::error_code ec;
    m_root = platform::FinalPath(folder);
    if (m_root.empty() || !fs::is_directory(m_root, ec)) {
        why = NameOf(folder).value_or("the folder") + " is not a folder that can be opened";
        m_root.clear();
        return false;
    }
    return true;
}

bool CFolderRules::IsServed(const fs::path& entry) const
{
    if (m_root.empty())
        return false;
    const std::optional<fs::path> relative = Below(m_root, entry.lexically_normal());
    if (!relative || !ServableNames(*relative))
        return false;
    fs::path walked = m_root;
    for (const fs::path& part : *relative) {
        walked /= part;
        if (platform::IsHiddenBySystem(walked))
            return false;
    }
    const fs::path resolved = platform::FinalPath(entry);
    if (resolved.empty())
        return false;
    const std::optional<fs::path> finalRelative = Below(m_root, resolved);
    return finalRelative && ServableNames(*finalRelative) && !platform::IsHiddenBySystem(resolved);
}

std::function<bool(const fs::path&)> CFolderRules::Predicate() const
{
    return [this](const fs::path& entry) { return IsServed(entry); };
}

std::optional<fs::path> CFolderRules::Recording(const std::vector<std::string>& segments) const
{
    if (segments.empty() || segments.size() > http::MAX_SEGMENTS)
        return std::nullopt;
    fs::path path = m_root;
    for (const std::string& segment : segments) {
        if (!http::IsServableName(segment))
            return std::nullopt;
        path /= PathFromUtf8(segment);
    }
    std::error_code ec;
    if (!RecordingMimeType(path) || !fs::is_regular_file(path, ec) || !IsServed(path))
        return std::nullopt;
    return path;
}

std::vector<std::string> CFolderRules::Segments(const fs::path& entry) const
{
    std::vector<std::string> segments;
    if (const std::optional<fs::path> relative = Below(m_root, entry)) {
        for (const fs::path& part : *relative)
            segments.push_back(NameOf(part).value_or(""));
    }
    return segments;
}

std::vector<fs::path> CFolderRules::Recordings(std::size_t limit) const
{
    std::vector<fs::path> found;
    std::error_code ec;
    fs::recursive_directory_iterator it(m_root, fs::directory_options::skip_permission_denied, ec);
    for (const fs::recursive_directory_iterator end; !ec && it != end && found.size() < limit; it.increment(ec)) {
        const fs::directory_entry& entry = *it;
        std::error_code status;
        if (entry.is_directory(status)) {
            // Depth as the URL form allows; no folder reached by a link.
            if (it.depth() + 2 > static_cast<int>(http::MAX_SEGMENTS) || entry.is_symlink(status) ||
                !IsServed(entry.path()))
                it.disable_recursion_pending();
            continue;
        }
        if (RecordingMimeType(entry.path()) && entry.is_regular_file(status) && IsServed(entry.path()))
            found.push_back(entry.path());
    }
    std::sort(found.begin(), found.end());
    return found;
}

}  // namespace mediahost::server
