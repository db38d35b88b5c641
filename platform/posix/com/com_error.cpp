// _bstr_t and _com_error for the non-Windows build, and the raising helpers.
// _com_error's message comes from the system's message table (platform
// HResultText, as Windows asks FormatMessage) and falls back to the two texts
// Windows uses when the system has none.
#include <atomic>
#include <cstdio>
#include <utility>

#include "platform/com.h"
#include "platform/hresult_text.h"

namespace {

BSTR CopyText(const wchar_t* text)
{
    if (text == nullptr) {
        return nullptr;
    }
    BSTR copy = SysAllocString(text);
    if (copy == nullptr) {
        _com_issue_error(E_OUTOFMEMORY);
    }
    return copy;
}

BSTR CopyBstr(BSTR text)
{
    if (text == nullptr) {
        return nullptr;
    }
    BSTR copy = SysAllocStringLen(text, SysStringLen(text));
    if (copy == nullptr) {
        _com_issue_error(E_OUTOFMEMORY);
    }
    return copy;
}

}  // namespace

// ---------------------------------------------------------------------------

_bstr_t::_bstr_t(const wchar_t* text) : m_bstr(CopyText(text)) {}

_bstr_t::_bstr_t(BSTR bstr, bool copy) : m_bstr(copy ? CopyBstr(bstr) : bstr) {}

_bstr_t::_bstr_t(const _bstr_t& other) : m_bstr(CopyBstr(other.m_bstr)) {}

_bstr_t::_bstr_t(_bstr_t&& other) noexcept : m_bstr(std::exchange(other.m_bstr, nullptr)) {}

_bstr_t& _bstr_t::operator=(const _bstr_t& other)
{
    if (this != &other) {
        BSTR copy = CopyBstr(other.m_bstr);
        SysFreeString(m_bstr);
        m_bstr = copy;
    }
    return *this;
}

_bstr_t& _bstr_t::operator=(_bstr_t&& other) noexcept
{
    if (this != &other) {
        SysFreeString(m_bstr);
        m_bstr = std::exchange(other.m_bstr, nullptr);
    }
    return *this;
}

_bstr_t::~_bstr_t() { SysFreeString(m_bstr); }

BSTR _bstr_t::copy() const { return CopyBstr(m_bstr); }

void _bstr_t::Attach(BSTR bstr) noexcept
{
    SysFreeString(m_bstr);
    m_bstr = bstr;
}

BSTR _bstr_t::Detach() noexcept { return std::exchange(m_bstr, nullptr); }

// ---------------------------------------------------------------------------

namespace {
constexpr HRESULT kWCodeFirst = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0x200);
constexpr HRESULT kWCodeLast = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF + 1, 0) - 1;
}  // namespace

_com_error::_com_error(HRESULT hr, IErrorInfo* perrinfo, bool fAddRef) noexcept
    : m_hresult(hr), m_perrinfo(perrinfo)
{
    if (m_perrinfo != nullptr && fAddRef) {
        m_perrinfo->AddRef();
    }
}

_com_error::_com_error(const _com_error& that) noexcept : m_hresult(that.m_hresult), m_perrinfo(that.m_perrinfo)
{
    if (m_perrinfo != nullptr) {
        m_perrinfo->AddRef();
    }
}

_com_error& _com_error::operator=(const _com_error& that) noexcept
{
    if (this != &that) {
        if (that.m_perrinfo != nullptr) {
            that.m_perrinfo->AddRef();
        }
        if (m_perrinfo != nullptr) {
            m_perrinfo->Release();
        }
        m_hresult = that.m_hresult;
        m_perrinfo = that.m_perrinfo;
        m_message.clear();
        m_messageReady = false;
    }
    return *this;
}

_com_error::~_com_error()
{
    if (m_perrinfo != nullptr) {
        m_perrinfo->Release();
    }
}

IErrorInfo* _com_error::ErrorInfo() const noexcept
{
    if (m_perrinfo != nullptr) {
        m_perrinfo->AddRef();
    }
    return m_perrinfo;
}

_bstr_t _com_error::Description() const
{
    BSTR text = nullptr;
    if (m_perrinfo != nullptr) {
        m_perrinfo->GetDescription(&text);
    }
    return _bstr_t(text, false);
}

_bstr_t _com_error::Source() const
{
    BSTR text = nullptr;
    if (m_perrinfo != nullptr) {
        m_perrinfo->GetSource(&text);
    }
    return _bstr_t(text, false);
}

_bstr_t _com_error::HelpFile() const
{
    BSTR text = nullptr;
    if (m_perrinfo != nullptr) {
        m_perrinfo->GetHelpFile(&text);
    }
    return _bstr_t(text, false);
}

DWORD _com_error::HelpContext() const noexcept
{
    DWORD context = 0;
    if (m_perrinfo != nullptr) {
        m_perrinfo->GetHelpContext(&context);
    }
    return context;
}

GUID _com_error::GUID_() const noexcept
{
    GUID guid = GUID_NULL;
    if (m_perrinfo != nullptr) {
        m_perrinfo->GetGUID(&guid);
    }
    return guid;
}

const wchar_t* _com_error::ErrorMessage() const noexcept
{
    if (m_messageReady) {
        return m_message.empty() ? m_fallback : m_message.c_str();
    }
    m_messageReady = true;
    try {
        std::wstring text;
        if (platform::HResultText(static_cast<std::int32_t>(m_hresult), text) && !text.empty()) {
            if (text.size() > 1 && text.back() == L'\n') {
                text.pop_back();
                if (text.back() == L'\r') {
                    text.pop_back();
                }
            }
            m_message = std::move(text);
            if (!m_message.empty()) {
                return m_message.c_str();
            }
        }
    } catch (...) {
        m_message.clear();
    }
    const WORD code = WCode();
    if (code != 0) {
        std::swprintf(m_fallback, 32, L"IDispatch error #%d", static_cast<int>(code));
    } else {
        std::swprintf(m_fallback, 32, L"Unknown error 0x%0lX", static_cast<unsigned long>(static_cast<ULONG>(m_hresult)));
    }
    return m_fallback;
}

HRESULT _com_error::WCodeToHRESULT(WORD wCode) noexcept
{
    return wCode >= 0xFE00 ? kWCodeLast : kWCodeFirst + wCode;
}

WORD _com_error::HRESULTToWCode(HRESULT hr) noexcept
{
    return (hr >= kWCodeFirst && hr <= kWCodeLast) ? static_cast<WORD>(hr - kWCodeFirst) : 0;
}

// ---------------------------------------------------------------------------

void _com_issue_error(HRESULT hr) { throw _com_error(hr); }
