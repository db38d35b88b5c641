// The one place where failures inside an interface operation become HRESULTs.
//
// Inside the component's objects every failure is raised: an HRESULT thrown as
// a 32-bit integer (RaiseHr), a _com_error for a failing call on a host object
// (CheckHost), or whatever the standard library, the holders of
// platform/com_holders.h or the logging library throw. Each operation runs its
// body through CallAtBoundary, which catches all of them in a fixed order,
// writes one line to the application log with the operation's source name and
// line, and returns the HRESULT. Nothing escapes it.
#pragma once

#include "platform/com.h"

#include <string>

namespace frame {

// Raises hr as the component's own failure.
[[noreturn]] void RaiseHr(HRESULT hr);

// Raises a negative hr returned by a call of interface iid on a host object as
// a _com_error; the error information of the thread goes with it when the
// callee says (ISupportErrorInfo) that it supports error information for iid.
// A success code returns normally.
void CheckHost(HRESULT hr, IUnknown* callee, REFIID iid);

// The system's text for hr without its trailing line end, or the
// "IDispatch error #%d" / "Unknown error 0x%0lX" fallback.
std::wstring FormatHResultMessage(HRESULT hr);
// "(0x" + hr in lower-case hexadecimal + ":" + FormatHResultMessage(hr) + ")".
std::wstring FormatHResultSuffix(HRESULT hr);

// Writes "[TAG] text {source,line}" to the application log at level when the
// log exists and its filter lets the level through. Never throws.
void LogAppMessage(int level, const std::wstring& text, const char* source, int line) noexcept;

// Turns the exception being handled into the operation's HRESULT (see above).
// Call only from inside a catch block.
HRESULT HandleCurrentException(const char* source, int line) noexcept;

template <class TBody>
HRESULT CallAtBoundary(const char* source, int line, TBody&& body) noexcept
{
    try {
        return body();
    } catch (...) {
        return HandleCurrentException(source, line);
    }
}

}  // namespace frame
