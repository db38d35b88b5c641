#include "Library.h"

#include "MediaTypes.h"
#include "Utf8.h"
#include "platform/paths.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>

namespace mediahost::server {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr std::size_t MAX_DEPTH = 32;
constexpr std::size_t MAX_LOOSE = 1024;
// Dirty facts are written at most this often while recordings are still
// being described, and as soon as none is.
constexpr auto SAVE_INTERVAL = std::chrono::seconds(10);

constexpr char CACHE_MAGIC[8] = {'V', 'S', 'K', 'L', 'I', 'B', '\r', '\n'};
constexpr std::uint32_t CACHE_VERSION = 1;
constexpr std::uint32_t FLAG1_BIT = 1;
constexpr std::uint32_t TIME_SEEK_BIT = 2;
constexpr std::uint32_t FLAG3_BIT = 4;

std::uint64_t Fnv1a64(std::string_view bytes, std::uint64_t hash = 0xCBF29CE484222325ull)
{
    for (char c : bytes) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 0x100000001B3ull;
    }
    return hash;
}

std::string Hex64(std::uint64_t value)
{
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(value));
    return text;
}

// A file name's bytes as UTF-8: on Windows from its UTF-16 (lone surrogates
// become U+FFFD rather than throwing); elsewhere the bytes the file system
// holds, which may not be UTF-8 at all.
[[maybe_unused]] std::string NativeBytes(const std::wstring& native)
{
    return ToUtf8(native);
}

[[maybe_unused]] std::string NativeBytes(const std::string& native)
{
    return native;
}

std::string NameBytes(const fs::path& name)
{
    return NativeBytes(name.native());
}

std::string ValidUtf8(std::string_view bytes)
{
    return ToUtf8(FromUtf8(bytes));
}

std::string ParentOf(const std::string& relative)
{
    const std::size_t slash = relative.rfind('/');
    return slash == std::string::npos ? std::string() : relative.substr(0, slash);
}

std::string Join(const std::string& parent, const std::string& name)
{
    return parent.empty() ? name : parent + "/" + name;
}

// Folders first is decided by the caller; within a kind, names with ASCII
// letters folded, bytes breaking ties.
bool NameBefore(const std::string& a, const std::string& b)
{
    auto fold = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    const auto [ia, ib] = std::mismatch(a.begin(), a.end(), b.begin(), b.end(),
                                        [&](char x, char y) { return fold(x) == fold(y); });
    if (ia == a.end() || ib == b.end()) {
        if (a.size() != b.size())
            return a.size() < b.size();
        return a < b;
    }
    return static_cast<unsigned char>(fold(*ia)) < static_cast<unsigned char>(fold(*ib));
}

std::int64_t Ticks(fs::file_time_type time)
{
    return static_cast<std::int64_t>(time.time_since_epoch().count());
}

std::int64_t UnixSeconds(fs::file_time_type time)
{
    const auto system = std::chrono::file_clock::to_sys(time);
    return std::chrono::duration_cast<std::chrono::seconds>(system.time_since_epoch()).count();
}

// The cache file's fields, written and read in one layout.
class CWriter {
public:
    void U32(std::uint32_t v) { Raw(&v, sizeof v); }
    void U64(std::uint64_t v) { Raw(&v, sizeof v); }
    void I64(std::int64_t v) { Raw(&v, sizeof v); }
    void Text(std::string_view text)
    {
        U32(static_cast<std::uint32_t>(text.size()));
        m_bytes.append(text);
    }
    void Raw(const void* data, std::size_t size) { m_bytes.append(static_cast<const char*>(data), size); }
    std::string& Bytes() { return m_bytes; }

private:
    std::string m_bytes;
};

class CReader {
public:
    explicit CReader(std::string_view bytes) : m_bytes(bytes) {}
    bool U32(std::uint32_t& v) { return Raw(&v, sizeof v); }
    bool U64(std::uint64_t& v) { return Raw(&v, sizeof v); }
    bool I64(std::int64_t& v) { return Raw(&v, sizeof v); }
    bool Text(std::string& text)
    {
        std::uint32_t size = 0;
        if (!U32(size) || size > m_bytes.size() - m_at)
            return false;
        text.assign(m_bytes.substr(m_at, size));
        m_at += size;
        return true;
    }
    bool Raw(void* data, std::size_t size)
    {
        if (size > m_bytes.size() - m_at)
            return false;
        std::memcpy(data, m_bytes.data() + m_at, size);
        m_at += size;
        return true;
    }
    // A count of items each at least `least` bytes long that can still be there.
    bool Count(std::uint32_t& count, std::size_t least) { return U32(count) && count <= (m_bytes.size() - m_at) / least; }
    bool AtEnd() const { return m_at == m_bytes.size(); }

private:
    std::string_view m_bytes;
    std::size_t m_at = 0;
};

