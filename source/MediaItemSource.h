// A source given as a host media item: the object a source VARIANT holds,
// the media-item interface of it, and the file path the item names. Both the
// converter and the info object start from here.
#pragma once

#include "frame/host_interfaces.h"
#include "platform/com_holders.h"

#include <string>

namespace source {

// The object of a VT_UNKNOWN or VT_DISPATCH source (null for other types or
// a null object).
IUnknown* SourceObject(const VARIANT& source) noexcept;

// The object's host media item; a failing QueryInterface raises its HRESULT,
// a success without an object raises E_POINTER.
CComPtr<IHostMediaItem> QueryMediaItem(IUnknown* object);

// The item's path as text. The getter's own result does not matter (a path
// the host could not give stays empty and fails the packet probe that
// follows); a path VARIANT that cannot be converted to text raises.
std::wstring ReadMediaItemPath(IHostMediaItem* item);

}  // namespace source
