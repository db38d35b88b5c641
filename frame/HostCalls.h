// Reading the host objects' properties: a getter that fails raises the host's
// failure (frame::CheckHost), with its error information when the host
// offers it.
#pragma once

#include "frame/ErrorBoundary.h"
#include "platform/com_holders.h"

#include <string>

namespace frame {

// Reads a text through a getter of I (a pointer to a member); a null BSTR
// reads as empty text.
template <class I, class Getter>
std::wstring ReadHostText(I* object, REFIID iid, Getter getter)
{
    CComBSTR text;
    CheckHost((object->*getter)(&text), object, iid);
    return std::wstring(text.View());
}

// Reads a VARIANT_BOOL through a getter of I.
template <class I, class Getter>
VARIANT_BOOL ReadHostFlag(I* object, REFIID iid, Getter getter)
{
    VARIANT_BOOL value = VARIANT_FALSE;
    CheckHost((object->*getter)(&value), object, iid);
    return value;
}

// The text a BSTR holds (empty for null).
inline std::wstring BstrText(BSTR text)
{
    return text == nullptr ? std::wstring() : std::wstring(text, SysStringLen(text));
}

}  // namespace frame
