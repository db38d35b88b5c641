// The one way to write a COM class in this project.
//
// A class derives from CComObjectRoot<Self, ModuleLock, Marshal> and from its
// interfaces, lists them in `using InterfaceMap = ComInterfaceMap<...>`, and
// implements their methods. It never implements IUnknown: the outer shells
// below supply it.
//
//   class CThing : public CComObjectRoot<CThing>, public IThing {
//   public:
//       using InterfaceMap = ComInterfaceMap<ComInterfaceEntry<IThing, IID_IThing>>;
//       STDMETHODIMP DoIt() noexcept override;
//   };
//
// - CComObject<T>: the plain form. CComAggObject<T>: the aggregated form, whose
//   own IUnknown is the non-delegating one the outer object holds, while every
//   interface of T forwards QueryInterface/AddRef/Release to the outer unknown.
// - QueryInterface answers IUnknown and exactly the listed IIDs (a class may
//   hide entries at run time with `bool IsInterfaceAvailable(REFIID) const`),
//   plus IMarshal through the aggregated free-threaded marshaler when the class
//   asks for ComMarshal::FreeThreaded.
// - Reference counts are 32-bit and interlocked. A live object holds one lock
//   of its ModuleLock policy (static Lock()/Unlock()) from construction to
//   destruction; CNoModuleLock holds none.
// - Optional hooks: `HRESULT FinalConstruct()` (runs after allocation, before
//   the marshaler is created) and `void FinalRelease()` (runs first at
//   destruction). Neither may throw.
// - Creation (CComCreator<T>) follows one sequence: allocate (E_OUTOFMEMORY),
//   final construction with the count held at 1, query the requested IID; on
//   any failure the object is destroyed and the out-pointer stays null. The
//   class-object checks (E_POINTER, CLASS_E_NOAGGREGATION) are
//   ComCheckCreateArguments; ComClassFactoryCreateInstance combines both.
// Nothing throws out of an IUnknown method or a creation helper, except what
// the initialiser passed to CreateAndQuery raises.
#pragma once

#include <atomic>
#include <new>
#include <type_traits>
#include <utility>

#include "platform/com.h"
#include "platform/com_holders.h"

// Reference count a dying object is parked at, far from 0 either way.
inline constexpr LONG kDestroyingCount = 0x3FFFFFFF;

struct CNoModuleLock {
    static void Lock() noexcept {}
    static void Unlock() noexcept {}
};

enum class ComMarshal { Standard, FreeThreaded };

template <class Interface, const IID& Iid>
struct ComInterfaceEntry {
    using type = Interface;
    static const IID& Id() noexcept { return Iid; }
};

template <class... Entries>
struct ComInterfaceMap {
    static_assert(sizeof...(Entries) > 0, "a COM class needs at least one interface");
};

template <class T>
class CComObject;
template <class T>
class CComContainedObject;
template <class T>
class CComAggObject;
template <class T>
class CComCreator;

template <class Derived, class ModuleLock = CNoModuleLock, ComMarshal Marshal = ComMarshal::Standard>
class CComObjectRoot {
public:
    using ModuleLockPolicy = ModuleLock;
    static constexpr bool kFreeThreaded = Marshal == ComMarshal::FreeThreaded;

    CComObjectRoot(const CComObjectRoot&) = delete;
    CComObjectRoot& operator=(const CComObjectRoot&) = delete;

    // Default hooks; a class hides them with its own.
    HRESULT FinalConstruct() noexcept { return S_OK; }
    void FinalRelease() noexcept {}
    bool IsInterfaceAvailable(REFIID) const noexcept { return true; }

    // The aggregated free-threaded marshaler (null unless FreeThreaded and
    // constructed).
    IUnknown* GetMarshaler() const noexcept { return m_pUnkMarshaler; }

protected:
    CComObjectRoot() noexcept = default;
    ~CComObjectRoot() = default;

