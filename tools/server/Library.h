// The library index: the served folder's tree of sub-folders and
// recordings, each recording described once (the probe's facts and what the
// component offers for it), kept in a cache file across restarts, and kept
// up to date while the server runs.
//
// Choices made here:
// - Object ids. The served folder is "0"; every other folder and recording
//   is the FNV-1a 64-bit hash of its path below the folder (UTF-8, segments
//   joined by '/'), in 16 lower-case hex digits. So an id stays the same for
//   the same path across restarts and machines, is short enough for every
//   client, and carries no name a client could use to reach outside the
//   folder: ids are only looked up in the index, never turned into paths.
// - Order: sub-folders first, then recordings, each by name with ASCII
//   letters compared without case (bytes break ties), as a person lists them.
// - What is listed: entries the folder rules allow (the predicate the server
//   gives), sub-folders, and files that are recordings by extension. A
//   folder whose real path is one of its own ancestors (a link back up the
//   tree) is not entered again, and the tree ends 32 levels down.
// - Describing. A first scan lists the tree at once (names and sizes only)
//   and describes the recordings on worker threads in the background. A
//   browse never waits for the whole scan: it describes the recordings of
//   the page it answers that are still waiting itself, up to a limit per
//   browse (32), and a page ends before the first recording still waiting
//   past that limit, so every object returned is complete and the client
//   asks for the rest (NumberReturned below the count asked for). Once the
//   scan is done, a page is whatever was asked for.
// - Changes. Every browse lists its container again (and a metadata browse
//   the object's container), so a new, changed (size or modification time)
//   or removed recording shows there at once; a background pass lists the
//   whole tree every few seconds for the rest. A container whose listing
//   changed takes the next SystemUpdateID as its update id, and the change
//   listener hears of it.
// - The cache file is keyed by path below the folder, size and modification
//   time, and carries a context text (the component's and parser's files,
//   the profile mode: whatever the facts depend on besides the recording);
//   a file of another version or context, or one that fails its checksum or
//   its bounds, is read as empty. It is written to a temporary file beside
//   it and renamed over it, so a reader never sees half a file. The
//   SystemUpdateID is kept in it too, so a restart never goes back to an id
//   a client has seen; a restart that finds the folder changed takes a new
//   one.
// - The mapped facts are not stored: they are the probe's facts through one
//   table (StreamFacts.h), so they are made again from the stored probe and
//   cannot disagree with it.
#pragma once

#include "ComponentHost.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

namespace mediahost::server {

// One profile the component offers for a recording, as text, and the media
// properties it gives for it.
struct SOffer {
    std::string profileName;
    std::string alternativeName;
    std::string mimeType;
    bool flag1 = false;
    bool timeSeek = false;  // target flag 2
    bool flag3 = false;
    std::vector<SProperty> properties;

    const std::string& DlnaName() const { return profileName.empty() ? alternativeName : profileName; }
};

// A recording described: the probe's answer and facts, and the offers.
struct SDescription {
    SRecording recording;
    std::vector<SOffer> offers;
};

// Through the component: its probe, GetSourceProfiles and, per profile,
// GetMediaProperties. Needs COM on the calling thread.
SDescription DescribeWithComponent(const CComponentHost& host, const std::filesystem::path& path);

struct SLibraryOptions {
    std::filesystem::path folder;     // the served folder
    std::filesystem::path cacheFile;  // empty: nothing kept across restarts
    std::string cacheContext;         // a cache written under another one is discarded
    // The folder rules: whether an entry (a full path below the folder) may be
    // listed and served.
    std::function<bool(const std::filesystem::path&)> served;
    std::function<SDescription(const std::filesystem::path&)> describe;
    // Made on each worker thread before it describes anything and kept until
    // it ends (COM on the thread, for the component).
    std::function<std::shared_ptr<void>()> threadScope;
    unsigned workers = 2;
    unsigned pageDescribeLimit = 32;
    // Told once, from a library thread, when the first scan has described
    // every recording it listed (how many).
    std::function<void(std::size_t recordings)> scanned;
    // How often the whole tree is listed again; zero: only by Rescan.
    std::chrono::milliseconds rescanInterval{5000};
};

// An object of the directory, as a browse reads it.
struct SObject {
    std::string id;
    std::string parentId;   // "-1" for the root
    std::string relative;   // path below the folder, UTF-8, '/'-joined; empty for the root
    std::string title;      // valid UTF-8
    bool container = false;
    std::uint32_t childCount = 0;  // containers
    std::uint32_t updateId = 0;    // containers
    std::uint64_t size = 0;        // recordings
    std::int64_t modified = 0;     // recordings: seconds since 1970 (UTC)
    std::shared_ptr<const SDescription> description;  // recordings
};

struct SChildren {
    std::vector<SObject> objects;
    std::uint32_t totalMatches = 0;
    std::uint32_t updateId = 0;
};

// The container ids whose content changed and their new update ids, with the
// SystemUpdateID after the change.
using SContainerUpdates = std::vector<std::pair<std::string, std::uint32_t>>;
using FLibraryChanged = std::function<void(std::uint32_t systemUpdateId, const SContainerUpdates& containers)>;

// The id of the object at a path below the folder ("" is the root).
std::string ObjectId(std::string_view relative);

class CLibrary {
public:
    explicit CLibrary(SLibraryOptions options);
    // Stops the threads and writes the cache file.
    ~CLibrary();
    CLibrary(const CLibrary&) = delete;
    CLibrary& operator=(const CLibrary&) = delete;

