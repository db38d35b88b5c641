// Small RAII holders for COM pointers, BSTR, VARIANT and SAFEARRAY, the same on
// both platforms (mingw-w64 has no class library of its own). Failures to
// allocate or convert raise CAtlException with the failing HRESULT; releasing
// never raises.
#pragma once

#include <cstddef>
#include <limits>
#include <memory>
#include <string_view>
#include <type_traits>
#include <utility>

#include "platform/com.h"
#include "platform/com_exception.h"

// ---------------------------------------------------------------------------
// CComPtr<T>: holds one reference to an interface (or to a class that declares
// AddRef/Release unambiguously). Taking the address (&) for an out-parameter
// empties the holder first, so a reused holder never leaks.
template <class T>
class CComPtr {
public:
    CComPtr() noexcept = default;
    CComPtr(std::nullptr_t) noexcept {}
    CComPtr(T* lp) noexcept : p(lp)
    {
        if (p != nullptr) {
            p->AddRef();
        }
    }
    CComPtr(const CComPtr& other) noexcept : CComPtr(other.p) {}
    CComPtr(CComPtr&& other) noexcept : p(std::exchange(other.p, nullptr)) {}
    ~CComPtr() { Release(); }

    CComPtr& operator=(const CComPtr& other) noexcept { return *this = other.p; }
    CComPtr& operator=(CComPtr&& other) noexcept
    {
        if (this != std::addressof(other)) {
            Attach(std::exchange(other.p, nullptr));
        }
        return *this;
    }
    CComPtr& operator=(T* lp) noexcept
    {
        if (lp != nullptr) {
            lp->AddRef();
        }
        Attach(lp);
        return *this;
    }

    operator T*() const noexcept { return p; }
    T& operator*() const noexcept { return *p; }
    T* operator->() const noexcept { return p; }
    T** operator&() noexcept
    {
        Release();
        return &p;
    }
    bool operator!() const noexcept { return p == nullptr; }

    void Release() noexcept
    {
        if (T* old = std::exchange(p, nullptr)) {
            old->Release();
        }
    }
    // Takes over a reference the caller owns.
    void Attach(T* lp) noexcept
    {
        T* old = std::exchange(p, lp);
        if (old != nullptr) {
            old->Release();
        }
    }
    // Hands the reference to the caller.
    T* Detach() noexcept { return std::exchange(p, nullptr); }
    // A new reference for an out-parameter.
    HRESULT CopyTo(T** ppT) const noexcept
    {
        if (ppT == nullptr) {
            return E_POINTER;
        }
        *ppT = p;
        if (p != nullptr) {
            p->AddRef();
        }
        return S_OK;
    }
    template <class Q>
    HRESULT QueryInterface(REFIID iid, Q** pp) const noexcept
    {
        if (pp == nullptr) {
            return E_POINTER;
        }
        *pp = nullptr;
        if (p == nullptr) {
            return E_POINTER;
        }
        return p->QueryInterface(iid, reinterpret_cast<void**>(pp));
    }

    T* p = nullptr;
};

// ---------------------------------------------------------------------------
// CComBSTR: owns one BSTR (m_str, possibly null). Construction from text
// raises E_OUTOFMEMORY when the BSTR cannot be allocated.
class CComBSTR {
public:
    CComBSTR() noexcept = default;
    CComBSTR(std::nullptr_t) noexcept {}
    CComBSTR(const wchar_t* text) : m_str(text == nullptr ? nullptr : Allocate(text)) {}
    CComBSTR(std::wstring_view text) : m_str(Allocate(text)) {}
    CComBSTR(const CComBSTR& other) : m_str(other.Copy()) {}
    CComBSTR(CComBSTR&& other) noexcept : m_str(std::exchange(other.m_str, nullptr)) {}
    ~CComBSTR() { SysFreeString(m_str); }