void WriteDescription(CWriter& out, const SDescription& description)
{
    out.U32(static_cast<std::uint32_t>(description.recording.probeResult));
    if (description.recording.probeResult == VSK_PARSER_RESULT_OK)
        out.Raw(&description.recording.probe, sizeof description.recording.probe);
    out.U32(static_cast<std::uint32_t>(description.offers.size()));
    for (const SOffer& offer : description.offers) {
        out.Text(offer.profileName);
        out.Text(offer.alternativeName);
        out.Text(offer.mimeType);
        out.U32((offer.flag1 ? FLAG1_BIT : 0) | (offer.timeSeek ? TIME_SEEK_BIT : 0) | (offer.flag3 ? FLAG3_BIT : 0));
        out.U32(static_cast<std::uint32_t>(offer.properties.size()));
        for (const auto& [name, value] : offer.properties) {
            out.Text(name);
            out.Text(value);
        }
    }
}

bool ReadDescription(CReader& in, const fs::path& path, SDescription& description)
{
    std::uint32_t result = 0;
    if (!in.U32(result))
        return false;
    description.recording.path = path;
    description.recording.probeResult = static_cast<std::int32_t>(result);
    if (description.recording.probeResult == VSK_PARSER_RESULT_OK) {
        SVskStreamProbe& probe = description.recording.probe;
        if (!in.Raw(&probe, sizeof probe) || probe.size != sizeof probe)
            return false;
        probe.streamCount = std::min(probe.streamCount, VSK_PROBE_MAX_STREAMS);
        description.recording.facts = MapProbe(probe);
    }
    std::uint32_t offers = 0;
    if (!in.Count(offers, 4 * 5))
        return false;
    for (std::uint32_t i = 0; i < offers; ++i) {
        SOffer offer;
        std::uint32_t flags = 0;
        std::uint32_t properties = 0;
        if (!in.Text(offer.profileName) || !in.Text(offer.alternativeName) || !in.Text(offer.mimeType) ||
            !in.U32(flags) || !in.Count(properties, 8))
            return false;
        offer.flag1 = (flags & FLAG1_BIT) != 0;
        offer.timeSeek = (flags & TIME_SEEK_BIT) != 0;
        offer.flag3 = (flags & FLAG3_BIT) != 0;
        for (std::uint32_t k = 0; k < properties; ++k) {
            SProperty property;
            if (!in.Text(property.first) || !in.Text(property.second))
                return false;
            offer.properties.push_back(std::move(property));
        }
        description.offers.push_back(std::move(offer));
    }
    return true;
}

// One entry of a folder as read from the disk.
struct SListed {
    std::string name;
    fs::path path;
    bool folder = false;
    fs::path real;  // folders
    std::uint64_t size = 0;
    std::int64_t ticks = 0;
    std::int64_t modified = 0;
};

}  // namespace

struct CLibrary::SFile {
    std::string relative;
    fs::path path;
    std::string title;
    std::string id;
    std::string parentId;
    std::uint64_t size = 0;
    std::int64_t ticks = 0;
    std::int64_t modified = 0;
    std::uint64_t serial = 0;  // new on every change, so a description of an older state is dropped
    bool describing = false;
    std::shared_ptr<const SDescription> description;
};

struct CLibrary::SFolder {
    std::string relative;
    fs::path path;
    fs::path real;
    std::string title;
    std::string id;
    std::string parentId;
    std::vector<std::string> folders;  // relative paths, in order
    std::vector<std::string> files;    // likewise
    bool listed = false;
    std::uint32_t updateId = 0;
};

struct CLibrary::SPending {
    std::uint64_t size = 0;
    std::int64_t ticks = 0;
    std::shared_ptr<const SDescription> description;
};

