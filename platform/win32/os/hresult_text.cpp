#include "platform/hresult_text.h"

#include <windows.h>

namespace platform {

bool HResultText(std::int32_t hr, std::wstring& text)
{
    text.clear();
    wchar_t* buffer = nullptr;
    const DWORD n = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        static_cast<DWORD>(hr), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<LPWSTR>(&buffer), 0,
        nullptr);
    if (buffer == nullptr) {
        return false;
    }
    text.assign(buffer, n);
    ::LocalFree(buffer);
    return n > 0;
}

}  // namespace platform
