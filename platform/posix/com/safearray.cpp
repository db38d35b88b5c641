// SAFEARRAY of fixed-size elements, text (VT_BSTR), interfaces (VT_UNKNOWN,
// VT_DISPATCH) and VARIANTs. Arrays own their elements: putting copies a text
// or VARIANT and AddRefs an interface, getting hands out a copy or a new
// reference, and destroying or shrinking frees what is dropped. A locked
// array cannot be destroyed or resized (DISP_E_ARRAYISLOCKED).
#include <atomic>
#include <cstdlib>
#include <limits>

#include "platform/com.h"

namespace {

constexpr std::size_t kHiddenBytes = 16;
constexpr USHORT kOwnershipFlags = FADF_BSTR | FADF_UNKNOWN | FADF_DISPATCH | FADF_VARIANT;

ULONG ElementSize(VARTYPE vt) noexcept
{
    switch (vt) {
    case VT_I1:
    case VT_UI1: return 1;
    case VT_I2:
    case VT_UI2:
    case VT_BOOL: return 2;
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
    case VT_R4:
    case VT_ERROR: return 4;
    case VT_I8:
    case VT_UI8:
    case VT_R8:
    case VT_DATE:
    case VT_CY: return 8;
    case VT_BSTR:
    case VT_UNKNOWN:
    case VT_DISPATCH: return sizeof(void*);
    case VT_VARIANT: return sizeof(VARIANT);
    default: return 0;
    }
}

unsigned char* HiddenBytes(SAFEARRAY* psa) noexcept
{
    return reinterpret_cast<unsigned char*>(psa) - kHiddenBytes;
}

std::atomic_ref<ULONG> Locks(SAFEARRAY* psa) noexcept { return std::atomic_ref<ULONG>(psa->cLocks); }

// Number of elements over all dimensions; false when it cannot be addressed.
bool TotalElements(const SAFEARRAY* psa, std::size_t& total) noexcept
{
    total = 1;
    for (USHORT i = 0; i < psa->cDims; ++i) {
        const std::size_t count = psa->rgsabound[i].cElements;
        if (count != 0 && total > std::numeric_limits<std::size_t>::max() / count) {
            return false;
        }
        total *= count;
    }
    return total <= std::numeric_limits<std::size_t>::max() / (psa->cbElements == 0 ? 1 : psa->cbElements);
}

// Frees the owned content of `count` elements starting at `first`.
void ReleaseElements(SAFEARRAY* psa, std::size_t first, std::size_t count) noexcept
{
    auto* data = static_cast<unsigned char*>(psa->pvData);
    // Arrays of plain values (bytes, numbers) own nothing per element.
    if (data == nullptr || (psa->fFeatures & (FADF_BSTR | FADF_UNKNOWN | FADF_DISPATCH | FADF_VARIANT)) == 0) {
        return;
    }
    for (std::size_t i = first; i < first + count; ++i) {
        void* element = data + i * psa->cbElements;
        if ((psa->fFeatures & FADF_BSTR) != 0) {
            SysFreeString(*static_cast<BSTR*>(element));
            *static_cast<BSTR*>(element) = nullptr;
        } else if ((psa->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) != 0) {
            IUnknown*& unknown = *static_cast<IUnknown**>(element);
            if (unknown != nullptr) {
                unknown->Release();
                unknown = nullptr;
            }
        } else if ((psa->fFeatures & FADF_VARIANT) != 0) {
            VariantClear(static_cast<VARIANT*>(element));
        }
    }
}

SAFEARRAY* AllocateDescriptor(UINT cDims) noexcept
{
    const std::size_t bytes = kHiddenBytes + sizeof(SAFEARRAY) + (cDims - 1) * sizeof(SAFEARRAYBOUND);
    auto* block = static_cast<unsigned char*>(std::calloc(1, bytes));
    if (block == nullptr) {
        return nullptr;
    }
    auto* psa = reinterpret_cast<SAFEARRAY*>(block + kHiddenBytes);
    psa->cDims = static_cast<USHORT>(cDims);
    return psa;
}

void FreeDescriptor(SAFEARRAY* psa) noexcept { std::free(HiddenBytes(psa)); }

void SetFeatures(SAFEARRAY* psa, VARTYPE vt) noexcept
{
    switch (vt) {
    case VT_BSTR: psa->fFeatures |= FADF_BSTR; break;
    case VT_UNKNOWN: psa->fFeatures |= FADF_UNKNOWN; break;
    case VT_DISPATCH: psa->fFeatures |= FADF_DISPATCH; break;
    case VT_VARIANT: psa->fFeatures |= FADF_VARIANT; break;
    default: break;
    }
    if (vt == VT_UNKNOWN || vt == VT_DISPATCH) {
        psa->fFeatures |= FADF_HAVEIID;
        const IID& iid = vt == VT_UNKNOWN ? IID_IUnknown : IID_IDispatch;
        std::memcpy(HiddenBytes(psa), &iid, sizeof(IID));
    } else {
        psa->fFeatures |= FADF_HAVEVARTYPE;
        const DWORD type = vt;
        std::memcpy(HiddenBytes(psa) + kHiddenBytes - sizeof(DWORD), &type, sizeof(type));
    }
}

// Byte offset of an element; the first index belongs to the first dimension,
// whose bound is stored last.
bool CellOffset(SAFEARRAY* psa, const LONG* rgIndices, std::size_t& offset) noexcept
{
    std::size_t cell = 0;
    std::size_t stride = 1;
    for (USHORT d = 0; d < psa->cDims; ++d) {
        const SAFEARRAYBOUND& bound = psa->rgsabound[psa->cDims - 1 - d];
        const long long index = static_cast<long long>(rgIndices[d]) - bound.lLbound;
        if (index < 0 || index >= static_cast<long long>(bound.cElements)) {
            return false;
        }
        cell += static_cast<std::size_t>(index) * stride;
        stride *= bound.cElements;
    }
    offset = cell * psa->cbElements;
    return true;
}

// Copies `count` elements from `from` into zeroed storage at `to`, taking
// ownership copies; on failure what was copied is released again.
HRESULT CopyElements(const SAFEARRAY* psa, const unsigned char* from, unsigned char* to, std::size_t count) noexcept
{
    if ((psa->fFeatures & kOwnershipFlags) == 0) {
        if (count != 0) {
            std::memcpy(to, from, count * psa->cbElements);
        }
        return S_OK;
    }
    for (std::size_t i = 0; i < count; ++i) {
        const void* source = from + i * psa->cbElements;
        void* target = to + i * psa->cbElements;
        if ((psa->fFeatures & FADF_BSTR) != 0) {
            BSTR text = *static_cast<const BSTR*>(source);
            if (text != nullptr) {
                BSTR copy = SysAllocStringLen(text, SysStringLen(text));
                if (copy == nullptr) {
                    return E_OUTOFMEMORY;
                }
                *static_cast<BSTR*>(target) = copy;
            }
        } else if ((psa->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) != 0) {
            IUnknown* unknown = *static_cast<IUnknown* const*>(source);
            if (unknown != nullptr) {
                unknown->AddRef();
            }
            *static_cast<IUnknown**>(target) = unknown;
        } else {
            VariantInit(static_cast<VARIANT*>(target));
            const HRESULT hr = VariantCopy(static_cast<VARIANT*>(target),
                                           const_cast<VARIANT*>(static_cast<const VARIANT*>(source)));
            if (FAILED(hr)) {
                return hr;
            }
        }
    }
    return S_OK;
}

// SafeArrayCreate; `zeroed` false leaves the content of plain-value arrays
// as the allocator gives it.
SAFEARRAY* CreateArray(VARTYPE vt, UINT cDims, SAFEARRAYBOUND* rgsabound, bool zeroed) noexcept
{
    const ULONG size = ElementSize(vt);
    if (cDims == 0 || cDims > 0xFFFF || rgsabound == nullptr || size == 0) {
        return nullptr;
    }
    SAFEARRAY* psa = AllocateDescriptor(cDims);
    if (psa == nullptr) {
        return nullptr;
    }
    psa->cbElements = size;
    for (UINT i = 0; i < cDims; ++i) {
        psa->rgsabound[i] = rgsabound[cDims - 1 - i];
    }
    SetFeatures(psa, vt);
    std::size_t total = 0;
    if (!TotalElements(psa, total)) {
        FreeDescriptor(psa);
        return nullptr;
    }
    const std::size_t count = total == 0 ? 1 : total;
    psa->pvData = zeroed ? std::calloc(count, size) : std::malloc(count * size);
    if (psa->pvData == nullptr) {
        FreeDescriptor(psa);
        return nullptr;
    }
    return psa;
}

}  // namespace