SDescription DescribeWithComponent(const CComponentHost& host, const fs::path& path)
{
    SDescription description;
    description.recording = host.Describe(path);
    std::vector<STarget> targets;
    if (FAILED(host.SourceProfiles(description.recording, targets)))
        return description;
    for (const STarget& target : targets) {
        SOffer offer{target.profileName, target.alternativeName, target.mimeType, target.flag1, target.flag2,
                     target.flag3, {}};
        host.MediaProperties(description.recording, target, offer.properties);
        description.offers.push_back(std::move(offer));
    }
    return description;
}

std::string ObjectId(std::string_view relative)
{
    return relative.empty() ? std::string("0") : Hex64(Fnv1a64(relative));
}

CLibrary::CLibrary(SLibraryOptions options) : m_options(std::move(options))
{
    std::error_code ec;
    const fs::path canonical = fs::weakly_canonical(m_options.folder, ec);
    if (!ec)
        m_options.folder = canonical;
    if (!m_options.served)
        m_options.served = [](const fs::path&) { return true; };
    auto root = std::make_unique<SFolder>();
    root->path = m_options.folder;
    root->real = m_options.folder;
    root->title = ValidUtf8(NameBytes(m_options.folder.filename()));
    root->id = "0";
    root->parentId = "-1";
    m_ids["0"] = "";
    m_folders[""] = std::move(root);
}

CLibrary::~CLibrary()
{
    {
        std::lock_guard guard(m_lock);
        m_stopping = true;
    }
    m_changed.notify_all();
    for (std::thread& thread : m_threads)
        thread.join();
    if (m_started)
        SaveCache();
}

void CLibrary::SetChangeListener(FLibraryChanged listener)
{
    m_listener = std::move(listener);
}

void CLibrary::Start()
{
    {
        std::lock_guard guard(m_lock);
        if (m_started)
            return;
        m_started = true;
        LoadCache();
        m_folders[""]->updateId = m_systemUpdateId;
    }
    m_threads.emplace_back([this] { Watcher(); });
    for (unsigned i = 0; i < std::max(1u, m_options.workers); ++i)
        m_threads.emplace_back([this] { Worker(); });
}

void CLibrary::LoadCache()
{
    if (m_options.cacheFile.empty())
        return;
    std::ifstream file(m_options.cacheFile, std::ios::binary);
    if (!file)
        return;
    const std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    constexpr std::size_t SUM = sizeof(std::uint64_t);
    if (bytes.size() < sizeof CACHE_MAGIC + SUM || std::memcmp(bytes.data(), CACHE_MAGIC, sizeof CACHE_MAGIC) != 0)
        return;
    std::uint64_t sum = 0;
    std::memcpy(&sum, bytes.data() + bytes.size() - SUM, SUM);
    const std::string_view body(bytes.data(), bytes.size() - SUM);
    if (Fnv1a64(body) != sum)
        return;
    CReader in(body.substr(sizeof CACHE_MAGIC));
    std::uint32_t version = 0;
    std::string context;
    std::uint32_t systemUpdateId = 0;
    std::uint32_t count = 0;
    if (!in.U32(version) || version != CACHE_VERSION || !in.Text(context) || context != m_options.cacheContext ||
        !in.U32(systemUpdateId) || !in.Count(count, 4 + 8 + 8 + 4 + 4))
        return;
    std::unordered_map<std::string, std::unique_ptr<SPending>> entries;
    for (std::uint32_t i = 0; i < count; ++i) {
        std::string relative;
        auto pending = std::make_unique<SPending>();
        auto description = std::make_shared<SDescription>();
        if (!in.Text(relative) || !in.U64(pending->size) || !in.I64(pending->ticks))
            return;
        fs::path path = m_options.folder;
        for (std::size_t at = 0; at <= relative.size();) {
            const std::size_t slash = std::min(relative.find('/', at), relative.size());
            path /= PathFromUtf8(relative.substr(at, slash - at));
            at = slash + 1;
        }
        if (!ReadDescription(in, path, *description))
            return;
        pending->description = std::move(description);
        entries[relative] = std::move(pending);
    }
    if (!in.AtEnd())
        return;
    m_cached = std::move(entries);
    m_systemUpdateId = systemUpdateId;
    m_cacheLoaded = true;
}

