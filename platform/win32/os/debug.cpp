#include "platform/debug.h"

#include <windows.h>

#include <atomic>

namespace platform {

namespace {
std::atomic<PFN_DEBUG_OUTPUT_SINK> g_debugSink {nullptr};
}

PFN_DEBUG_OUTPUT_SINK SetDebugOutputSink(PFN_DEBUG_OUTPUT_SINK sink)
{
    return g_debugSink.exchange(sink);
}

void DebugOutput(const wchar_t* text)
{
    if (text == nullptr) {
        return;
    }
    if (PFN_DEBUG_OUTPUT_SINK sink = g_debugSink.load()) {
        sink(text);
        return;
    }
    ::OutputDebugStringW(text);
}

}  // namespace platform
