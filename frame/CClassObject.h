// The class object of one co-class: IUnknown and IClassFactory only. The
// object table caches one per class until the component is unloaded; while
// anyone else holds a reference beyond the cache's own, the class object keeps
// the module locked (the count rising from 1 to 2 locks, falling from 2 to 1
// unlocks), so DllCanUnloadNow says S_FALSE while the host holds it.
//
// This is not written with CComObjectRoot because its module lock follows its
// reference count instead of its lifetime.
#pragma once

#include "frame/CVskMpeg2TsTranscoderModule.h"
#include "platform/com.h"

#include <atomic>

namespace frame {

// Creates an object of the class: CreateInstance's arguments after the class
// object's own checks.
using PfnCreateObject = HRESULT (*)(IUnknown* outer, REFIID iid, void** ppv);

class CClassObject final : public IClassFactory {
public:
    explicit CClassObject(PfnCreateObject create) noexcept : m_create(create) {}
    CClassObject(const CClassObject&) = delete;
    CClassObject& operator=(const CClassObject&) = delete;

    // A new class object with one reference (the cache's), or null.
    static CClassObject* Create(PfnCreateObject create) noexcept;

    STDMETHOD(QueryInterface)(REFIID iid, void** ppv) noexcept override;
    STDMETHOD_(ULONG, AddRef)() noexcept override;
    STDMETHOD_(ULONG, Release)() noexcept override;

    STDMETHOD(CreateInstance)(IUnknown* outer, REFIID iid, void** ppv) noexcept override;
    STDMETHOD(LockServer)(BOOL lock) noexcept override;

private:
    ~CClassObject() = default;

    std::atomic<LONG> m_refCount{0};
    PfnCreateObject m_create;
};

}  // namespace frame
