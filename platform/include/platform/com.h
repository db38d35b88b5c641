// The COM and OLE Automation names the project is written against.
// Windows: the system headers (ole32, oleaut32, comdef.h's _com_error).
// Elsewhere: a working in-process implementation of the same subset with the
// same names, layouts and results (platform/posix/com).
//
// Both builds also get:
// - _com_issue_error / _com_issue_errorex (mingw-w64 declares them but ships
//   no library with them): raise a _com_error; the ex form attaches the
//   callee's error information when the callee's ISupportErrorInfo answers
//   S_OK for the interface id.
//
// Outside Windows the runtime is one shared library per process (as ole32 and
// oleaut32 are on Windows), so the class table, the per-thread error
// information and COM initialisation are shared by the host and every
// component it loads. _com_error::ErrorMessage() there takes the system's
// message text (platform/hresult_text.h), removes a trailing LF and a CR
// before it, and falls back to "IDispatch error #%d" or "Unknown error
// 0x%0lX" as Windows does.
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
