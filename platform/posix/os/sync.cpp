#include "platform/sync.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "utf8.h"

namespace platform {

// ---------------------------------------------------------------------------
// CCriticalSection

struct CCriticalSection::SImpl {
    std::recursive_mutex mutex;
};

CCriticalSection::CCriticalSection() : m_impl(std::make_unique<SImpl>()) {}
CCriticalSection::~CCriticalSection() = default;

void CCriticalSection::Enter()
{
    m_impl->mutex.lock();
}

void CCriticalSection::Leave()
{
    m_impl->mutex.unlock();
}

bool CCriticalSection::TryEnter()
{
    return m_impl->mutex.try_lock();
}

// ---------------------------------------------------------------------------
// CNamedMutex

namespace {

int OpenNoInterrupt(const char* path, int flags)
{
    int fd;
    do {
        fd = ::open(path, flags | O_CLOEXEC, 0600);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

int FlockNoInterrupt(int fd, int operation)
{
    int rc;
    do {
        rc = ::flock(fd, operation);
    } while (rc != 0 && errno == EINTR);
    return rc;
}

// Opens a file of the shared directory, creating it readable and writable by
// every user when missing. An existing file is opened without O_CREAT, which
// the kernel refuses for another user's file in a sticky directory
// (fs.protected_regular).
int OpenShared(const std::string& path)
{
    for (int attempt = 0; attempt < 8; ++attempt) {
        int fd = OpenNoInterrupt(path.c_str(), O_RDWR);
        if (fd >= 0 || errno != ENOENT) {
            return fd;
        }
        fd = OpenNoInterrupt(path.c_str(), O_RDWR | O_CREAT | O_EXCL);
        if (fd >= 0) {
            ::fchmod(fd, 0666);  // whatever the creator's umask
            return fd;
        }
        if (errno != EEXIST) {
            return -1;
        }
    }
    return -1;
}

// One directory for every process of the machine, whatever its user or
// environment, so that a service and an interactive host exclude each other
// as they would on Windows. World-writable with the sticky bit, like /tmp.
std::string MutexDirectory()
{
    const std::string dir = "/tmp/vsk-mutex";
    if (::mkdir(dir.c_str(), 01777) == 0) {
        ::chmod(dir.c_str(), 01777);  // mkdir applies the umask
    } else if (errno != EEXIST) {
        return std::string();
    }
    struct stat st {};
    if (::lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || ::access(dir.c_str(), W_OK | X_OK) != 0) {
        return std::string();
    }
    return dir;
}

// Letters, digits, '-' and '_' stay; every other byte of the UTF-8 name is
// written as %XX. Names too long for a file name keep a prefix and a hash.
std::string SanitisedName(const std::string& utf8)
{
    std::string out;
    static const char HEX[] = "0123456789ABCDEF";
    for (char ch : utf8) {
        const auto b = static_cast<unsigned char>(ch);
        if ((b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || (b >= '0' && b <= '9') || b == '-' || b == '_') {
            out.push_back(ch);
        } else {
            out.push_back('%');
            out.push_back(HEX[b >> 4]);
            out.push_back(HEX[b & 15]);
        }
    }
    if (out.size() > 180) {
        std::uint64_t hash = 1469598103934665603ull;  // FNV-1a over the full name
        for (char ch : utf8) {
            hash = (hash ^ static_cast<unsigned char>(ch)) * 1099511628211ull;
        }
        char suffix[20];
        std::snprintf(suffix, sizeof suffix, "#%016llX", static_cast<unsigned long long>(hash));
        out = out.substr(0, 160) + suffix;
    }
    return out;
}

// Holds the directory-wide guard for creating and closing names.
class CDirectoryGuard {
public:
    explicit CDirectoryGuard(const std::string& dir)
    {
        m_fd = OpenShared(dir + "/.guard");
        if (m_fd >= 0 && FlockNoInterrupt(m_fd, LOCK_EX) != 0) {
            ::close(m_fd);
            m_fd = -1;
        }
    }
    ~CDirectoryGuard()
    {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    CDirectoryGuard(const CDirectoryGuard&) = delete;
    CDirectoryGuard& operator=(const CDirectoryGuard&) = delete;
    bool IsHeld() const { return m_fd >= 0; }

private:
    int m_fd = -1;
};

// Per-process state of one name: the descriptor that carries the
// cross-process ownership and the owning thread with its recursion count.
struct SProcessEntry {
    int lockFd = -1;
    unsigned handles = 0;
    bool owned = false;
    std::thread::id owner;
    unsigned recursion = 0;
    bool acquiring = false;  // an owner is waiting for the cross-process lock
    std::condition_variable released;
};

struct SProcessTable {
    std::mutex mutex;
    std::map<std::string, SProcessEntry> entries;  // key: lock file path
    bool swept = false;
};

// Kept in the module's static storage and never destroyed, so it outlives
// static destruction (handles that other static destructors close still find
// it); once every handle is closed nothing of it is left on the heap, also
// when the library that holds it is unloaded.
union UProcessTableHolder {
    UProcessTableHolder() : table() {}
    ~UProcessTableHolder() {}
    SProcessTable table;
};

SProcessTable& ProcessTable()
{
    static UProcessTableHolder holder;
    return holder.table;
}

void WriteOwnedMark(int fd, char mark)
{
    ssize_t rc;
    do {
        rc = ::pwrite(fd, &mark, 1, 0);
    } while (rc < 0 && errno == EINTR);
}

// Removes the files of names nobody holds any more (left behind by processes
// that died without closing). Runs under the guard, where every live handle
// holds a shared presence lock, so an exclusive one proves the name unused.
void SweepDeadNames(const std::string& dir)
{
    DIR* listing = ::opendir(dir.c_str());
    if (listing == nullptr) {
        return;
    }
    const std::string suffix = ".presence";
    const std::string lockSuffix = ".lock";
    const auto endsWith = [](const std::string& name, const std::string& end) {
        return name.size() > end.size() && name.compare(name.size() - end.size(), end.size(), end) == 0;
    };
    while (const dirent* entry = ::readdir(listing)) {
        const std::string name = entry->d_name;
        if (endsWith(name, lockSuffix)) {
            // A process that died while closing a name may leave its lock file
            // alone; with no presence file, no handle holds the name.
            const std::string base = dir + "/" + name.substr(0, name.size() - lockSuffix.size());
            if (::access((base + suffix).c_str(), F_OK) != 0 && errno == ENOENT) {
                ::unlink((base + lockSuffix).c_str());
            }
            continue;
        }
        if (!endsWith(name, suffix)) {
            continue;
        }
        const std::string presence = dir + "/" + name;
        const int fd = OpenNoInterrupt(presence.c_str(), O_RDWR);
        if (fd < 0) {
            continue;
        }
        if (FlockNoInterrupt(fd, LOCK_EX | LOCK_NB) == 0) {
            ::unlink(presence.c_str());
            ::unlink((presence.substr(0, presence.size() - suffix.size()) + ".lock").c_str());
        }
        ::close(fd);
    }
    ::closedir(listing);
}

}  // namespace

struct CNamedMutex::SImpl {
    std::string directory;
    std::string lockPath;
    std::string presencePath;
    int presenceFd = -1;
};

CNamedMutex::CNamedMutex() = default;

CNamedMutex::~CNamedMutex()
{
    Close();
}

bool CNamedMutex::IsOpen() const
{
    return m_impl != nullptr;
}

bool CNamedMutex::Create(const wchar_t* name, bool* alreadyExisted)
{
    Close();
    std::string utf8;
    if (name == nullptr || !detail::ToUtf8(name, utf8)) {
        return false;
    }
    auto impl = std::make_unique<SImpl>();
    impl->directory = MutexDirectory();
    if (impl->directory.empty()) {
        return false;
    }
    const std::string base = impl->directory + "/" + SanitisedName(utf8);
    impl->lockPath = base + ".lock";
    impl->presencePath = base + ".presence";

    SProcessTable& table = ProcessTable();
    std::lock_guard<std::mutex> tableLock(table.mutex);
    CDirectoryGuard guard(impl->directory);
    if (!guard.IsHeld()) {
        return false;
    }
    if (!table.swept) {
        table.swept = true;
        SweepDeadNames(impl->directory);
    }
    impl->presenceFd = OpenShared(impl->presencePath);
    if (impl->presenceFd < 0) {
        return false;
    }
    // Under the guard nobody else changes presence locks, so the exclusive
    // probe followed by the shared lock is free of races.
    const bool existed = FlockNoInterrupt(impl->presenceFd, LOCK_EX | LOCK_NB) != 0;
    if (FlockNoInterrupt(impl->presenceFd, LOCK_SH) != 0) {
        ::close(impl->presenceFd);
        return false;
    }
    SProcessEntry& entry = table.entries[impl->lockPath];
    if (entry.lockFd < 0) {
        entry.lockFd = OpenShared(impl->lockPath);
        if (entry.lockFd < 0) {
            table.entries.erase(impl->lockPath);
            ::close(impl->presenceFd);
            return false;
        }
    }
    if (!existed) {
        // A new name: whatever a dead owner left in the lock file is history.
        WriteOwnedMark(entry.lockFd, '0');
    }
    ++entry.handles;
    if (alreadyExisted != nullptr) {
        *alreadyExisted = existed;
    }
    m_impl = std::move(impl);
    return true;
}

EWaitResult CNamedMutex::Wait()
{
    if (!m_impl) {
        return EWaitResult::FAILED;
    }
    SProcessTable& table = ProcessTable();
    std::unique_lock<std::mutex> tableLock(table.mutex);
    SProcessEntry& entry = table.entries[m_impl->lockPath];
    const std::thread::id self = std::this_thread::get_id();
    if (entry.owned && entry.owner == self && !entry.acquiring) {
        ++entry.recursion;
        return EWaitResult::ACQUIRED;
    }
    entry.released.wait(tableLock, [&] { return !entry.owned; });
    entry.owned = true;
    entry.owner = self;
    entry.recursion = 1;
    entry.acquiring = true;
    const int fd = entry.lockFd;
    tableLock.unlock();

    // Other threads of this process now wait on the condition; this one alone
    // competes with other processes.
    const bool locked = FlockNoInterrupt(fd, LOCK_EX) == 0;
    char mark = '0';
    bool abandoned = false;
    if (locked) {
        ssize_t rc;
        do {
            rc = ::pread(fd, &mark, 1, 0);
        } while (rc < 0 && errno == EINTR);
        abandoned = rc == 1 && mark == '1';
        WriteOwnedMark(fd, '1');
    }

    tableLock.lock();
    entry.acquiring = false;
    if (!locked) {
        entry.owned = false;
        entry.recursion = 0;
        entry.released.notify_all();
        return EWaitResult::FAILED;
    }
    return abandoned ? EWaitResult::ABANDONED : EWaitResult::ACQUIRED;
}

bool CNamedMutex::Release()
{
    if (!m_impl) {
        return false;
    }
    SProcessTable& table = ProcessTable();
    std::lock_guard<std::mutex> tableLock(table.mutex);
    auto it = table.entries.find(m_impl->lockPath);
    if (it == table.entries.end()) {
        return false;
    }
    SProcessEntry& entry = it->second;
    if (!entry.owned || entry.owner != std::this_thread::get_id() || entry.acquiring) {
        return false;
    }
    if (--entry.recursion == 0) {
        WriteOwnedMark(entry.lockFd, '0');
        FlockNoInterrupt(entry.lockFd, LOCK_UN);
        entry.owned = false;
        entry.owner = std::thread::id();
        entry.released.notify_all();
    }
    return true;
}

void CNamedMutex::Close()
{
    if (!m_impl) {
        return;
    }
    std::unique_ptr<SImpl> impl = std::move(m_impl);
    SProcessTable& table = ProcessTable();
    std::lock_guard<std::mutex> tableLock(table.mutex);
    CDirectoryGuard guard(impl->directory);
    auto it = table.entries.find(impl->lockPath);
    if (it != table.entries.end() && --it->second.handles == 0) {
        SProcessEntry& entry = it->second;
        // Closing the last handle while a thread owns the mutex abandons it:
        // the owned mark stays and the next owner sees it. A thread still
        // blocked in Wait keeps the entry (its handle is open), so none is.
        if (entry.owned && !entry.acquiring) {
            FlockNoInterrupt(entry.lockFd, LOCK_UN);
        }
        if (!entry.acquiring) {
            ::close(entry.lockFd);
            table.entries.erase(it);
        }
    }
    ::close(impl->presenceFd);
    if (guard.IsHeld()) {
        // Last handle anywhere: the name goes away with it.
        const int probe = OpenNoInterrupt(impl->presencePath.c_str(), O_RDWR);
        if (probe >= 0) {
            if (FlockNoInterrupt(probe, LOCK_EX | LOCK_NB) == 0) {
                ::unlink(impl->presencePath.c_str());
                ::unlink(impl->lockPath.c_str());
            }
            ::close(probe);
        }
    }
}

}  // namespace platform
