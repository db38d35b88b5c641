// Which target descriptions fit one source. A path source gets at most one
// unnamed entry, by its packet size; a host media item is probed, measured
// when the host does not know its size, and classified, and its source profile
// code selects the entries (or a single fallback entry when it has none).
// Matching a requested description against that list decides whether the
// source can be served as it.
#pragma once

#include "info/HostObjects.h"

#include <string>

namespace info {

// VT_BSTR (a file path), VT_UNKNOWN or VT_DISPATCH (a host media item).
bool IsSourceVariant(const VARIANT& source) noexcept;

// The ordered list of target descriptions for source (of a type
// IsSourceVariant accepts). Raises as the operations that use it describe.
CResultList BuildSourceProfiles(const VARIANT& source, int profileMode, const std::wstring& parserPath);

// Finds the first element of profiles whose profile name (exact), MIME type
// (without regard to case) and three flags equal those of requested; that
// element decides: when either side offers the description extension, the
// alternative profile names must be equal too. False when none agrees.
bool MatchSourceProfile(const CResultList& profiles, IHostTargetDescription* requested);

}  // namespace info
