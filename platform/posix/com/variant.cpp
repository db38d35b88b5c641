// VARIANT lifetime and conversion. Conversion targets: VT_BSTR from the
// integer, boolean, floating-point, empty and text types (Windows' texts:
// decimal integers, "-1"/"0" for booleans unless VARIANT_ALPHABOOL or
// VARIANT_LOCALBOOL asks for "True"/"False"), and any type to itself.
// Everything else answers DISP_E_TYPEMISMATCH.
#include <cstdio>
#include <string>

#include "platform/com.h"

namespace {

bool IsValidType(VARTYPE vt) noexcept
{
    if ((vt & ~(VT_TYPEMASK | VT_ARRAY | VT_BYREF)) != 0) {
        return false;
    }
    const VARTYPE base = vt & VT_TYPEMASK;
    const bool modified = (vt & (VT_ARRAY | VT_BYREF)) != 0;
    if (base == VT_VARIANT) {
        return modified;
    }
    if (base == VT_RECORD) {
        return true;
    }
    if (base == 15 || base > VT_UINT) {
        return false;
    }
    if ((base == VT_EMPTY || base == VT_NULL) && modified) {
        return false;
    }
    return true;
}

BSTR TextOf(const wchar_t* text) noexcept { return SysAllocString(text); }

BSTR DecimalText(long long value) noexcept
{
    wchar_t buffer[32];
    std::swprintf(buffer, 32, L"%lld", value);
    return TextOf(buffer);
}

BSTR UnsignedDecimalText(unsigned long long value) noexcept
{
    wchar_t buffer[32];
    std::swprintf(buffer, 32, L"%llu", value);
    return TextOf(buffer);
}

BSTR RealText(double value, int digits) noexcept
{
    wchar_t buffer[64];
    std::swprintf(buffer, 64, L"%.*G", digits, value);
    return TextOf(buffer);
}

// Converts `src` (not by reference) to text; on success *out owns the text.
HRESULT ToText(const VARIANT& src, USHORT flags, BSTR* out) noexcept
{
    BSTR text = nullptr;
    switch (src.vt) {
    case VT_EMPTY: text = SysAllocStringLen(nullptr, 0); break;
    case VT_I1: text = DecimalText(src.cVal); break;
    case VT_UI1: text = UnsignedDecimalText(src.bVal); break;
    case VT_I2: text = DecimalText(src.iVal); break;
    case VT_UI2: text = UnsignedDecimalText(src.uiVal); break;
    case VT_I4: text = DecimalText(src.lVal); break;
    case VT_UI4: text = UnsignedDecimalText(src.ulVal); break;
    case VT_INT: text = DecimalText(src.intVal); break;
    case VT_UINT: text = UnsignedDecimalText(src.uintVal); break;
    case VT_I8: text = DecimalText(src.llVal); break;
    case VT_UI8: text = UnsignedDecimalText(src.ullVal); break;
    case VT_R4: text = RealText(src.fltVal, 7); break;
    case VT_R8: text = RealText(src.dblVal, 15); break;
    case VT_BOOL:
        if ((flags & (VARIANT_ALPHABOOL | VARIANT_LOCALBOOL)) != 0) {
            text = TextOf(src.boolVal != VARIANT_FALSE ? L"True" : L"False");
        } else {
            text = TextOf(src.boolVal != VARIANT_FALSE ? L"-1" : L"0");
        }
        break;
    case VT_BSTR:
        text = SysAllocStringLen(src.bstrVal, SysStringLen(src.bstrVal));
        break;
    default:
        return DISP_E_TYPEMISMATCH;
    }
    if (text == nullptr) {
        return E_OUTOFMEMORY;
    }
    *out = text;
    return S_OK;
}

// Reads through one level of VT_BYREF so conversions see the value.
bool Dereference(const VARIANT& src, VARIANT& value) noexcept
{
    value = src;
    if ((src.vt & VT_BYREF) == 0) {
        return true;
    }
    const VARTYPE base = src.vt & ~VT_BYREF;
    if (src.byref == nullptr) {
        return false;
    }
    if (base == VT_VARIANT) {
        value = *src.pvarVal;
        return (value.vt & VT_BYREF) == 0;
    }
    if ((base & VT_ARRAY) != 0) {
        value.parray = *src.pparray;
        value.vt = base;
        return true;
    }
    value.vt = base;
    switch (base) {
    case VT_I1: value.cVal = *src.pcVal; break;
    case VT_UI1: value.bVal = *src.pbVal; break;
    case VT_I2: value.iVal = *src.piVal; break;
    case VT_UI2: value.uiVal = *src.puiVal; break;
    case VT_BOOL: value.boolVal = *src.pboolVal; break;
    case VT_I4: value.lVal = *src.plVal; break;
    case VT_UI4: value.ulVal = *src.pulVal; break;
    case VT_INT: value.intVal = *src.pintVal; break;
    case VT_UINT: value.uintVal = *src.puintVal; break;
    case VT_ERROR: value.scode = *src.pscode; break;
    case VT_I8: value.llVal = *src.pllVal; break;
    case VT_UI8: value.ullVal = *src.pullVal; break;
    case VT_R4: value.fltVal = *src.pfltVal; break;
    case VT_R8: value.dblVal = *src.pdblVal; break;
    case VT_DATE: value.date = *src.pdate; break;
    case VT_BSTR: value.bstrVal = *src.pbstrVal; break;
    case VT_UNKNOWN: value.punkVal = *src.ppunkVal; break;
    case VT_DISPATCH: value.pdispVal = *src.ppdispVal; break;
    default: return false;
    }
    return true;
}

}  // namespace