bool CLibrary::SaveCache()
{
    if (m_options.cacheFile.empty())
        return false;
    CWriter out;
    out.Raw(CACHE_MAGIC, sizeof CACHE_MAGIC);
    out.U32(CACHE_VERSION);
    out.Text(m_options.cacheContext);
    {
        std::lock_guard guard(m_lock);
        out.U32(m_systemUpdateId);
        std::uint32_t count = 0;
        for (const auto& [relative, file] : m_files)
            count += file->description ? 1 : 0;
        out.U32(count);
        for (const auto& [relative, file] : m_files) {
            if (!file->description)
                continue;
            out.Text(relative);
            out.U64(file->size);
            out.I64(file->ticks);
            WriteDescription(out, *file->description);
        }
        m_dirty = false;
    }
    out.U64(Fnv1a64(out.Bytes()));

    std::lock_guard guard(m_saveLock);
    std::error_code ec;
    fs::create_directories(m_options.cacheFile.parent_path(), ec);
    fs::path temporary = m_options.cacheFile;
    temporary += ".new";
    {
        std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
        file.write(out.Bytes().data(), static_cast<std::streamsize>(out.Bytes().size()));
        file.close();
        if (!file) {
            fs::remove(temporary, ec);
            std::lock_guard relock(m_lock);
            m_dirty = true;
            return false;
        }
    }
    if (!platform::MovePath(WideFromPath(temporary).c_str(), WideFromPath(m_options.cacheFile).c_str())) {
        fs::remove(temporary, ec);
        std::lock_guard relock(m_lock);
        m_dirty = true;
        return false;
    }
    return true;
}

std::string CLibrary::NewId(const std::string& relative)
{
    std::string id = ObjectId(relative);
    for (std::uint64_t salt = 1;; ++salt) {
        const auto found = m_ids.find(id);
        if (found == m_ids.end() || found->second == relative)
            break;
        // Two paths of one hash: the later one takes another, reproducibly
        // for the same pair.
        id = Hex64(Fnv1a64(relative, Fnv1a64(std::to_string(salt))));
    }
    m_ids[id] = relative;
    return id;
}

void CLibrary::List(const std::string& relative, SContainerUpdates& updates, std::unique_lock<std::mutex>& lock)
{
    auto found = m_folders.find(relative);
    if (found == m_folders.end())
        return;
    const fs::path folderPath = found->second->path;

    // The disk is read without the lock, so browses of other containers and
    // the workers go on meanwhile.
    lock.unlock();
    std::vector<SListed> listed;
    std::error_code ec;
    for (fs::directory_iterator it(folderPath, ec), end; !ec && it != end; it.increment(ec)) {
        SListed entry;
        entry.path = it->path();
        entry.name = NameBytes(entry.path.filename());
        if (!m_options.served(entry.path))
            continue;
        std::error_code entryError;
        const fs::file_status status = fs::status(entry.path, entryError);
        if (entryError)
            continue;
        if (fs::is_directory(status)) {
            entry.folder = true;
            entry.real = fs::canonical(entry.path, entryError);
            if (entryError)
                continue;
        } else if (fs::is_regular_file(status) && RecordingMimeType(entry.path)) {
            entry.size = fs::file_size(entry.path, entryError);
            const fs::file_time_type time = fs::last_write_time(entry.path, entryError);
            if (entryError)
                continue;
            entry.ticks = Ticks(time);
            entry.modified = UnixSeconds(time);
        } else {
            continue;
        }
        listed.push_back(std::move(entry));
    }
    const bool readable = !ec;
    // In the order a client sees them, so the workers describe the first
    // pages first.
    std::sort(listed.begin(), listed.end(), [](const SListed& a, const SListed& b) { return NameBefore(a.name, b.name); });
    lock.lock();

    found = m_folders.find(relative);
    if (found == m_folders.end() || (!readable && !found->second->listed))
        return;
    SFolder& folder = *found->second;
    bool changed = false;

    std::vector<std::string> folders;
    std::vector<std::string> files;
    for (SListed& entry : listed) {
        const std::string child = Join(relative, entry.name);
        if (entry.folder) {
            // A link back up the tree would list the same folders forever.
            bool loop = std::count(child.begin(), child.end(), '/') >= static_cast<std::ptrdiff_t>(MAX_DEPTH);
            for (std::string up = relative; !loop; up = ParentOf(up)) {
                const auto ancestor = m_folders.find(up);
                loop = ancestor != m_folders.end() && ancestor->second->real == entry.real;
                if (up.empty())
                    break;
            }
            if (loop)
                continue;
            if (m_folders.count(child) == 0) {
                auto created = std::make_unique<SFolder>();
                created->relative = child;
                created->path = entry.path;
                created->real = entry.real;
                created->title = ValidUtf8(entry.name);
                created->id = NewId(child);
                created->parentId = folder.id;
                created->updateId = m_systemUpdateId;
                m_folders[child] = std::move(created);
                changed = true;
            }
            folders.push_back(child);
            continue;
        }
        auto existing = m_files.find(child);
        if (existing == m_files.end()) {
            auto created = std::make_unique<SFile>();
            created->relative = child;
            created->path = entry.path;
            created->title = ValidUtf8(entry.path.stem().empty() ? entry.name : NameBytes(entry.path.stem()));
            created->id = NewId(child);
            created->parentId = folder.id;
            existing = m_files.emplace(child, std::move(created)).first;
            changed = true;
        } else if (existing->second->size == entry.size && existing->second->ticks == entry.ticks) {
            files.push_back(child);
            continue;
        } else {
            changed = true;
        }
        SFile& file = *existing->second;
        file.size = entry.size;
        file.ticks = entry.ticks;
        file.modified = entry.modified;
        file.serial = ++m_serial;
        file.describing = false;
        file.description.reset();
        const auto cached = m_cached.find(child);
        if (cached != m_cached.end()) {
            if (cached->second->size == entry.size && cached->second->ticks == entry.ticks)
                file.description = cached->second->description;
            m_cached.erase(cached);
        }
        if (!file.description) {
            m_queue.push_back(child);
            ++m_queued;
            m_changed.notify_all();
        }
        files.push_back(child);
    }
    std::sort(folders.begin(), folders.end(), NameBefore);
    std::sort(files.begin(), files.end(), NameBefore);

    // What went.
    for (const std::string& old : folder.folders) {
        if (!std::binary_search(folders.begin(), folders.end(), old, NameBefore)) {
            RemoveFolder(old);
            changed = true;
        }
    }
    for (const std::string& old : folder.files) {
        if (!std::binary_search(files.begin(), files.end(), old, NameBefore)) {
            const auto gone = m_files.find(old);
            if (gone != m_files.end()) {
                m_ids.erase(gone->second->id);
                m_files.erase(gone);
            }
            changed = true;
        }
    }
    folder.folders = std::move(folders);
    folder.files = std::move(files);
    const bool first = !folder.listed;
    folder.listed = true;
    if (changed && !first) {
        folder.updateId = ++m_systemUpdateId;
        updates.emplace_back(folder.id, folder.updateId);
        m_dirty = true;
    } else if (changed) {
        m_dirty = true;
    }
}