SAFEARRAY* SafeArrayCreate(VARTYPE vt, UINT cDims, SAFEARRAYBOUND* rgsabound) noexcept
{
    return CreateArray(vt, cDims, rgsabound, true);
}

namespace platform {

SAFEARRAY* CreateByteVectorToFill(ULONG count) noexcept
{
    SAFEARRAYBOUND bound{count, 0};
    return CreateArray(VT_UI1, 1, &bound, false);
}

}  // namespace platform

SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lLbound, ULONG cElements) noexcept
{
    SAFEARRAYBOUND bound{cElements, lLbound};
    return SafeArrayCreate(vt, 1, &bound);
}

HRESULT SafeArrayDestroy(SAFEARRAY* psa) noexcept
{
    if (psa == nullptr) {
        return S_OK;
    }
    if (Locks(psa).load() > 0) {
        return DISP_E_ARRAYISLOCKED;
    }
    std::size_t total = 0;
    TotalElements(psa, total);
    ReleaseElements(psa, 0, total);
    std::free(psa->pvData);
    FreeDescriptor(psa);
    return S_OK;
}

HRESULT SafeArrayLock(SAFEARRAY* psa) noexcept
{
    if (psa == nullptr) {
        return E_INVALIDARG;
    }
    if (Locks(psa).fetch_add(1) + 1 > 0xFFFF) {
        Locks(psa).fetch_sub(1);
        return E_UNEXPECTED;
    }
    return S_OK;
}

