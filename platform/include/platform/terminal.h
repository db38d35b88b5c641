// The standard streams as a command-line tool needs them: whether one is a
// terminal (progress is drawn only there), and binary mode for standard
// output, so bytes written there arrive unchanged (Windows translates LF to
// CR LF in text mode; POSIX has no such mode and needs nothing).
#pragma once

#include <cstdio>

namespace platform {

bool IsTerminal(std::FILE* stream);
// False when the mode could not be changed.
bool SetBinaryMode(std::FILE* stream);

}  // namespace platform