void CLibrary::RemoveFolder(const std::string& relative)
{
    const auto found = m_folders.find(relative);
    if (found == m_folders.end())
        return;
    const std::unique_ptr<SFolder> folder = std::move(found->second);
    m_folders.erase(found);
    m_ids.erase(folder->id);
    for (const std::string& child : folder->folders)
        RemoveFolder(child);
    for (const std::string& file : folder->files) {
        const auto gone = m_files.find(file);
        if (gone != m_files.end()) {
            m_ids.erase(gone->second->id);
            m_files.erase(gone);
        }
    }
}

void CLibrary::ListTree(SContainerUpdates& updates, std::unique_lock<std::mutex>& lock)
{
    std::vector<std::string> queue{""};
    for (std::size_t i = 0; i < queue.size(); ++i) {
        List(queue[i], updates, lock);
        const auto found = m_folders.find(queue[i]);
        if (found != m_folders.end())
            queue.insert(queue.end(), found->second->folders.begin(), found->second->folders.end());
    }
}

void CLibrary::Tell(const SContainerUpdates& updates)
{
    if (!updates.empty() && m_listener)
        m_listener(SystemUpdateId(), updates);
}

void CLibrary::Rescan()
{
    SContainerUpdates updates;
    {
        std::unique_lock lock(m_lock);
        ListTree(updates, lock);
    }
    Tell(updates);
}

