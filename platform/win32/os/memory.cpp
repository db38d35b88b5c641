#include "platform/memory.h"

#include <windows.h>

namespace platform {

bool IsReadableMemory(const void* data, std::size_t size)
{
    return ::IsBadReadPtr(data, size) == FALSE;
}

}  // namespace platform
