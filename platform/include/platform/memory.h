// Whether a memory range can be read without a fault, for diagnostics that
// are handed arbitrary pointers. Windows: IsBadReadPtr. Linux: each page of
// the range is offered to write(2) on a pipe, which reports EFAULT for
// unreadable memory instead of raising a signal; so no read of the range
// itself ever faults. An empty range is readable, as with IsBadReadPtr.
#pragma once

#include <cstddef>

namespace platform {

bool IsReadableMemory(const void* data, std::size_t size);

}  // namespace platform
