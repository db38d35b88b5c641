// Log levels (lower is more severe) and their narrow tags, which callers put
// into their message text themselves.
#pragma once

namespace deDazOdu {

constexpr int LOG_LEVEL_FATAL = 0;
constexpr int LOG_LEVEL_ERROR = 1;
constexpr int LOG_LEVEL_WARNING = 2;
constexpr int LOG_LEVEL_INFO = 3;
constexpr int LOG_LEVEL_DEBUG = 4;

inline constexpr const char* LOG_LEVEL_TAGS[] = {"[FTL]", "[ERR]", "[WRN]", "[INF]", "[DBG]"};

// HRESULT-style results of the library's operations.
constexpr int LOG_S_OK = 0;
constexpr int LOG_S_FALSE = 1;
constexpr int LOG_E_FAIL = static_cast<int>(0x80004005u);
constexpr int LOG_E_POINTER = static_cast<int>(0x80004003u);
constexpr int LOG_E_INVALIDARG = static_cast<int>(0x80070057u);
constexpr int LOG_E_OUTOFMEMORY = static_cast<int>(0x8007000Eu);

}  // namespace deDazOdu
