// The system's message text for an HRESULT. Windows: FormatMessageW (from the
// system, inserts ignored, language 0x0400) returning the text as given, CR LF
// included. Linux: a table of the common HRESULTs with the texts the Windows
// build gives for them, CR LF included.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// False (text emptied) when the system has no text for the code.
bool HResultText(std::int32_t hr, std::wstring& text);

}  // namespace platform