void VariantInit(VARIANTARG* pvarg) noexcept
{
    if (pvarg != nullptr) {
        pvarg->vt = VT_EMPTY;
        pvarg->wReserved1 = 0;
        pvarg->wReserved2 = 0;
        pvarg->wReserved3 = 0;
    }
}

HRESULT VariantClear(VARIANTARG* pvarg) noexcept
{
    if (pvarg == nullptr) {
        return E_INVALIDARG;
    }
    if (!IsValidType(pvarg->vt)) {
        return DISP_E_BADVARTYPE;
    }
    HRESULT hr = S_OK;
    if ((pvarg->vt & VT_BYREF) == 0) {
        if ((pvarg->vt & VT_ARRAY) != 0) {
            hr = SafeArrayDestroy(pvarg->parray);
        } else if (pvarg->vt == VT_BSTR) {
            SysFreeString(pvarg->bstrVal);
        } else if (pvarg->vt == VT_UNKNOWN || pvarg->vt == VT_DISPATCH) {
            if (pvarg->punkVal != nullptr) {
                pvarg->punkVal->Release();
            }
        }
    }
    if (SUCCEEDED(hr)) {
        pvarg->vt = VT_EMPTY;
    }
    return hr;
}

HRESULT VariantCopy(VARIANTARG* pvargDest, VARIANTARG* pvargSrc) noexcept
{
    if (pvargDest == nullptr || pvargSrc == nullptr) {
        return E_INVALIDARG;
    }
    if (!IsValidType(pvargSrc->vt)) {
        return DISP_E_BADVARTYPE;
    }
    if (pvargDest == pvargSrc) {
        return S_OK;
    }
    // Build the copy first so a failure leaves the destination as it was
    // cleared, and the source stays intact even if it lives inside it.
    VARIANT copy = *pvargSrc;
    if ((pvargSrc->vt & VT_BYREF) == 0) {
        if ((pvargSrc->vt & VT_ARRAY) != 0) {
            copy.parray = nullptr;
            if (pvargSrc->parray != nullptr) {
                const HRESULT hr = SafeArrayCopy(pvargSrc->parray, &copy.parray);
                if (FAILED(hr)) {
                    return hr;
                }
            }
        } else if (pvargSrc->vt == VT_BSTR) {
            if (pvargSrc->bstrVal != nullptr) {
                copy.bstrVal = SysAllocStringLen(pvargSrc->bstrVal, SysStringLen(pvargSrc->bstrVal));
                if (copy.bstrVal == nullptr) {
                    return E_OUTOFMEMORY;
                }
            }
        } else if (pvargSrc->vt == VT_UNKNOWN || pvargSrc->vt == VT_DISPATCH) {
            if (pvargSrc->punkVal != nullptr) {
                pvargSrc->punkVal->AddRef();
            }
        }
    }
    const HRESULT hr = VariantClear(pvargDest);
    if (FAILED(hr)) {
        VariantClear(&copy);
        return hr;
    }
    *pvargDest = copy;
    return S_OK;
}

HRESULT VariantChangeTypeEx(VARIANTARG* pvargDest, VARIANTARG* pvarSrc, LCID /*lcid*/, USHORT wFlags,
                            VARTYPE vt) noexcept
{
    if (pvargDest == nullptr || pvarSrc == nullptr) {
        return E_INVALIDARG;
    }
    if (!IsValidType(pvarSrc->vt)) {
        return DISP_E_BADVARTYPE;
    }
    if (vt == pvarSrc->vt) {
        if (pvargDest == pvarSrc) {
            return S_OK;
        }
        return VariantCopy(pvargDest, pvarSrc);
    }
    if (vt != VT_BSTR) {
        return IsValidType(vt) ? DISP_E_TYPEMISMATCH : DISP_E_BADVARTYPE;
    }
    VARIANT value;
    if (!Dereference(*pvarSrc, value)) {
        return DISP_E_TYPEMISMATCH;
    }
    BSTR text = nullptr;
    const HRESULT hr = ToText(value, wFlags, &text);
    if (FAILED(hr)) {
        return hr;
    }
    // The destination may be the source: clear only after converting.
    const HRESULT cleared = VariantClear(pvargDest);
    if (FAILED(cleared)) {
        SysFreeString(text);
        return cleared;
    }
    pvargDest->vt = VT_BSTR;
    pvargDest->bstrVal = text;
    return S_OK;
}

HRESULT VariantChangeType(VARIANTARG* pvargDest, VARIANTARG* pvarSrc, USHORT wFlags, VARTYPE vt) noexcept
{
    return VariantChangeTypeEx(pvargDest, pvarSrc, GetThreadLocale(), wFlags, vt);
}