    ULONG InternalAddRef() noexcept { return static_cast<ULONG>(m_refCount.fetch_add(1) + 1); }
    ULONG InternalRelease() noexcept { return static_cast<ULONG>(m_refCount.fetch_sub(1) - 1); }

    // Answers from the interface map; the reference taken goes through the
    // found interface, so in the aggregated form it reaches the outer object.
    HRESULT InternalQueryInterface(REFIID iid, void** ppv) noexcept
    {
        if (ppv == nullptr) {
            return E_POINTER;
        }
        *ppv = nullptr;
        Derived* self = static_cast<Derived*>(this);
        IUnknown* found = nullptr;
        if (InlineIsEqualGUID(iid, IID_IUnknown)) {
            found = InterfaceMapIdentity(self, typename Derived::InterfaceMap{});
        } else if (static_cast<const Derived*>(self)->IsInterfaceAvailable(iid)) {
            found = InterfaceMapFind(self, iid, typename Derived::InterfaceMap{});
        }
        if (found == nullptr) {
            if constexpr (kFreeThreaded) {
                if (InlineIsEqualGUID(iid, IID_IMarshal) && m_pUnkMarshaler != nullptr) {
                    return m_pUnkMarshaler->QueryInterface(iid, ppv);
                }
            }
            return E_NOINTERFACE;
        }
        found->AddRef();
        *ppv = found;
        return S_OK;
    }

    // The class's own FinalConstruct, then the marshaler aggregated with the
    // controlling unknown (the object itself, or the outer object).
    HRESULT InternalFinalConstruct(IUnknown* controlling) noexcept
    {
        HRESULT hr = static_cast<Derived*>(this)->FinalConstruct();
        if constexpr (kFreeThreaded) {
            if (SUCCEEDED(hr)) {
                hr = CoCreateFreeThreadedMarshaler(controlling, &m_pUnkMarshaler);
            }
        } else {
            (void)controlling;
        }
        return hr;
    }

    void InternalFinalRelease() noexcept
    {
        static_cast<Derived*>(this)->FinalRelease();
        if (IUnknown* marshaler = std::exchange(m_pUnkMarshaler, nullptr)) {
            marshaler->Release();
        }
    }

    // Keeps a dying object from being destroyed twice when its FinalRelease
    // takes and drops references.
    void MarkDestroying() noexcept { m_refCount.store(kDestroyingCount); }

    IUnknown* m_pUnkMarshaler = nullptr;

private:
    template <class>
    friend class CComObject;
    template <class>
    friend class CComContainedObject;
    template <class>
    friend class CComAggObject;
    template <class>
    friend class CComCreator;

    template <class First, class... Rest>
    static IUnknown* InterfaceMapIdentity(Derived* self, ComInterfaceMap<First, Rest...>) noexcept
    {
        return static_cast<typename First::type*>(self);
    }

    template <class First, class... Rest>
    static IUnknown* InterfaceMapFind(Derived* self, REFIID iid, ComInterfaceMap<First, Rest...>) noexcept
    {
        if (InlineIsEqualGUID(iid, First::Id())) {
            return static_cast<typename First::type*>(self);
        }
        if constexpr (sizeof...(Rest) > 0) {
            return InterfaceMapFind(self, iid, ComInterfaceMap<Rest...>{});
        } else {
            return nullptr;
        }
    }

    std::atomic<LONG> m_refCount{0};
};

// ---------------------------------------------------------------------------
// Plain form.
template <class T>
class CComObject final : public T {
public:
    CComObject() noexcept(std::is_nothrow_default_constructible_v<T>) { T::ModuleLockPolicy::Lock(); }
    ~CComObject()
    {
        this->MarkDestroying();
        this->InternalFinalRelease();
        T::ModuleLockPolicy::Unlock();
    }

