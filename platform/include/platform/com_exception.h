// CAtlException: the class-library failure raised by the RAII holders of
// platform/com_holders.h when an allocation or conversion fails. It carries
// the failing HRESULT; the interface boundary turns it back into that result.
#pragma once

#include "platform/com.h"

class CAtlException {
public:
    CAtlException(HRESULT hr = E_FAIL) noexcept : m_hr(hr) {}
    operator HRESULT() const noexcept { return m_hr; }

    HRESULT m_hr;
};

[[noreturn]] inline void AtlThrow(HRESULT hr) { throw CAtlException(hr); }

// Raises CAtlException for a failing HRESULT; passes success codes through.
inline HRESULT AtlCheck(HRESULT hr)
{
    if (FAILED(hr)) {
        AtlThrow(hr);
    }
    return hr;
}
