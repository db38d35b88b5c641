#include "dedazodu/Channels.h"

#include "platform/debug.h"

namespace deDazOdu::Ods {

int COutputDebugStringIO::WriteLine(const wchar_t* text)
{
    platform::DebugOutput(text != nullptr ? text : L"");
    platform::DebugOutput(L"\n");
    return 0;
}

int COutputDebugStringIO::Write(const wchar_t* text)
{
    platform::DebugOutput(text != nullptr ? text : L"");
    return 0;
}

}  // namespace deDazOdu::Ods
