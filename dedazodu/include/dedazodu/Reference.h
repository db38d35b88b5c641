// Reference counting for every object of the logging library: IReference,
// the CReference<T> implementation, the holder CRef<T> and the one place that
// allocates such objects (Common::New).
#pragma once

#include <atomic>
#include <cstdint>
#include <new>
#include <type_traits>
#include <utility>

namespace deDazOdu {

struct IReference {
    virtual ~IReference() = default;
    virtual int AddRef() = 0;
    virtual int Release() = 0;
};

namespace Common {

// Born with one reference (the creator's); deleted when the last goes. When
// T is not itself an IReference, the destructor, AddRef and Release become
// slots of their own after T's.
template <typename T>
class CReference : public T {
public:
    CReference() = default;
    template <typename... A>
    explicit CReference(A&&... arguments) : T(std::forward<A>(arguments)...)
    {
    }
    virtual ~CReference() = default;
    CReference(const CReference&) = delete;
    CReference& operator=(const CReference&) = delete;

    virtual int AddRef() { return m_count.fetch_add(1, std::memory_order_relaxed) + 1; }
    virtual int Release()
    {
        const std::int32_t left = m_count.fetch_sub(1, std::memory_order_acq_rel) - 1;
        if (left == 0) {
            delete this;
        }
        return left;
    }

private:
    std::atomic<std::int32_t> m_count {1};
};

// Allocates a reference-counted object; null when memory is exhausted.
template <typename D, typename... A>
D* New(A&&... arguments)
{
    return new (std::nothrow) D(std::forward<A>(arguments)...);
}

// Holds one reference.
template <typename T>
class CRef {
public:
    CRef() = default;
    CRef(std::nullptr_t) {}
    // Takes over a reference the caller owns (as returned by a Create... call).
    static CRef Attach(T* p)
    {
        CRef r;
        r.m_p = p;
        return r;
    }
    // Adds a reference of its own.
    static CRef Share(T* p)
    {
        if (p != nullptr) {
            p->AddRef();
        }
        return Attach(p);
    }
    ~CRef() { Reset(); }
    CRef(const CRef& other) : m_p(other.m_p)
    {
        if (m_p != nullptr) {
            m_p->AddRef();
        }
    }
    CRef(CRef&& other) noexcept : m_p(std::exchange(other.m_p, nullptr)) {}
    CRef& operator=(CRef other) noexcept
    {
        std::swap(m_p, other.m_p);
        return *this;
    }
    void Reset()
    {
        if (m_p != nullptr) {
            std::exchange(m_p, nullptr)->Release();
        }
    }
    // Hands the reference to the caller.
    T* Detach() { return std::exchange(m_p, nullptr); }
    T* Get() const { return m_p; }
    T* operator->() const { return m_p; }
    explicit operator bool() const { return m_p != nullptr; }

private:
    T* m_p = nullptr;
};

}  // namespace Common
}  // namespace deDazOdu
