#include "platform/final_path.h"

#include <windows.h>

#include <vector>

namespace platform {

std::filesystem::path FinalPath(const std::filesystem::path& path)
{
    // No access asked beyond attributes, every share mode allowed: the check
    // must not hold off a recorder that is writing the file. Backup
    // semantics let folders be opened as well.
    const HANDLE handle = CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return {};
    std::vector<wchar_t> buffer(MAX_PATH);
    DWORD length = 0;
    for (int attempt = 0; attempt < 3; ++attempt) {
        length = GetFinalPathNameByHandleW(handle, buffer.data(), static_cast<DWORD>(buffer.size()),
                                           FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (length < buffer.size())
            break;
        buffer.resize(length + 1);  // the size needed, terminator included
    }
    CloseHandle(handle);
    if (length == 0 || length >= buffer.size())
        return {};
    std::wstring name(buffer.data(), length);
    if (name.rfind(L"\\\\?\\UNC\\", 0) == 0)
        return std::filesystem::path(L"\\\\" + name.substr(8));
    if (name.rfind(L"\\\\?\\", 0) == 0)
        return std::filesystem::path(name.substr(4));
    return std::filesystem::path(name);
}

bool IsHiddenBySystem(const std::filesystem::path& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) != 0;
}

}  // namespace platform
