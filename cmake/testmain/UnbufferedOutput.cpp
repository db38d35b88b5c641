// Linked into every test program: standard output unbuffered, so that the
// lines a test printed survive a process that dies without flushing (under
// Wine a pipe is fully buffered and a crash loses everything).
#include <cstdio>

namespace {

const int g_unbuffered = std::setvbuf(stdout, nullptr, _IONBF, 0);

}  // namespace
