#include "platform/terminal.h"

#include <fcntl.h>
#include <io.h>

namespace platform {

bool IsTerminal(std::FILE* stream)
{
    return stream != nullptr && _isatty(_fileno(stream)) != 0;
}

bool SetBinaryMode(std::FILE* stream)
{
    return stream != nullptr && _setmode(_fileno(stream), _O_BINARY) != -1;
}

}  // namespace platform
