#include "platform/memory.h"

#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <unistd.h>

namespace platform {

bool IsReadableMemory(const void* data, std::size_t size)
{
    if (size == 0) {
        return true;
    }
    const auto start = reinterpret_cast<std::uintptr_t>(data);
    if (data == nullptr || start + size < start) {
        return false;  // null, or the range wraps around the address space
    }
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        return false;
    }
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    const auto page = static_cast<std::uintptr_t>(pageSize > 0 ? pageSize : 4096);
    bool readable = true;
    // Access rights are per page: one byte of every page the range touches decides.
    for (std::uintptr_t at = start; readable && at < start + size; at = (at / page + 1) * page) {
        ssize_t n;
        do {
            n = ::write(fds[1], reinterpret_cast<const void*>(at), 1);
        } while (n < 0 && errno == EINTR);
        if (n != 1) {
            readable = false;
            break;
        }
        char sink;
        do {
            n = ::read(fds[0], &sink, 1);
        } while (n < 0 && errno == EINTR);
    }
    ::close(fds[0]);
    ::close(fds[1]);
    return readable;
}

}  // namespace platform
