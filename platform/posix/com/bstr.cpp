// BSTR: the 32-bit byte count sits in the four bytes before the text and the
// text is always followed by one NUL character, so a BSTR can be read as a
// plain wide string. Allocation goes through malloc; nothing else frees it.
#include <cstdlib>
#include <limits>

#include "platform/com.h"

namespace {

constexpr std::size_t kPrefixBytes = sizeof(DWORD);

// Allocates room for `bytes` bytes of text plus the terminator and writes the
// prefix; returns the text pointer, or null when the size cannot be held.
BSTR AllocateBytes(std::size_t bytes) noexcept
{
    if (bytes > std::numeric_limits<DWORD>::max() - kPrefixBytes - 2 * sizeof(OLECHAR)) {
        return nullptr;
    }
    // Round the text up to whole characters so the terminator is aligned.
    const std::size_t textBytes = (bytes + sizeof(OLECHAR) - 1) / sizeof(OLECHAR) * sizeof(OLECHAR);
    auto* block = static_cast<unsigned char*>(std::malloc(kPrefixBytes + textBytes + sizeof(OLECHAR)));
    if (block == nullptr) {
        return nullptr;
    }
    const DWORD prefix = static_cast<DWORD>(bytes);
    std::memcpy(block, &prefix, sizeof(prefix));
    std::memset(block + kPrefixBytes + bytes, 0, textBytes - bytes + sizeof(OLECHAR));
    return reinterpret_cast<BSTR>(block + kPrefixBytes);
}

}  // namespace

BSTR SysAllocStringLen(const OLECHAR* strIn, UINT ui) noexcept
{
    if (ui > std::numeric_limits<DWORD>::max() / sizeof(OLECHAR)) {
        return nullptr;
    }
    BSTR text = AllocateBytes(static_cast<std::size_t>(ui) * sizeof(OLECHAR));
    if (text != nullptr) {
        // Windows leaves a text without source uninitialised; zeroes are safer.
        if (strIn != nullptr) {
            std::memcpy(text, strIn, static_cast<std::size_t>(ui) * sizeof(OLECHAR));
        } else {
            std::memset(text, 0, static_cast<std::size_t>(ui) * sizeof(OLECHAR));
        }
    }
    return text;
}

BSTR SysAllocString(const OLECHAR* psz) noexcept
{
    if (psz == nullptr) {
        return nullptr;
    }
    const std::size_t length = std::wcslen(psz);
    if (length > std::numeric_limits<UINT>::max()) {
        return nullptr;
    }
    return SysAllocStringLen(psz, static_cast<UINT>(length));
}

BSTR SysAllocStringByteLen(const char* psz, UINT len) noexcept
{
    BSTR text = AllocateBytes(len);
    if (text != nullptr && psz != nullptr) {
        std::memcpy(text, psz, len);
    }
    return text;
}

int SysReAllocStringLen(BSTR* pbstr, const OLECHAR* psz, UINT len) noexcept
{
    if (pbstr == nullptr) {
        return FALSE;
    }
    // The source may lie inside the old text: copy before freeing.
    BSTR replacement = SysAllocStringLen(psz, len);
    if (replacement == nullptr) {
        return FALSE;
    }
    SysFreeString(*pbstr);
    *pbstr = replacement;
    return TRUE;
}

int SysReAllocString(BSTR* pbstr, const OLECHAR* psz) noexcept
{
    if (pbstr == nullptr) {
        return FALSE;
    }
    const std::size_t length = psz == nullptr ? 0 : std::wcslen(psz);
    if (length > std::numeric_limits<UINT>::max()) {
        return FALSE;
    }
    return SysReAllocStringLen(pbstr, psz, static_cast<UINT>(length));
}

void SysFreeString(BSTR bstrString) noexcept
{
    if (bstrString != nullptr) {
        std::free(reinterpret_cast<unsigned char*>(bstrString) - kPrefixBytes);
    }
}

UINT SysStringByteLen(BSTR bstr) noexcept
{
    if (bstr == nullptr) {
        return 0;
    }
    DWORD prefix = 0;
    std::memcpy(&prefix, reinterpret_cast<unsigned char*>(bstr) - kPrefixBytes, sizeof(prefix));
    return prefix;
}

UINT SysStringLen(BSTR pbstr) noexcept
{
    return SysStringByteLen(pbstr) / sizeof(OLECHAR);
}
