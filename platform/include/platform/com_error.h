// The COM error type `_com_error` and the minimal `_bstr_t` text holder its
// Source() and Description() return, for builds without the Windows headers.
// The members that both builds share are: Error, WCode, ErrorInfo, Source,
// Description, HelpContext, HelpFile, GUID_, ErrorMessage; and of _bstr_t:
// construction, copying, `operator const wchar_t*`, length, GetBSTR.
// Only platform/com.h includes this header.
#pragma once

#include <string>

#include "platform/com_runtime.h"

// Owns one BSTR (a private copy; Windows shares a counted one, which no caller
// can observe). A null text converts to a null pointer, as on Windows.
class _bstr_t {
public:
    _bstr_t() noexcept = default;
    _bstr_t(const wchar_t* text);  // raises _com_error(E_OUTOFMEMORY)
    _bstr_t(BSTR bstr, bool copy);  // copy=false takes ownership
    _bstr_t(const _bstr_t& other);
    _bstr_t(_bstr_t&& other) noexcept;
    _bstr_t& operator=(const _bstr_t& other);
    _bstr_t& operator=(_bstr_t&& other) noexcept;
    ~_bstr_t();

    operator const wchar_t*() const noexcept { return m_bstr; }
    operator wchar_t*() const noexcept { return m_bstr; }
    bool operator!() const noexcept { return m_bstr == nullptr; }
    unsigned int length() const noexcept { return SysStringLen(m_bstr); }
    BSTR GetBSTR() const noexcept { return m_bstr; }
    BSTR copy() const;  // a new BSTR the caller owns
    void Attach(BSTR bstr) noexcept;
    BSTR Detach() noexcept;

private:
    BSTR m_bstr = nullptr;
};

// Carries a failing HRESULT and, optionally, the callee's error information.
class _com_error {
public:
    _com_error(HRESULT hr, IErrorInfo* perrinfo = nullptr, bool fAddRef = false) noexcept;
    _com_error(const _com_error& that) noexcept;
    _com_error& operator=(const _com_error& that) noexcept;
    virtual ~_com_error();

    HRESULT Error() const noexcept { return m_hresult; }
    WORD WCode() const noexcept { return HRESULTToWCode(m_hresult); }
    IErrorInfo* ErrorInfo() const noexcept;  // AddRef'd, or null
    _bstr_t Description() const;
    _bstr_t Source() const;
    _bstr_t HelpFile() const;
    DWORD HelpContext() const noexcept;
    GUID GUID_() const noexcept;
    // Computed once and kept (see platform/com.h).
    const wchar_t* ErrorMessage() const noexcept;

    static HRESULT WCodeToHRESULT(WORD wCode) noexcept;
    static WORD HRESULTToWCode(HRESULT hr) noexcept;

private:
    HRESULT m_hresult;
    IErrorInfo* m_perrinfo;  // one reference, released by the destructor
    mutable std::wstring m_message;
    mutable bool m_messageReady = false;
    mutable wchar_t m_fallback[32] = {};
};

[[noreturn]] void _com_issue_error(HRESULT hr);
[[noreturn]] void _com_issue_errorex(HRESULT hr, IUnknown* punk, REFIID riid);
