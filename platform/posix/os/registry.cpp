#include "platform/registry.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <cwctype>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <sstream>

#include "utf8.h"

// The store file is UTF-8 text, one record per line:
//   K "<full key path>"
//   V "<value name, empty for the default value>" "<text>"
// Values follow their key. Inside quotes '\\', '"' and control characters are
// escaped (\\, \", \xHH;). Full key paths start with the root's name.

namespace platform {

namespace {

struct SValue {
    std::wstring name;
    std::wstring data;
};

struct SKey {
    std::wstring path;                      // as first created
    std::map<std::wstring, SValue> values;  // key: folded name
};

using TStore = std::map<std::wstring, SKey>;  // key: folded full path

// Win32 error codes the store answers with.
constexpr unsigned long ERROR_FILE_NOT_FOUND_CODE = 2;
constexpr unsigned long ERROR_PATH_NOT_FOUND_CODE = 3;
constexpr unsigned long ERROR_ACCESS_DENIED_CODE = 5;
constexpr unsigned long ERROR_WRITE_FAULT_CODE = 29;
constexpr unsigned long ERROR_DISK_FULL_CODE = 112;

thread_local unsigned long t_lastError = 0;

// Records error as the thread's last and answers false.
bool Fail(unsigned long error)
{
    t_lastError = error;
    return false;
}

// The store file's errno as Windows would report the failure.
bool FailWithErrno(int error)
{
    switch (error) {
    case EACCES:
    case EPERM:
    case EROFS: return Fail(ERROR_ACCESS_DENIED_CODE);
    case ENOENT:
    case ENOTDIR: return Fail(ERROR_PATH_NOT_FOUND_CODE);
    case ENOSPC:
    case EDQUOT: return Fail(ERROR_DISK_FULL_CODE);
    default: return Fail(ERROR_WRITE_FAULT_CODE);
    }
}

std::wstring Fold(const std::wstring& text)
{
    std::wstring out(text);
    for (wchar_t& c : out) {
        if (c >= L'a' && c <= L'z') {
            c = static_cast<wchar_t>(c - L'a' + L'A');
        } else if (c > 0x7F) {
            c = static_cast<wchar_t>(std::towupper(static_cast<wint_t>(c)));
        }
    }
    return out;
}

// Root name plus the path with empty parts dropped; false for a path that
// is not usable.
bool FullPath(ERegistryRoot root, const std::wstring& path, std::wstring& full)
{
    full = root == ERegistryRoot::CLASSES_ROOT ? L"HKEY_CLASSES_ROOT" : L"HKEY_CURRENT_USER";
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find(L'\\', start);
        if (end == std::wstring::npos) {
            end = path.size();
        }
        if (end > start) {
            full += L'\\';
            full.append(path, start, end - start);
        }
        start = end + 1;
    }
    return true;
}

std::wstring ValueKey(const wchar_t* name)
{
    return name == nullptr ? std::wstring() : Fold(name);
}

std::string StoreFile()
{
    if (const char* file = std::getenv("VSK_REGISTRY_FILE"); file != nullptr && *file != '\0') {
        return file;
    }
    const char* home = std::getenv("HOME");
    return std::string(home != nullptr && *home != '\0' ? home : "/tmp") + "/.vsk-registry";
}

class CStoreLock {
public:
    CStoreLock(const std::string& file, bool exclusive)
    {
        m_fd = ::open((file + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (m_fd >= 0) {
            int rc;
            do {
                rc = ::flock(m_fd, exclusive ? LOCK_EX : LOCK_SH);
            } while (rc != 0 && errno == EINTR);
            if (rc != 0) {
                m_error = errno;
                ::close(m_fd);
                m_fd = -1;
            }
        } else {
            m_error = errno;
        }
    }
    ~CStoreLock()
    {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    CStoreLock(const CStoreLock&) = delete;
    CStoreLock& operator=(const CStoreLock&) = delete;
    bool IsHeld() const { return m_fd >= 0; }
    int Error() const { return m_error; }

private:
    int m_fd = -1;
    int m_error = 0;
};

void Quote(std::wstring& out, const std::wstring& text)
{
    out += L'"';
    for (wchar_t c : text) {
        if (c == L'\\' || c == L'"') {
            out += L'\\';
            out += c;
        } else if (c < 0x20 || c == 0x7F) {
            wchar_t escaped[8];
            std::swprintf(escaped, 8, L"\\x%02X;", static_cast<unsigned>(c));
            out += escaped;
        } else {
            out += c;
        }
    }
    out += L'"';
}

bool Unquote(const std::wstring& line, std::size_t& pos, std::wstring& text)
{
    text.clear();
    while (pos < line.size() && line[pos] == L' ') {
        ++pos;
    }
    if (pos >= line.size() || line[pos] != L'"') {
        return false;
    }
    for (++pos; pos < line.size(); ++pos) {
        const wchar_t c = line[pos];
        if (c == L'"') {
            ++pos;
            return true;
        }
        if (c != L'\\') {
            text += c;
            continue;
        }
        if (++pos >= line.size()) {
            return false;
        }
        if (line[pos] == L'x') {
            const std::size_t end = line.find(L';', pos);
            if (end == std::wstring::npos) {
                return false;
            }
            text += static_cast<wchar_t>(std::wcstoul(line.substr(pos + 1, end - pos - 1).c_str(), nullptr, 16));
            pos = end;
        } else {
            text += line[pos];
        }
    }
    return false;
}

// A missing file is an empty store; a damaged line is skipped.
TStore Load(const std::string& file)
{
    TStore store;
    std::ifstream in(file, std::ios::binary);
    std::string raw;
    SKey* current = nullptr;
    while (std::getline(in, raw)) {
        const std::wstring line = detail::FromUtf8(raw);
        std::size_t pos = 1;
        if (line.rfind(L"K ", 0) == 0) {
            std::wstring path;
            current = nullptr;
            if (Unquote(line, pos, path)) {
                current = &store[Fold(path)];
                current->path = path;
            }
        } else if (line.rfind(L"V ", 0) == 0 && current != nullptr) {
            SValue value;
            if (Unquote(line, pos, value.name) && Unquote(line, pos, value.data)) {
                current->values[Fold(value.name)] = value;
            }
        }
    }
    return store;
}

bool Save(const std::string& file, const TStore& store)
{
    std::wstring text;
    for (const auto& [folded, key] : store) {
        text += L"K ";
        Quote(text, key.path);
        text += L'\n';
        for (const auto& [name, value] : key.values) {
            text += L"V ";
            Quote(text, value.name);
            text += L' ';
            Quote(text, value.data);
            text += L'\n';
        }
    }
    std::string bytes;
    if (!detail::ToUtf8(text, bytes)) {
        return Fail(ERROR_WRITE_FAULT_CODE);
    }
    const std::string temporary = file + ".tmp." + std::to_string(::getpid());
    {
        errno = 0;
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        out.flush();
        if (!out) {
            const int error = errno;
            out.close();
            ::unlink(temporary.c_str());
            return FailWithErrno(error);
        }
    }
    if (std::rename(temporary.c_str(), file.c_str()) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        return FailWithErrno(error);
    }
    return true;
}

bool IsRootPath(const std::wstring& full)
{
    return full.find(L'\\') == std::wstring::npos;
}

bool Exists(const TStore& store, const std::wstring& full)
{
    return IsRootPath(full) || store.count(Fold(full)) != 0;
}

void CreateWithParents(TStore& store, const std::wstring& full)
{
    for (std::size_t end = full.find(L'\\'); ; end = full.find(L'\\', end + 1)) {
        const std::wstring part = end == std::wstring::npos ? full : full.substr(0, end);
        if (!IsRootPath(part)) {
            SKey& key = store[Fold(part)];
            if (key.path.empty()) {
                key.path = part;
            }
        }
        if (end == std::wstring::npos) {
            break;
        }
    }
}

bool HasSubKeys(const TStore& store, const std::wstring& full)
{
    const std::wstring prefix = Fold(full) + L'\\';
    auto it = store.lower_bound(prefix);
    return it != store.end() && it->first.compare(0, prefix.size(), prefix) == 0;
}

// Runs change on the store under the exclusive lock and saves it when change
// answers 0; otherwise change's answer is the Win32 error of the refusal.
template <typename F>
bool Modify(F change)
{
    const std::string file = StoreFile();
    CStoreLock lock(file, true);
    if (!lock.IsHeld()) {
        return FailWithErrno(lock.Error());
    }
    TStore store = Load(file);
    if (const unsigned long refused = change(store); refused != 0) {
        return Fail(refused);
    }
    return Save(file, store);
}

TStore Read()
{
    const std::string file = StoreFile();
    CStoreLock lock(file, false);
    return lock.IsHeld() ? Load(file) : TStore();
}

}  // namespace

bool RegistryCreateKey(ERegistryRoot root, const std::wstring& path)
{
    std::wstring full;
    if (!FullPath(root, path, full)) {
        return Fail(ERROR_ACCESS_DENIED_CODE);
    }
    return Modify([&](TStore& store) {
        CreateWithParents(store, full);
        return 0ul;
    });
}

bool RegistryKeyExists(ERegistryRoot root, const std::wstring& path)
{
    std::wstring full;
    return FullPath(root, path, full) && Exists(Read(), full);
}

bool RegistrySetString(ERegistryRoot root, const std::wstring& path, const wchar_t* valueName,
                       const std::wstring& value)
{
    std::wstring full;
    if (!FullPath(root, path, full) || IsRootPath(full)) {
        return Fail(ERROR_ACCESS_DENIED_CODE);
    }
    return Modify([&](TStore& store) {
        CreateWithParents(store, full);
        SValue& entry = store[Fold(full)].values[ValueKey(valueName)];
        if (entry.name.empty() && valueName != nullptr) {
            entry.name = valueName;
        }
        entry.data = value;
        return 0ul;
    });
}

bool RegistryGetString(ERegistryRoot root, const std::wstring& path, const wchar_t* valueName, std::wstring& value)
{
    value.clear();
    std::wstring full;
    if (!FullPath(root, path, full)) {
        return false;
    }
    const TStore store = Read();
    auto key = store.find(Fold(full));
    if (key == store.end()) {
        return false;
    }
    auto entry = key->second.values.find(ValueKey(valueName));
    if (entry == key->second.values.end()) {
        return false;
    }
    value = entry->second.data;
    return true;
}

bool RegistryDeleteValue(ERegistryRoot root, const std::wstring& path, const wchar_t* valueName)
{
    std::wstring full;
    if (!FullPath(root, path, full)) {
        return Fail(ERROR_ACCESS_DENIED_CODE);
    }
    return Modify([&](TStore& store) {
        auto key = store.find(Fold(full));
        const bool erased = key != store.end() && key->second.values.erase(ValueKey(valueName)) != 0;
        return erased ? 0ul : ERROR_FILE_NOT_FOUND_CODE;
    });
}

std::vector<std::wstring> RegistrySubKeys(ERegistryRoot root, const std::wstring& path)
{
    std::vector<std::wstring> names;
    std::wstring full;
    if (!FullPath(root, path, full)) {
        return names;
    }
    const TStore store = Read();
    if (!Exists(store, full)) {
        return names;
    }
    const std::wstring prefix = Fold(full) + L'\\';
    for (auto it = store.lower_bound(prefix); it != store.end() && it->first.compare(0, prefix.size(), prefix) == 0;
         ++it) {
        if (it->first.find(L'\\', prefix.size()) == std::wstring::npos) {
            names.push_back(it->second.path.substr(prefix.size()));
        }
    }
    return names;
}

bool RegistryDeleteKey(ERegistryRoot root, const std::wstring& path)
{
    std::wstring full;
    if (!FullPath(root, path, full) || IsRootPath(full)) {
        return Fail(ERROR_ACCESS_DENIED_CODE);
    }
    return Modify([&](TStore& store) {
        if (HasSubKeys(store, full)) {
            return ERROR_ACCESS_DENIED_CODE;
        }
        return store.erase(Fold(full)) != 0 ? 0ul : ERROR_FILE_NOT_FOUND_CODE;
    });
}

bool RegistryDeleteTree(ERegistryRoot root, const std::wstring& path)
{
    std::wstring full;
    if (!FullPath(root, path, full) || IsRootPath(full)) {
        return Fail(ERROR_ACCESS_DENIED_CODE);
    }
    return Modify([&](TStore& store) {
        const std::wstring folded = Fold(full);
        if (store.erase(folded) == 0) {
            return ERROR_FILE_NOT_FOUND_CODE;
        }
        const std::wstring prefix = folded + L'\\';
        auto it = store.lower_bound(prefix);
        while (it != store.end() && it->first.compare(0, prefix.size(), prefix) == 0) {
            it = store.erase(it);
        }
        return 0ul;
    });
}

unsigned long RegistryLastError()
{
    return t_lastError;
}

}  // namespace platform