    CComBSTR& operator=(const CComBSTR& other)
    {
        if (this != std::addressof(other)) {
            Attach(other.Copy());
        }
        return *this;
    }
    CComBSTR& operator=(CComBSTR&& other) noexcept
    {
        if (this != std::addressof(other)) {
            Attach(std::exchange(other.m_str, nullptr));
        }
        return *this;
    }
    CComBSTR& operator=(std::wstring_view text)
    {
        Attach(Allocate(text));
        return *this;
    }

    operator BSTR() const noexcept { return m_str; }
    BSTR* operator&() noexcept
    {
        Empty();
        return &m_str;
    }
    bool operator!() const noexcept { return m_str == nullptr; }

    unsigned int Length() const noexcept { return SysStringLen(m_str); }
    unsigned int ByteLength() const noexcept { return SysStringByteLen(m_str); }
    // The whole text, embedded NULs included; empty for a null BSTR.
    std::wstring_view View() const noexcept { return m_str == nullptr ? std::wstring_view() : std::wstring_view(m_str, Length()); }
    void Empty() noexcept
    {
        SysFreeString(m_str);
        m_str = nullptr;
    }
    void Attach(BSTR src) noexcept
    {
        if (src != m_str) {
            SysFreeString(m_str);
            m_str = src;
        }
    }
    BSTR Detach() noexcept { return std::exchange(m_str, nullptr); }
    // A new BSTR the caller owns (null for a null text).
    BSTR Copy() const
    {
        return m_str == nullptr ? nullptr : Allocate(std::wstring_view(m_str, Length()));
    }
    HRESULT CopyTo(BSTR* pbstr) const
    {
        if (pbstr == nullptr) {
            return E_POINTER;
        }
        *pbstr = Copy();
        return S_OK;
    }

    BSTR m_str = nullptr;

private:
    static BSTR Allocate(std::wstring_view text)
    {
        if (text.size() > std::numeric_limits<UINT>::max() / sizeof(OLECHAR)) {
            AtlThrow(E_OUTOFMEMORY);
        }
        BSTR result = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
        if (result == nullptr) {
            AtlThrow(E_OUTOFMEMORY);
        }
        return result;
    }
};

// ---------------------------------------------------------------------------
// CComVariant: a VARIANT that clears itself. It is a VARIANT, so its address
// can be passed where a VARIANT* is expected (clear it first for an out-value).
class CComVariant : public VARIANT {
public:
    CComVariant() noexcept { VariantInit(this); }
    CComVariant(const wchar_t* text)
    {
        VariantInit(this);
        SetText(text == nullptr ? std::wstring_view() : std::wstring_view(text));
    }
    CComVariant(std::wstring_view text)
    {
        VariantInit(this);
        SetText(text);
    }
    CComVariant(IUnknown* unknown) noexcept
    {
        VariantInit(this);
        vt = VT_UNKNOWN;
        punkVal = unknown;
        if (unknown != nullptr) {
            unknown->AddRef();
        }
    }
    CComVariant(bool value) noexcept
    {
        VariantInit(this);
        vt = VT_BOOL;
        boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
    }
    CComVariant(int value) noexcept
    {
        VariantInit(this);
        vt = VT_I4;
        lVal = value;
    }
    CComVariant(unsigned int value) noexcept
    {
        VariantInit(this);
        vt = VT_UI4;
        ulVal = value;
    }
    // `long` is 32 bits on Windows and 64 elsewhere; the type follows the size.
    CComVariant(long value) noexcept
    {
        VariantInit(this);
        if constexpr (sizeof(long) == 4) {
            vt = VT_I4;
            lVal = static_cast<LONG>(value);
        } else {
            vt = VT_I8;
            llVal = value;
        }
    }
    CComVariant(long long value) noexcept
    {
        VariantInit(this);
        vt = VT_I8;
        llVal = value;
    }
    CComVariant(double value) noexcept
    {
        VariantInit(this);
        vt = VT_R8;
        dblVal = value;
    }
    CComVariant(const VARIANT& other)
    {
        VariantInit(this);
        Copy(other);
    }
    CComVariant(const CComVariant& other) : CComVariant(static_cast<const VARIANT&>(other)) {}
    CComVariant(CComVariant&& other) noexcept : VARIANT(other) { VariantInit(&other); }
    ~CComVariant() { VariantClear(this); }

