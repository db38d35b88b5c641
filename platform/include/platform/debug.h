// Debugger output. Windows: OutputDebugStringW. Linux has no debugger output
// stream: the text goes to standard error (UTF-8) when the environment
// variable VSK_DEBUG_OUTPUT is "1" at the time of the call, and nowhere
// otherwise, so a host's standard error stays clean by default.
#pragma once

namespace platform {

void DebugOutput(const wchar_t* text);

// Replaces the system call with sink in both builds (null restores it): lets
// tests and diagnostic hosts collect the pieces exactly as they are output.
using PFN_DEBUG_OUTPUT_SINK = void (*)(const wchar_t* text);
PFN_DEBUG_OUTPUT_SINK SetDebugOutputSink(PFN_DEBUG_OUTPUT_SINK sink);

}  // namespace platform
