#include "RecordingCache.h"

#include "Utf8.h"

namespace mediahost::server {

namespace fs = std::filesystem;

SRecording CRecordingCache::Recording(const fs::path& path)
{
    std::error_code ec;
    const auto size = fs::file_size(path, ec);
    const auto time = fs::last_write_time(path, ec);
    const std::string key = Utf8FromPath(path);
    {
        std::lock_guard guard(m_lock);
        const auto found = m_entries.find(key);
        if (found != m_entries.end() && found->second.size == size && found->second.time == time)
            return found->second.recording;
    }
    SRecording recording = m_host.Describe(path);
    std::lock_guard guard(m_lock);
    if (m_entries.size() >= 1024)
        m_entries.clear();
    m_entries[key] = SEntry{size, time, recording};
    return recording;
}

}  // namespace mediahost::server