    STDMETHOD(QueryInterface)(REFIID iid, void** ppv) noexcept override { return this->InternalQueryInterface(iid, ppv); }
    STDMETHOD_(ULONG, AddRef)() noexcept override { return this->InternalAddRef(); }
    STDMETHOD_(ULONG, Release)() noexcept override
    {
        const ULONG remaining = this->InternalRelease();
        if (remaining == 0) {
            delete this;
        }
        return remaining;
    }

    // The object's identity (its IUnknown).
    IUnknown* GetUnknown() noexcept { return T::InterfaceMapIdentity(this, typename T::InterfaceMap{}); }
};

// ---------------------------------------------------------------------------
// Aggregated form: the contained object delegates to the outer unknown.
template <class T>
class CComContainedObject final : public T {
public:
    explicit CComContainedObject(IUnknown* outer) noexcept(std::is_nothrow_default_constructible_v<T>)
        : m_pOuterUnknown(outer)
    {
    }

    STDMETHOD(QueryInterface)(REFIID iid, void** ppv) noexcept override
    {
        return m_pOuterUnknown->QueryInterface(iid, ppv);
    }
    STDMETHOD_(ULONG, AddRef)() noexcept override { return m_pOuterUnknown->AddRef(); }
    STDMETHOD_(ULONG, Release)() noexcept override { return m_pOuterUnknown->Release(); }

    IUnknown* GetControllingUnknown() const noexcept { return m_pOuterUnknown; }

private:
    template <class>
    friend class CComAggObject;

    IUnknown* m_pOuterUnknown;  // not counted: the outer object owns us
};

template <class T>
class CComAggObject final : public IUnknown {
public:
    explicit CComAggObject(IUnknown* outer) noexcept(std::is_nothrow_default_constructible_v<T>) : m_contained(outer)
    {
        T::ModuleLockPolicy::Lock();
    }
    ~CComAggObject()
    {
        m_refCount.store(kDestroyingCount);
        m_contained.InternalFinalRelease();
        T::ModuleLockPolicy::Unlock();
    }
    CComAggObject(const CComAggObject&) = delete;
    CComAggObject& operator=(const CComAggObject&) = delete;

    // Non-delegating IUnknown: IUnknown is this object; every other IID comes
    // from the contained object's interface map.
    STDMETHOD(QueryInterface)(REFIID iid, void** ppv) noexcept override
    {
        if (ppv == nullptr) {
            return E_POINTER;
        }
        if (InlineIsEqualGUID(iid, IID_IUnknown)) {
            *ppv = static_cast<IUnknown*>(this);
            AddRef();
            return S_OK;
        }
        return m_contained.InternalQueryInterface(iid, ppv);
    }
    STDMETHOD_(ULONG, AddRef)() noexcept override { return static_cast<ULONG>(m_refCount.fetch_add(1) + 1); }
    STDMETHOD_(ULONG, Release)() noexcept override
    {
        const ULONG remaining = static_cast<ULONG>(m_refCount.fetch_sub(1) - 1);
        if (remaining == 0) {
            delete this;
        }
        return remaining;
    }

    T& Contained() noexcept { return m_contained; }

private:
    template <class>
    friend class CComCreator;

    HRESULT FinalConstruct() noexcept { return m_contained.InternalFinalConstruct(m_contained.m_pOuterUnknown); }

    std::atomic<LONG> m_refCount{0};
    CComContainedObject<T> m_contained;
};

// ---------------------------------------------------------------------------
// Creation.

// The class object's checks before it creates: null out-pointer E_POINTER;
// otherwise the out-pointer is nulled, and an outer unknown with any IID but
// IID_IUnknown gives CLASS_E_NOAGGREGATION.
inline HRESULT ComCheckCreateArguments(IUnknown* outer, REFIID iid, void** ppv) noexcept
{
    if (ppv == nullptr) {
        return E_POINTER;
    }
    *ppv = nullptr;
    if (outer != nullptr && !InlineIsEqualGUID(iid, IID_IUnknown)) {
        return CLASS_E_NOAGGREGATION;
    }
    return S_OK;
}

