#include "frame/ErrorBoundary.h"

#include "dedazodu/Exception.h"
#include "dedazodu/Levels.h"
#include "frame/AppLog.h"
#include "platform/com_holders.h"

#include <cstdio>
#include <exception>
#include <sstream>

namespace frame {
namespace {

std::wstring Hex(HRESULT hr)
{
    wchar_t digits[16] = {};
    std::swprintf(digits, 16, L"%x", static_cast<unsigned int>(hr));
    return digits;
}

std::wstring Widen(const char* text)
{
    std::wstring wide;
    if (text != nullptr) {
        for (; *text != '\0'; ++text)
            wide += static_cast<wchar_t>(static_cast<unsigned char>(*text));
    }
    return wide;
}

std::wstring Suffix(HRESULT hr, const wchar_t* message)
{
    return L"(0x" + Hex(hr) + L":" + (message != nullptr ? message : L"") + L")";
}

}  // namespace

void RaiseHr(HRESULT hr)
{
    throw hr;
}

void CheckHost(HRESULT hr, IUnknown* callee, REFIID iid)
{
    if (FAILED(hr))
        _com_issue_errorex(hr, callee, iid);
}

std::wstring FormatHResultMessage(HRESULT hr)
{
    const _com_error error(hr);
    const wchar_t* message = error.ErrorMessage();
    return message != nullptr ? std::wstring(message) : std::wstring();
}

std::wstring FormatHResultSuffix(HRESULT hr)
{
    return Suffix(hr, FormatHResultMessage(hr).c_str());
}

void LogAppMessage(int level, const std::wstring& text, const char* source, int line) noexcept
{
    try {
        if (g_appLog == nullptr)
            return;
        std::wostringstream stream;
        if (level >= deDazOdu::LOG_LEVEL_FATAL && level <= deDazOdu::LOG_LEVEL_DEBUG)
            stream << Widen(deDazOdu::LOG_LEVEL_TAGS[level]);
        stream << L' ' << text;
        deDazOdu::WriteAppLog(g_appLog, stream, level, source, line);
    } catch (...) {
        // A log line that cannot be written is dropped; the operation's result stands.
    }
}

HRESULT HandleCurrentException(const char* source, int line) noexcept
{
    try {
        throw;
    } catch (const log4vesk::Exception& e) {
        LogAppMessage(deDazOdu::LOG_LEVEL_DEBUG, L"<exception> <exception trace>" + FormatHResultSuffix(e.m_hr), source,
                      line);
        return e.m_hr;
    } catch (const _com_error& e) {
        const HRESULT hr = e.Error();
        IErrorInfo* info = e.ErrorInfo();
        if (info != nullptr) {
            std::wstring text;
            try {
                BSTR src = nullptr;
                BSTR desc = nullptr;
                info->GetSource(&src);
                info->GetDescription(&desc);
                text = L"<exception> _com_error(0x" + Hex(hr) + L":" + (e.ErrorMessage() ? e.ErrorMessage() : L"") +
                       L"<Src=\"" + (src ? src : L"") + L"\", Desc=\"" + (desc ? desc : L"") + L")";
                SysFreeString(src);
                SysFreeString(desc);
            } catch (...) {
            }
            LogAppMessage(deDazOdu::LOG_LEVEL_ERROR, text, source, line);
            // Hand the callee's description on to our caller.
            SetErrorInfo(0, info);
            info->Release();
        } else {
            std::wstring text;
            try {
                text = L"<exception> _com_error" + Suffix(hr, e.ErrorMessage());
            } catch (...) {
            }
            LogAppMessage(deDazOdu::LOG_LEVEL_ERROR, text, source, line);
        }
        return hr;
    } catch (const std::exception& e) {
        std::wstring text;
        try {
            text = L"<exception> std::exception(0x0:" + Widen(e.what()) + L")";
        } catch (...) {
        }
        LogAppMessage(deDazOdu::LOG_LEVEL_ERROR, text, source, line);
        return E_FAIL;
    } catch (const CAtlException& e) {
        const HRESULT hr = e;
        std::wstring text;
        try {
            text = L"<exception> CAtlException" + FormatHResultSuffix(hr);
        } catch (...) {
        }
        LogAppMessage(deDazOdu::LOG_LEVEL_ERROR, text, source, line);
        return hr;
    } catch (HRESULT hr) {
        std::wstring text;
        try {
            text = L"<exception> HRESULT" + FormatHResultSuffix(hr);
        } catch (...) {
        }
        LogAppMessage(deDazOdu::LOG_LEVEL_ERROR, text, source, line);
        return hr;
    } catch (...) {
        LogAppMessage(deDazOdu::LOG_LEVEL_ERROR, L"<exception> unknown", source, line);
        return E_FAIL;
    }
}

}  // namespace frame