HRESULT SafeArrayUnlock(SAFEARRAY* psa) noexcept
{
    if (psa == nullptr) {
        return E_INVALIDARG;
    }
    ULONG current = Locks(psa).load();
    do {
        if (current == 0) {
            return E_UNEXPECTED;
        }
    } while (!Locks(psa).compare_exchange_weak(current, current - 1));
    return S_OK;
}

HRESULT SafeArrayAccessData(SAFEARRAY* psa, void** ppvData) noexcept
{
    if (psa == nullptr || ppvData == nullptr) {
        return E_INVALIDARG;
    }
    const HRESULT hr = SafeArrayLock(psa);
    *ppvData = SUCCEEDED(hr) ? psa->pvData : nullptr;
    return hr;
}

HRESULT SafeArrayUnaccessData(SAFEARRAY* psa) noexcept { return SafeArrayUnlock(psa); }

HRESULT SafeArrayRedim(SAFEARRAY* psa, SAFEARRAYBOUND* psaboundNew) noexcept
{
    if (psa == nullptr || psaboundNew == nullptr || (psa->fFeatures & FADF_FIXEDSIZE) != 0) {
        return E_INVALIDARG;
    }
    if (Locks(psa).load() > 0) {
        return DISP_E_ARRAYISLOCKED;
    }
    // Only the last dimension changes; its elements form the tail of the data.
    std::size_t oldTotal = 0;
    TotalElements(psa, oldTotal);
    const SAFEARRAYBOUND oldBound = psa->rgsabound[0];
    psa->rgsabound[0] = *psaboundNew;
    std::size_t newTotal = 0;
    if (!TotalElements(psa, newTotal)) {
        psa->rgsabound[0] = oldBound;
        return E_OUTOFMEMORY;
    }
    if (newTotal < oldTotal) {
        ReleaseElements(psa, newTotal, oldTotal - newTotal);
    }
    if (newTotal != oldTotal) {
        void* data = std::realloc(psa->pvData, (newTotal == 0 ? 1 : newTotal) * psa->cbElements);
        if (data == nullptr) {
            if (newTotal < oldTotal) {
                // The dropped elements are gone; keep the smaller shape.
                return S_OK;
            }
            psa->rgsabound[0] = oldBound;
            return E_OUTOFMEMORY;
        }
        psa->pvData = data;
        if (newTotal > oldTotal) {
            std::memset(static_cast<unsigned char*>(data) + oldTotal * psa->cbElements, 0,
                        (newTotal - oldTotal) * psa->cbElements);
        }
    }
    return S_OK;
}