template <class T>
class CComCreator {
public:
    // Plain form when `outer` is null, otherwise the aggregated form (then
    // IID_IUnknown yields the non-delegating IUnknown).
    static HRESULT CreateInstance(IUnknown* outer, REFIID iid, void** ppv) noexcept
    {
        if (ppv == nullptr) {
            return E_POINTER;
        }
        *ppv = nullptr;
        return outer == nullptr ? CreatePlain(iid, ppv) : CreateAggregated(outer, iid, ppv);
    }

    // Plain form: after final construction the count is 0; `init` gets the
    // object (to set fields the interfaces do not offer) and then the object is
    // queried. If the query fails or `init` raises, the object is destroyed
    // (and the exception passed on).
    template <class Init>
    static HRESULT CreateAndQuery(REFIID iid, void** ppv, Init&& init)
    {
        if (ppv == nullptr) {
            return E_POINTER;
        }
        *ppv = nullptr;
        CComObject<T>* object = nullptr;
        HRESULT hr = Construct(object);
        if (FAILED(hr)) {
            return hr;
        }
        try {
            std::forward<Init>(init)(static_cast<T&>(*object));
        } catch (...) {
            delete object;
            throw;
        }
        hr = object->QueryInterface(iid, ppv);
        if (FAILED(hr)) {
            delete object;
        }
        return hr;
    }

    // Plain form, handed out as the concrete class with one reference.
    static HRESULT Create(CComPtr<CComObject<T>>& out) noexcept
    {
        out.Release();
        CComObject<T>* object = nullptr;
        const HRESULT hr = Construct(object);
        if (SUCCEEDED(hr)) {
            out = object;
        }
        return hr;
    }

private:
    // Allocation and final construction of the plain form; the count ends at 0.
    static HRESULT Construct(CComObject<T>*& out) noexcept
    {
        out = nullptr;
        CComObject<T>* object = nullptr;
        try {
            object = new (std::nothrow) CComObject<T>();
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        } catch (...) {
            return E_FAIL;
        }
        if (object == nullptr) {
            return E_OUTOFMEMORY;
        }
        object->InternalAddRef();
        const HRESULT hr = object->InternalFinalConstruct(object->GetUnknown());
        object->InternalRelease();
        if (FAILED(hr)) {
            delete object;
            return hr;
        }
        out = object;
        return S_OK;
    }

    static HRESULT CreatePlain(REFIID iid, void** ppv) noexcept
    {
        CComObject<T>* object = nullptr;
        HRESULT hr = Construct(object);
        if (FAILED(hr)) {
            return hr;
        }
        hr = object->QueryInterface(iid, ppv);
        if (FAILED(hr)) {
            delete object;
        }
        return hr;
    }

    static HRESULT CreateAggregated(IUnknown* outer, REFIID iid, void** ppv) noexcept
    {
        CComAggObject<T>* object = nullptr;
        try {
            object = new (std::nothrow) CComAggObject<T>(outer);
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        } catch (...) {
            return E_FAIL;
        }
        if (object == nullptr) {
            return E_OUTOFMEMORY;
        }
        object->AddRef();
        HRESULT hr = object->FinalConstruct();
        object->m_refCount.fetch_sub(1);
        if (SUCCEEDED(hr)) {
            hr = object->QueryInterface(iid, ppv);
        }
        if (FAILED(hr)) {
            delete object;
        }
        return hr;
    }
};

// What a class object's IClassFactory::CreateInstance does for class T.
template <class T>
HRESULT ComClassFactoryCreateInstance(IUnknown* outer, REFIID iid, void** ppv) noexcept
{
    const HRESULT hr = ComCheckCreateArguments(outer, iid, ppv);
    if (FAILED(hr)) {
        return hr;
    }
    return CComCreator<T>::CreateInstance(outer, iid, ppv);
}
