// The system's message text for an HRESULT. Windows: FormatMessageW (from the
// system, inserts ignored, language 0x0400) returning the text as given, CR LF
// included. Linux: a table of the common HRESULTs with the texts the Windows
// build gives for them, CR LF included.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// The type HRESULT has in each build (LONG on Windows, a 32-bit int in the
// POSIX COM subset), so code that must not see the COM headers can raise a
// code that an interface boundary catches as an HRESULT.
#ifdef _WIN32
using HRESULT_CODE = long;
#else
using HRESULT_CODE = std::int32_t;
#endif
static_assert(sizeof(HRESULT_CODE) == 4);

// False (text emptied) when the system has no text for the code.
bool HResultText(std::int32_t hr, std::wstring& text);

}  // namespace platform