void CLibrary::Watcher()
{
    SContainerUpdates updates;
    {
        std::unique_lock lock(m_lock);
        ListTree(updates, lock);
        // Recordings that went, or came or changed, while the server was
        // not running: the folder is not what a client saw last.
        const bool changedMeanwhile =
            m_cacheLoaded && (!m_cached.empty() || m_queued > 0);
        m_cached.clear();
        if (changedMeanwhile) {
            ++m_systemUpdateId;
            for (auto& [relative, folder] : m_folders)
                folder->updateId = m_systemUpdateId;
            updates.emplace_back("0", m_systemUpdateId);
        }
        m_treeListed = true;
    }
    m_changed.notify_all();
    Tell(updates);

    auto lastRescan = Clock::now();
    auto lastSave = Clock::now();
    for (;;) {
        bool save = false;
        {
            std::unique_lock lock(m_lock);
            m_changed.wait_for(lock, std::chrono::seconds(1), [&] { return m_stopping || (!m_scannedTold && AllDescribed()); });
            if (m_stopping)
                return;
            if (!m_scannedTold && AllDescribed()) {
                m_scannedTold = true;
                const std::size_t count = m_files.size();
                lock.unlock();
                if (m_options.scanned)
                    m_options.scanned(count);
                lock.lock();
            }
            updates.clear();
            if (m_options.rescanInterval.count() > 0 && Clock::now() - lastRescan >= m_options.rescanInterval) {
                ListTree(updates, lock);
                lastRescan = Clock::now();
            }
            const bool idle = m_queueHead == m_queue.size() && m_describing == 0;
            save = m_dirty && !m_options.cacheFile.empty() && (idle || Clock::now() - lastSave >= SAVE_INTERVAL);
        }
        Tell(updates);
        if (save) {
            SaveCache();
            lastSave = Clock::now();
        }
    }
}

void CLibrary::Worker()
{
    const std::shared_ptr<void> scope = m_options.threadScope ? m_options.threadScope() : nullptr;
    std::unique_lock lock(m_lock);
    for (;;) {
        m_changed.wait(lock, [&] { return m_stopping || m_queueHead < m_queue.size(); });
        if (m_stopping)
            return;
        const std::string relative = m_queue[m_queueHead++];
        if (m_queueHead == m_queue.size()) {
            m_queue.clear();
            m_queueHead = 0;
        }
        Describe(relative, lock);
        // Also when there was nothing left to do: the queue's end is news
        // for WaitUntilDescribed.
        m_changed.notify_all();
    }
}

bool CLibrary::Describe(const std::string& relative, std::unique_lock<std::mutex>& lock)
{
    for (;;) {
        const auto found = m_files.find(relative);
        if (found == m_files.end())
            return false;
        if (found->second->description)
            return true;
        if (!found->second->describing)
            break;
        m_changed.wait(lock);
        if (m_stopping)
            return false;
    }
    SFile& file = *m_files.find(relative)->second;
    file.describing = true;
    const std::uint64_t serial = file.serial;
    const fs::path path = file.path;
    ++m_describing;
    lock.unlock();
    auto description = std::make_shared<SDescription>();
    try {
        *description = m_options.describe(path);
    } catch (...) {
        // A description that cannot be made leaves the recording listed as
        // a plain file, as one the component offers nothing for.
        *description = SDescription{};
    }
    description->recording.path = path;
    lock.lock();
    --m_describing;
    const auto found = m_files.find(relative);
    const bool current = found != m_files.end() && found->second->serial == serial;
    if (current) {
        found->second->description = std::move(description);
        found->second->describing = false;
        m_dirty = true;
    }
    m_changed.notify_all();
    return current || (found != m_files.end() && Describe(relative, lock));
}

bool CLibrary::AllDescribed() const
{
    if (!m_treeListed || m_queueHead < m_queue.size() || m_describing != 0)
        return false;
    return std::all_of(m_files.begin(), m_files.end(), [](const auto& file) { return file.second->description != nullptr; });
}

void CLibrary::WaitUntilDescribed()
{
    std::unique_lock lock(m_lock);
    m_changed.wait(lock, [&] { return m_stopping || AllDescribed(); });
}

SObject CLibrary::View(const SFolder& folder) const
{
    SObject object;
    object.id = folder.id;
    object.parentId = folder.parentId;
    object.relative = folder.relative;
    object.title = folder.title;
    object.container = true;
    object.childCount = static_cast<std::uint32_t>(folder.folders.size() + folder.files.size());
    object.updateId = folder.updateId;
    return object;
}

SObject CLibrary::View(const SFile& file) const
{
    SObject object;
    object.id = file.id;
    object.parentId = file.parentId;
    object.relative = file.relative;
    object.title = file.title;
    object.size = file.size;
    object.modified = file.modified;
    object.description = file.description;
    return object;
}

