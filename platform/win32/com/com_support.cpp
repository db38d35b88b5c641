// The pieces of the compiler-support library that mingw-w64 declares in
// comutil.h but does not ship: the narrow text conversions of _bstr_t
// (_com_issue_error itself is inline in comdef.h; _com_issue_errorex is in
// platform/common/com).
#include <new>

#include "platform/com.h"

namespace _com_util {

BSTR WINAPI ConvertStringToBSTR(const char* pSrc)
{
    if (pSrc == nullptr) {
        return nullptr;
    }
    const int length = MultiByteToWideChar(CP_ACP, 0, pSrc, -1, nullptr, 0);
    if (length <= 0) {
        _com_issue_error(HRESULT_FROM_WIN32(GetLastError()));
    }
    BSTR text = SysAllocStringLen(nullptr, static_cast<UINT>(length - 1));
    if (text == nullptr) {
        _com_issue_error(E_OUTOFMEMORY);
    }
    MultiByteToWideChar(CP_ACP, 0, pSrc, -1, text, length);
    return text;
}

// The result is freed with delete[] by _bstr_t.
char* WINAPI ConvertBSTRToString(BSTR pSrc)
{
    if (pSrc == nullptr) {
        return nullptr;
    }
    const int units = static_cast<int>(SysStringLen(pSrc));
    const int bytes = WideCharToMultiByte(CP_ACP, 0, pSrc, units, nullptr, 0, nullptr, nullptr);
    char* text = new (std::nothrow) char[static_cast<size_t>(bytes < 0 ? 0 : bytes) + 1];
    if (text == nullptr) {
        _com_issue_error(E_OUTOFMEMORY);
    }
    if (bytes > 0) {
        WideCharToMultiByte(CP_ACP, 0, pSrc, units, text, bytes, nullptr, nullptr);
    }
    text[bytes < 0 ? 0 : bytes] = '\0';
    return text;
}

}  // namespace _com_util

namespace platform {

SAFEARRAY* CreateByteVectorToFill(ULONG count) noexcept
{
    return SafeArrayCreateVector(VT_UI1, 0, count);
}

}  // namespace platform
