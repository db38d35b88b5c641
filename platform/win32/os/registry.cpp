#include "platform/registry.h"

#include <windows.h>

namespace platform {

namespace {

HKEY RootKey(ERegistryRoot root)
{
    return root == ERegistryRoot::CLASSES_ROOT ? HKEY_CLASSES_ROOT : HKEY_CURRENT_USER;
}

class CKey {
public:
    CKey() = default;
    ~CKey()
    {
        if (m_key != nullptr) {
            ::RegCloseKey(m_key);
        }
    }
    CKey(const CKey&) = delete;
    CKey& operator=(const CKey&) = delete;
    HKEY* Out() { return &m_key; }
    HKEY Get() const { return m_key; }

private:
    HKEY m_key = nullptr;
};

thread_local unsigned long t_lastError = ERROR_SUCCESS;

// True for ERROR_SUCCESS; records any other result as the thread's last error.
bool Succeeded(LSTATUS status)
{
    if (status != ERROR_SUCCESS) {
        t_lastError = static_cast<unsigned long>(status);
    }
    return status == ERROR_SUCCESS;
}

const wchar_t* ValueName(const wchar_t* name)
{
    return name != nullptr && *name != L'\0' ? name : nullptr;
}

}  // namespace

bool RegistryCreateKey(ERegistryRoot root, const std::wstring& path)
{
    CKey key;
    return Succeeded(::RegCreateKeyExW(RootKey(root), path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE,
                                       nullptr, key.Out(), nullptr));
}

bool RegistryKeyExists(ERegistryRoot root, const std::wstring& path)
{
    CKey key;
    return ::RegOpenKeyExW(RootKey(root), path.c_str(), 0, KEY_READ, key.Out()) == ERROR_SUCCESS;
}

bool RegistrySetString(ERegistryRoot root, const std::wstring& path, const wchar_t* valueName,
                       const std::wstring& value)
{
    CKey key;
    if (!Succeeded(::RegCreateKeyExW(RootKey(root), path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE,
                                     nullptr, key.Out(), nullptr))) {
        return false;
    }
    const DWORD bytes = static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t));
    return Succeeded(::RegSetValueExW(key.Get(), ValueName(valueName), 0, REG_SZ,
                                      reinterpret_cast<const BYTE*>(value.c_str()), bytes));
}

bool RegistryGetString(ERegistryRoot root, const std::wstring& path, const wchar_t* valueName, std::wstring& value)
{
    value.clear();
    CKey key;
    if (::RegOpenKeyExW(RootKey(root), path.c_str(), 0, KEY_READ, key.Out()) != ERROR_SUCCESS) {
        return false;
    }
    DWORD type = 0;
    DWORD bytes = 0;
    if (::RegQueryValueExW(key.Get(), ValueName(valueName), nullptr, &type, nullptr, &bytes) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ)) {
        return false;
    }
    std::wstring buffer(bytes / sizeof(wchar_t) + 1, L'\0');
    bytes = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
    if (::RegQueryValueExW(key.Get(), ValueName(valueName), nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()),
                           &bytes) != ERROR_SUCCESS) {
        return false;
    }
    buffer.resize(bytes / sizeof(wchar_t));
    while (!buffer.empty() && buffer.back() == L'\0') {
        buffer.pop_back();
    }
    value = buffer;
    return true;
}

bool RegistryDeleteValue(ERegistryRoot root, const std::wstring& path, const wchar_t* valueName)
{
    CKey key;
    return Succeeded(::RegOpenKeyExW(RootKey(root), path.c_str(), 0, KEY_SET_VALUE, key.Out())) &&
           Succeeded(::RegDeleteValueW(key.Get(), ValueName(valueName)));
}

std::vector<std::wstring> RegistrySubKeys(ERegistryRoot root, const std::wstring& path)
{
    std::vector<std::wstring> names;
    CKey key;
    if (::RegOpenKeyExW(RootKey(root), path.c_str(), 0, KEY_READ, key.Out()) != ERROR_SUCCESS) {
        return names;
    }
    wchar_t name[256];
    for (DWORD index = 0;; ++index) {
        DWORD length = 256;
        if (::RegEnumKeyExW(key.Get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
            break;
        }
        names.emplace_back(name, length);
    }
    return names;
}

bool RegistryDeleteKey(ERegistryRoot root, const std::wstring& path)
{
    if (path.empty()) {
        return Succeeded(ERROR_INVALID_PARAMETER);
    }
    return Succeeded(::RegDeleteKeyW(RootKey(root), path.c_str()));
}

bool RegistryDeleteTree(ERegistryRoot root, const std::wstring& path)
{
    if (path.empty()) {
        return Succeeded(ERROR_INVALID_PARAMETER);
    }
    if (!RegistryKeyExists(root, path)) {
        return Succeeded(ERROR_FILE_NOT_FOUND);
    }
    if (!Succeeded(::RegDeleteTreeW(RootKey(root), path.c_str()))) {
        return false;
    }
    return Succeeded(::RegDeleteKeyW(RootKey(root), path.c_str())) || !RegistryKeyExists(root, path);
}

unsigned long RegistryLastError()
{
    return t_lastError;
}

}  // namespace platform
