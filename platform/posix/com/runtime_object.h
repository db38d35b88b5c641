// Reference counting for the runtime's own objects (error information, the
// free-threaded marshaler). They sit below the project's object template, so
// they count for themselves: born with one reference, deleted at zero.
#pragma once

#include <atomic>

#include "platform/com.h"

template <class Derived>
class CRuntimeRefCount {
protected:
    ULONG AddRefImpl() noexcept { return m_refs.fetch_add(1) + 1; }
    ULONG ReleaseImpl() noexcept
    {
        const ULONG remaining = m_refs.fetch_sub(1) - 1;
        if (remaining == 0) {
            delete static_cast<Derived*>(this);
        }
        return remaining;
    }

private:
    std::atomic<ULONG> m_refs{1};
};
