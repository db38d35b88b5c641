// Small pieces every list the info object hands out is made of: creating one
// of the host's own classes the way the host expects it, reading a host text
// property, and the result list (a VT_VARIANT array of VT_UNKNOWN elements).
// Everything here raises; the operation's boundary turns that into HRESULTs.
#pragma once

#include "frame/host_interfaces.h"
#include "platform/com.h"
#include "platform/com_holders.h"

#include <string>

namespace info {

// The working form of a result list.
using CResultList = CComSafeArray<VARIANT>;

// CoCreateInstance(clsid, no outer, HOST_CREATE_CONTEXT, IID_IUnknown), OleRun,
// QueryInterface for iid, and the IUnknown is let go again. A failure of
// either step raises its HRESULT, except that E_NOINTERFACE or a null object
// raises E_POINTER.
void CreateHostObject(REFCLSID clsid, REFIID iid, void** object);

template <class I>
CComPtr<I> CreateHostObject(REFCLSID clsid, REFIID iid)
{
    CComPtr<I> object;
    CreateHostObject(clsid, iid, reinterpret_cast<void**>(&object));
    return object;
}

// Raises a failing host call of interface iid as a host failure (see
// frame::CheckHost); success codes pass.
void CheckHostCall(HRESULT hr, IUnknown* callee, REFIID iid);

// Reads a text through a host getter (a pointer to a member of I); a failing
// call raises. A null BSTR reads as empty text.
template <class I, class Getter>
std::wstring ReadHostText(I* object, REFIID iid, Getter getter)
{
    CComBSTR text;
    CheckHostCall((object->*getter)(&text), object, iid);
    return std::wstring(text.View());
}

// Reads a flag through a host getter; a failing call raises.
template <class I, class Getter>
VARIANT_BOOL ReadHostFlag(I* object, REFIID iid, Getter getter)
{
    VARIANT_BOOL value = VARIANT_FALSE;
    CheckHostCall((object->*getter)(&value), object, iid);
    return value;
}

// Appends object (one new reference held by the list) at the end of list.
void AppendToList(CResultList& list, IUnknown* object);

// The element's object, or null when the element holds none.
IUnknown* ListObjectAt(const CResultList& list, ULONG index);

}  // namespace info