    CComVariant& operator=(const CComVariant& other)
    {
        if (this != std::addressof(other)) {
            Copy(other);
        }
        return *this;
    }
    CComVariant& operator=(CComVariant&& other) noexcept
    {
        if (this != std::addressof(other)) {
            VariantClear(this);
            static_cast<VARIANT&>(*this) = other;
            VariantInit(&other);
        }
        return *this;
    }

    HRESULT Clear() noexcept { return VariantClear(this); }
    // Converts in place; raises the conversion's failure.
    void ChangeType(VARTYPE type, USHORT flags = 0) { AtlCheck(VariantChangeType(this, this, flags, type)); }
    // Replaces the value by a copy of `source`; raises on failure.
    void Copy(const VARIANT& source) { AtlCheck(VariantCopy(this, const_cast<VARIANT*>(&source))); }
    // Takes over `source` (left VT_EMPTY) without copying.
    HRESULT Attach(VARIANT* source) noexcept
    {
        if (source == nullptr) {
            return E_INVALIDARG;
        }
        const HRESULT hr = VariantClear(this);
        if (SUCCEEDED(hr)) {
            static_cast<VARIANT&>(*this) = *source;
            VariantInit(source);
        }
        return hr;
    }
    // Moves the value into `destination` (which must not own anything).
    HRESULT Detach(VARIANT* destination) noexcept
    {
        if (destination == nullptr) {
            return E_POINTER;
        }
        *destination = *this;
        VariantInit(this);
        return S_OK;
    }

private:
    void SetText(std::wstring_view text)
    {
        if (text.size() > std::numeric_limits<UINT>::max() / sizeof(OLECHAR)) {
            AtlThrow(E_OUTOFMEMORY);
        }
        BSTR value = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
        if (value == nullptr) {
            AtlThrow(E_OUTOFMEMORY);
        }
        vt = VT_BSTR;
        bstrVal = value;
    }
};

// ---------------------------------------------------------------------------
// CComSafeArray<T>: owns a one-dimensional SAFEARRAY of BYTE (VT_UI1),
// VARIANT (VT_VARIANT) or IUnknown* (VT_UNKNOWN), lower bound 0. The array is
// kept locked while held so GetAt can hand out references into it; Detach
// unlocks it and gives it to the caller. Creation failures raise
// E_OUTOFMEMORY; other failures raise their HRESULT.
template <class T>
struct CComSafeArrayTraits;
template <>
struct CComSafeArrayTraits<BYTE> {
    static constexpr VARTYPE vt = VT_UI1;
};
template <>
struct CComSafeArrayTraits<VARIANT> {
    static constexpr VARTYPE vt = VT_VARIANT;
};
template <>
struct CComSafeArrayTraits<IUnknown*> {
    static constexpr VARTYPE vt = VT_UNKNOWN;
};

namespace platform {
// A vector of `count` bytes (VT_UI1, lower bound 0) for a caller that fills
// it at once: SafeArrayCreateVector, except that the Linux runtime leaves
// the bytes as the allocator gives them instead of zeroing what is about to
// be overwritten. Destroyed with SafeArrayDestroy; null when memory runs out.
SAFEARRAY* CreateByteVectorToFill(ULONG count) noexcept;
}  // namespace platform

template <class T>
class CComSafeArray {
public:
    static constexpr VARTYPE kType = CComSafeArrayTraits<T>::vt;

    CComSafeArray() noexcept = default;
    explicit CComSafeArray(ULONG count) { Create(count); }
    CComSafeArray(const CComSafeArray&) = delete;
    CComSafeArray& operator=(const CComSafeArray&) = delete;
    CComSafeArray(CComSafeArray&& other) noexcept : m_psa(std::exchange(other.m_psa, nullptr)) {}
    CComSafeArray& operator=(CComSafeArray&& other) noexcept
    {
        if (this != std::addressof(other)) {
            Destroy();
            m_psa = std::exchange(other.m_psa, nullptr);
        }
        return *this;
    }
    ~CComSafeArray() { Destroy(); }

