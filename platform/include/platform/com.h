// The COM and OLE Automation names the project is written against.
// Windows: the system headers (ole32, oleaut32, comdef.h's _com_error).
// Elsewhere: a working in-process implementation of the same subset with the
// same names, layouts and results (platform/posix/com).
//
// Both builds also get:
// - _com_issue_error / _com_issue_errorex (mingw-w64 declares them but ships
//   no library with them): raise a _com_error; the ex form attaches the
//   callee's error information when the callee's ISupportErrorInfo answers
//   S_OK for the interface id;
// - SetComErrorMessageHook: the text source for _com_error::ErrorMessage()
//   outside Windows (Windows asks FormatMessage itself and ignores the hook).
//   The hook fills `text` and returns true; when no hook is set or it returns
//   false, the text is "IDispatch error #%d" or "Unknown error 0x%0lX", as
//   Windows falls back to. A trailing LF (and a CR before it) is removed.
#pragma once

#include <string>

#ifdef _WIN32
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <ole2.h>
#include <ocidl.h>
#include <comdef.h>
#else
#include "platform/com_types.h"
#include "platform/com_interfaces.h"
#include "platform/com_automation.h"
#include "platform/com_runtime.h"
#include "platform/com_error.h"
#endif

using ComErrorMessageHook = bool (*)(HRESULT hr, std::wstring& text);

// Returns the previous hook. Set it once at start-up, before errors occur.
ComErrorMessageHook SetComErrorMessageHook(ComErrorMessageHook hook) noexcept;