HRESULT SafeArrayCopy(SAFEARRAY* psa, SAFEARRAY** ppsaOut) noexcept
{
    if (ppsaOut == nullptr) {
        return E_INVALIDARG;
    }
    *ppsaOut = nullptr;
    if (psa == nullptr) {
        return S_OK;
    }
    SAFEARRAY* copy = AllocateDescriptor(psa->cDims);
    if (copy == nullptr) {
        return E_OUTOFMEMORY;
    }
    std::memcpy(HiddenBytes(copy), HiddenBytes(psa), kHiddenBytes);
    copy->fFeatures = psa->fFeatures & ~(FADF_AUTO | FADF_STATIC | FADF_EMBEDDED | FADF_FIXEDSIZE);
    copy->cbElements = psa->cbElements;
    std::memcpy(copy->rgsabound, psa->rgsabound, psa->cDims * sizeof(SAFEARRAYBOUND));
    std::size_t total = 0;
    TotalElements(psa, total);
    copy->pvData = std::calloc(total == 0 ? 1 : total, psa->cbElements);
    if (copy->pvData == nullptr) {
        FreeDescriptor(copy);
        return E_OUTOFMEMORY;
    }
    const HRESULT hr = CopyElements(copy, static_cast<const unsigned char*>(psa->pvData),
                                    static_cast<unsigned char*>(copy->pvData), total);
    if (FAILED(hr)) {
        SafeArrayDestroy(copy);
        return hr;
    }
    *ppsaOut = copy;
    return S_OK;
}

HRESULT SafeArrayGetLBound(SAFEARRAY* psa, UINT nDim, LONG* plLbound) noexcept
{
    if (psa == nullptr || plLbound == nullptr) {
        return E_INVALIDARG;
    }
    if (nDim == 0 || nDim > psa->cDims) {
        return DISP_E_BADINDEX;
    }
    *plLbound = psa->rgsabound[psa->cDims - nDim].lLbound;
    return S_OK;
}

HRESULT SafeArrayGetUBound(SAFEARRAY* psa, UINT nDim, LONG* plUbound) noexcept
{
    if (psa == nullptr || plUbound == nullptr) {
        return E_INVALIDARG;
    }
    if (nDim == 0 || nDim > psa->cDims) {
        return DISP_E_BADINDEX;
    }
    const SAFEARRAYBOUND& bound = psa->rgsabound[psa->cDims - nDim];
    *plUbound = static_cast<LONG>(static_cast<long long>(bound.lLbound) + bound.cElements - 1);
    return S_OK;
}

UINT SafeArrayGetDim(SAFEARRAY* psa) noexcept { return psa == nullptr ? 0 : psa->cDims; }

UINT SafeArrayGetElemsize(SAFEARRAY* psa) noexcept { return psa == nullptr ? 0 : psa->cbElements; }

HRESULT SafeArrayGetVartype(SAFEARRAY* psa, VARTYPE* pvt) noexcept
{
    if (psa == nullptr || pvt == nullptr) {
        return E_INVALIDARG;
    }
    if ((psa->fFeatures & FADF_RECORD) != 0) {
        *pvt = VT_RECORD;
    } else if ((psa->fFeatures & FADF_HAVEIID) != 0) {
        *pvt = (psa->fFeatures & FADF_DISPATCH) != 0 ? VT_DISPATCH : VT_UNKNOWN;
    } else if ((psa->fFeatures & FADF_HAVEVARTYPE) != 0) {
        DWORD type = 0;
        std::memcpy(&type, HiddenBytes(psa) + kHiddenBytes - sizeof(DWORD), sizeof(type));
        *pvt = static_cast<VARTYPE>(type);
    } else {
        return E_INVALIDARG;
    }
    return S_OK;
}

