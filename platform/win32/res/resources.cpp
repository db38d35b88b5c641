#include "platform/resources.h"

#include <windows.h>

namespace platform {

CEmbeddedResource::CEmbeddedResource(const wchar_t*, int, std::string_view)
{
    // The resource compiler stores the texts in the module itself.
}

bool LoadTextResource(const void* addressInModule, const wchar_t* type, int id, std::string& text)
{
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            static_cast<LPCWSTR>(addressInModule), &module))
        return false;
    HRSRC info = FindResourceW(module, MAKEINTRESOURCEW(id), type);
    if (info == nullptr)
        return false;
    HGLOBAL loaded = LoadResource(module, info);
    const DWORD size = SizeofResource(module, info);
    const void* data = loaded != nullptr ? LockResource(loaded) : nullptr;
    if (data == nullptr)
        return false;
    text.assign(static_cast<const char*>(data), size);
    return true;
}

}  // namespace platform
