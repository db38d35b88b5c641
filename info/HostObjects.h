// Small pieces every list the info object hands out is made of: creating one
// of the host's own classes the way the host expects it, reading a host text
// property, and the result list (a VT_VARIANT array of VT_UNKNOWN elements).
// Everything here raises; the operation's boundary turns that into HRESULTs.
#pragma once

#include "frame/HostCalls.h"
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

// Host property reads (raising on failure), shared with the converter.
using frame::ReadHostFlag;
using frame::ReadHostText;

// Appends object (one new reference held by the list) at the end of list.
void AppendToList(CResultList& list, IUnknown* object);

// The element's object, or null when the element holds none.
IUnknown* ListObjectAt(const CResultList& list, ULONG index);

}  // namespace info