HRESULT SafeArrayPtrOfIndex(SAFEARRAY* psa, LONG* rgIndices, void** ppvData) noexcept
{
    if (psa == nullptr || rgIndices == nullptr || ppvData == nullptr) {
        return E_INVALIDARG;
    }
    std::size_t offset = 0;
    if (!CellOffset(psa, rgIndices, offset)) {
        return DISP_E_BADINDEX;
    }
    *ppvData = static_cast<unsigned char*>(psa->pvData) + offset;
    return S_OK;
}

HRESULT SafeArrayGetElement(SAFEARRAY* psa, LONG* rgIndices, void* pv) noexcept
{
    if (psa == nullptr || rgIndices == nullptr || pv == nullptr) {
        return E_INVALIDARG;
    }
    std::size_t offset = 0;
    if (!CellOffset(psa, rgIndices, offset)) {
        return DISP_E_BADINDEX;
    }
    HRESULT hr = SafeArrayLock(psa);
    if (FAILED(hr)) {
        return hr;
    }
    const unsigned char* element = static_cast<unsigned char*>(psa->pvData) + offset;
    if ((psa->fFeatures & FADF_VARIANT) != 0) {
        // The target is treated as uninitialised, as Windows does.
        VariantInit(static_cast<VARIANT*>(pv));
    } else if ((psa->fFeatures & (FADF_BSTR | FADF_UNKNOWN | FADF_DISPATCH)) != 0) {
        *static_cast<void**>(pv) = nullptr;
    }
    hr = CopyElements(psa, element, static_cast<unsigned char*>(pv), 1);
    SafeArrayUnlock(psa);
    return hr;
}

HRESULT SafeArrayPutElement(SAFEARRAY* psa, LONG* rgIndices, void* pv) noexcept
{
    if (psa == nullptr || rgIndices == nullptr) {
        return E_INVALIDARG;
    }
    // Texts and interfaces are passed as the pointer itself, which may be null.
    const bool byPointerValue = (psa->fFeatures & (FADF_BSTR | FADF_UNKNOWN | FADF_DISPATCH)) != 0;
    if (pv == nullptr && !byPointerValue) {
        return E_INVALIDARG;
    }
    std::size_t offset = 0;
    if (!CellOffset(psa, rgIndices, offset)) {
        return DISP_E_BADINDEX;
    }
    HRESULT hr = SafeArrayLock(psa);
    if (FAILED(hr)) {
        return hr;
    }
    unsigned char* element = static_cast<unsigned char*>(psa->pvData) + offset;
    if ((psa->fFeatures & FADF_BSTR) != 0) {
        BSTR text = static_cast<BSTR>(pv);
        BSTR copy = text == nullptr ? nullptr : SysAllocStringLen(text, SysStringLen(text));
        if (text != nullptr && copy == nullptr) {
            hr = E_OUTOFMEMORY;
        } else {
            SysFreeString(*reinterpret_cast<BSTR*>(element));
            *reinterpret_cast<BSTR*>(element) = copy;
        }
    } else if ((psa->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) != 0) {
        auto* unknown = static_cast<IUnknown*>(pv);
        if (unknown != nullptr) {
            unknown->AddRef();
        }
        IUnknown* old = *reinterpret_cast<IUnknown**>(element);
        *reinterpret_cast<IUnknown**>(element) = unknown;
        if (old != nullptr) {
            old->Release();
        }
    } else if ((psa->fFeatures & FADF_VARIANT) != 0) {
        hr = VariantCopy(reinterpret_cast<VARIANT*>(element), static_cast<VARIANT*>(pv));
    } else {
        std::memcpy(element, pv, psa->cbElements);
    }
    SafeArrayUnlock(psa);
    return hr;
}