std::optional<SObject> CLibrary::Object(std::string_view id)
{
    SContainerUpdates updates;
    std::optional<SObject> object;
    {
        std::unique_lock lock(m_lock);
        const auto named = m_ids.find(std::string(id));
        if (named == m_ids.end())
            return std::nullopt;
        const std::string relative = named->second;
        const bool isFolder = m_folders.count(relative) != 0;
        List(relative.empty() ? relative : ParentOf(relative), updates, lock);
        if (isFolder) {
            const auto folder = m_folders.find(relative);
            if (folder != m_folders.end() && !folder->second->listed)
                List(relative, updates, lock);
            const auto again = m_folders.find(relative);
            if (again != m_folders.end())
                object = View(*again->second);
        } else if (Describe(relative, lock)) {
            object = View(*m_files.find(relative)->second);
        }
    }
    Tell(updates);
    return object;
}

std::optional<SChildren> CLibrary::Children(std::string_view id, std::uint32_t start, std::uint32_t count)
{
    SContainerUpdates updates;
    std::optional<SChildren> children;
    {
        std::unique_lock lock(m_lock);
        const auto named = m_ids.find(std::string(id));
        if (named == m_ids.end())
            return std::nullopt;
        const std::string relative = named->second;
        if (m_files.count(relative) != 0) {
            // A recording holds nothing.
            children = SChildren{{}, 0, m_systemUpdateId};
        } else {
            List(relative, updates, lock);
            const auto found = m_folders.find(relative);
            if (found == m_folders.end())
                return std::nullopt;
            std::vector<std::string> order = found->second->folders;
            order.insert(order.end(), found->second->files.begin(), found->second->files.end());
            const std::size_t folderCount = found->second->folders.size();
            children = SChildren{{}, static_cast<std::uint32_t>(order.size()), found->second->updateId};
            const std::size_t begin = std::min<std::size_t>(start, order.size());
            const std::size_t end = count == 0 ? order.size() : std::min<std::size_t>(order.size(), begin + count);
            unsigned budget = m_options.pageDescribeLimit;
            for (std::size_t i = begin; i < end; ++i) {
                if (i < folderCount) {
                    const auto folder = m_folders.find(order[i]);
                    if (folder != m_folders.end() && !folder->second->listed)
                        List(order[i], updates, lock);
                    const auto again = m_folders.find(order[i]);
                    if (again != m_folders.end())
                        children->objects.push_back(View(*again->second));
                    continue;
                }
                const auto file = m_files.find(order[i]);
                if (file == m_files.end())
                    continue;
                if (!file->second->description) {
                    if (budget == 0)
                        break;
                    --budget;
                    if (!Describe(order[i], lock))
                        continue;
                }
                children->objects.push_back(View(*m_files.find(order[i])->second));
            }
        }
    }
    Tell(updates);
    return children;
}

std::uint32_t CLibrary::SystemUpdateId() const
{
    std::lock_guard guard(m_lock);
    return m_systemUpdateId;
}

SRecording CLibrary::Recording(const fs::path& path)
{
    const fs::path relativePath = path.lexically_relative(m_options.folder);
    std::string relative;
    bool inside = !relativePath.empty();
    for (const fs::path& part : relativePath) {
        const std::string name = NameBytes(part);
        inside = inside && name != ".." && name != ".";
        relative = Join(relative, name);
    }
    std::error_code sizeError;
    std::error_code timeError;
    const std::uint64_t size = fs::file_size(path, sizeError);
    const fs::file_time_type time = fs::last_write_time(path, timeError);
    if (sizeError || timeError || !inside)
        return m_options.describe(path).recording;
    const std::int64_t ticks = Ticks(time);
    const std::string looseKey = relative + '\n' + std::to_string(size) + '\n' + std::to_string(ticks);
    {
        std::unique_lock lock(m_lock);
        const auto file = m_files.find(relative);
        if (file != m_files.end() && file->second->size == size && file->second->ticks == ticks &&
            Describe(relative, lock)) {
            const auto again = m_files.find(relative);
            if (again != m_files.end() && again->second->description)
                return again->second->description->recording;
        }
        const auto loose = m_loose.find(looseKey);
        if (loose != m_loose.end())
            return loose->second->recording;
    }
    auto description = std::make_shared<SDescription>(m_options.describe(path));
    description->recording.path = path;
    std::lock_guard guard(m_lock);
    if (m_loose.size() >= MAX_LOOSE)
        m_loose.clear();
    m_loose[looseKey] = description;
    return description->recording;
}

}  // namespace mediahost::server