    // Replaces any held array by a new one of `count` zeroed elements.
    void Create(ULONG count = 0)
    {
        Destroy();
        SAFEARRAY* psa = SafeArrayCreateVector(kType, 0, count);
        if (psa == nullptr) {
            AtlThrow(E_OUTOFMEMORY);
        }
        SafeArrayLock(psa);
        m_psa = psa;
    }
    // Replaces any held array by a new byte array of `count` elements whose
    // content the caller overwrites (platform::CreateByteVectorToFill).
    void CreateToFill(ULONG count)
        requires std::is_same_v<T, BYTE>
    {
        Destroy();
        SAFEARRAY* psa = platform::CreateByteVectorToFill(count);
        if (psa == nullptr) {
            AtlThrow(E_OUTOFMEMORY);
        }
        SafeArrayLock(psa);
        m_psa = psa;
    }
    void Destroy() noexcept
    {
        if (SAFEARRAY* psa = std::exchange(m_psa, nullptr)) {
            SafeArrayUnlock(psa);
            SafeArrayDestroy(psa);
        }
    }
    // Takes over a one-dimensional array of the right type; raises
    // E_INVALIDARG for anything else (the array then stays the caller's).
    void Attach(SAFEARRAY* psa)
    {
        if (psa != nullptr) {
            VARTYPE type = VT_EMPTY;
            if (SafeArrayGetDim(psa) != 1 || FAILED(SafeArrayGetVartype(psa, &type)) || type != kType) {
                AtlThrow(E_INVALIDARG);
            }
            AtlCheck(SafeArrayLock(psa));
        }
        Destroy();
        m_psa = psa;
    }
    // The array, unlocked, for the caller to own.
    SAFEARRAY* Detach() noexcept
    {
        if (m_psa != nullptr) {
            SafeArrayUnlock(m_psa);
        }
        return std::exchange(m_psa, nullptr);
    }

    ULONG GetCount() const noexcept { return m_psa == nullptr ? 0 : m_psa->rgsabound[0].cElements; }
    LONG GetLowerBound() const noexcept { return m_psa == nullptr ? 0 : m_psa->rgsabound[0].lLbound; }
    T* GetData() const noexcept { return m_psa == nullptr ? nullptr : static_cast<T*>(m_psa->pvData); }
    // A reference into the array, by zero-based position.
    T& GetAt(ULONG index) const
    {
        if (index >= GetCount()) {
            AtlThrow(DISP_E_BADINDEX);
        }
        return GetData()[index];
    }

    // Changes the element count; shrinking releases the dropped elements.
    void Resize(ULONG count)
    {
        if (m_psa == nullptr) {
            Create(count);
            return;
        }
        SAFEARRAYBOUND bound{count, GetLowerBound()};
        SafeArrayUnlock(m_psa);
        const HRESULT hr = SafeArrayRedim(m_psa, &bound);
        SafeArrayLock(m_psa);
        AtlCheck(hr);
    }
    // Appends one element (a copy of it); the array grows by one.
    void Add(const T& value)
    {
        const ULONG count = GetCount();
        Resize(count + 1);
        try {
            SetAt(count, value);
        } catch (...) {
            Resize(count);
            throw;
        }
    }
    void SetAt(ULONG index, const T& value)
    {
        T& slot = GetAt(index);
        if constexpr (std::is_same_v<T, VARIANT>) {
            AtlCheck(VariantCopy(&slot, const_cast<VARIANT*>(&value)));
        } else if constexpr (std::is_same_v<T, IUnknown*>) {
            if (value != nullptr) {
                value->AddRef();
            }
            IUnknown* old = std::exchange(slot, value);
            if (old != nullptr) {
                old->Release();
            }
        } else {
            slot = value;
        }
    }

    operator SAFEARRAY*() const noexcept { return m_psa; }

    SAFEARRAY* m_psa = nullptr;
};
