// The probe and classification facts of each recording the server was
// asked for, kept for this process while the file's size and modification
// time stay the same, so a client's requests one after another (HEAD, then
// GET, then a seek) probe a file once.
#pragma once

#include "ComponentHost.h"

#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>

namespace mediahost::server {

class CFolderRules;
class CRecordingCache;

// What the pieces that serve recordings read: the component, which entries
// of the folder are offered, and the recordings' facts.
struct SLibrary {
    const CComponentHost& host;
    const CFolderRules& rules;
    CRecordingCache& cache;
};

class CRecordingCache {
public:
    explicit CRecordingCache(const CComponentHost& host) : m_host(host) {}

    // The recording's facts, probed anew when the file changed. Thread-safe.
    SRecording Recording(const std::filesystem::path& path);

private:
    struct SEntry {
        std::uintmax_t size = 0;
        std::filesystem::file_time_type time{};
        SRecording recording;
    };
    const CComponentHost& m_host;
    std::mutex m_lock;
    std::map<std::string, SEntry> m_entries;
};

}  // namespace mediahost::server