    // Set before Start; called on the thread that saw the change, with no
    // lock of the library held.
    void SetChangeListener(FLibraryChanged listener);
    // Reads the cache file, lists the tree and starts describing.
    void Start();

    // Each is safe from any thread.
    std::optional<SObject> Object(std::string_view id);
    std::optional<SChildren> Children(std::string_view id, std::uint32_t start, std::uint32_t count);
    std::uint32_t SystemUpdateId() const;
    // The facts of a recording of the folder (full path), for serving it:
    // those the index holds while its size and time are unchanged, else
    // described now.
    SRecording Recording(const std::filesystem::path& path);

    // Lists the whole tree again now.
    void Rescan();
    // Returns once every recording listed is described.
    void WaitUntilDescribed();
    // Writes the cache file now; false when it cannot be written.
    bool SaveCache();

private:
    struct SFile;
    struct SFolder;
    struct SPending;

    void Worker();
    void Watcher();
    void LoadCache();
    // Lists a folder and applies what changed; records the updates to tell.
    void List(const std::string& relative, SContainerUpdates& updates, std::unique_lock<std::mutex>& lock);
    void ListTree(SContainerUpdates& updates, std::unique_lock<std::mutex>& lock);
    void RemoveFolder(const std::string& relative);
    void Tell(const SContainerUpdates& updates);
    bool AllDescribed() const;
    // Describes the file unless it is described or being described, waiting
    // for another thread's description; false when the file went meanwhile.
    bool Describe(const std::string& relative, std::unique_lock<std::mutex>& lock);
    SObject View(const SFolder& folder) const;
    SObject View(const SFile& file) const;
    std::string NewId(const std::string& relative);

    SLibraryOptions m_options;
    FLibraryChanged m_listener;

    mutable std::mutex m_lock;
    std::condition_variable m_changed;  // a description finished, work was queued, or stopping
    std::map<std::string, std::unique_ptr<SFolder>> m_folders;  // by relative path
    std::map<std::string, std::unique_ptr<SFile>> m_files;      // by relative path
    std::unordered_map<std::string, std::string> m_ids;         // id -> relative path
    std::vector<std::string> m_queue;                           // recordings to describe, in order
    std::size_t m_queueHead = 0;
    std::unordered_map<std::string, std::unique_ptr<SPending>> m_cached;  // read from the cache file, not yet matched
    std::map<std::string, std::shared_ptr<const SDescription>> m_loose;   // Recording() of files the index has not
    std::uint32_t m_systemUpdateId = 0;
    std::uint64_t m_serial = 0;     // new for every change of a file, so a description of an older state is dropped
    std::size_t m_queued = 0;       // recordings ever queued for describing
    unsigned m_describing = 0;      // descriptions under way
    bool m_cacheLoaded = false;
    bool m_treeListed = false;      // the first listing of the whole tree is done
    bool m_scannedTold = false;
    bool m_dirty = false;
    bool m_stopping = false;
    bool m_started = false;
    std::vector<std::thread> m_threads;
    std::mutex m_saveLock;  // one writer of the cache file at a time
};

class CFolderRules;

// What the pieces that serve recordings read: the component, which entries
// of the folder are offered, and the recordings' facts.
struct SLibrary {
    const CComponentHost& host;
    const CFolderRules& rules;
    CLibrary& cache;
};

}  // namespace mediahost::server
