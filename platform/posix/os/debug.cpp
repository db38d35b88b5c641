#include "platform/debug.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "utf8.h"

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
    const char* wanted = std::getenv("VSK_DEBUG_OUTPUT");
    if (wanted == nullptr || std::strcmp(wanted, "1") != 0) {
        return;
    }
    std::string utf8;
    if (!detail::ToUtf8(text, utf8)) {
        return;
    }
    // One write per piece, like one OutputDebugStringW call.
    std::size_t done = 0;
    while (done < utf8.size()) {
        const ssize_t n = ::write(STDERR_FILENO, utf8.data() + done, utf8.size() - done);
        if (n <= 0) {
            return;
        }
        done += static_cast<std::size_t>(n);
    }
}

}  // namespace platform
