// ContentDirectory:1 over the library index: Browse (metadata and direct
// children, paged), GetSearchCapabilities, GetSortCapabilities and
// GetSystemUpdateID.
//
// Choices made here:
// - Browse needs ObjectID, BrowseFlag, StartingIndex and RequestedCount;
//   Filter and SortCriteria are taken when sent and never refused (some
//   control points leave them out). Every property is returned whatever the
//   filter asks; the order is the library's (no sort capabilities).
// - RequestedCount 0 asks for every child from StartingIndex on; a
//   StartingIndex past the end answers no object and the true TotalMatches.
//   NumberReturned may be below what was asked while a first scan is under
//   way (Library.h says why).
// - UpdateID is the container's update id for a container (metadata or
//   children), the SystemUpdateID for an item.
// - Browsing the children of an item answers no object.
#pragma once

#include "Exchange.h"
#include "Library.h"

#include <string_view>

namespace mediahost::server {

inline constexpr std::string_view CONTENT_DIRECTORY_TYPE = "urn:schemas-upnp-org:service:ContentDirectory:1";

class CContentDirectory {
public:
    explicit CContentDirectory(CLibrary& library) : m_library(library) {}

    // A control request; never throws.
    SAnswer Handle(const SRequest& request) const;

    CLibrary& Library() const { return m_library; }

private:
    CLibrary& m_library;
};

}  // namespace mediahost::server
