// GET / : an HTML page of the folder's recordings, sub-folders included,
// with each one's size and facts and one link per profile the component
// offers for it; a recording it offers nothing for has one link, to the
// file as it is.
#pragma once

#include "Exchange.h"

#include <cstddef>

namespace mediahost::server {

struct SLibrary;

// At most this many recordings on the page, so one request cannot walk a
// disk without end.
inline constexpr std::size_t LISTING_MAX_RECORDINGS = 10000;

SAnswer Listing(const SLibrary& library, const SRequest& request);

}  // namespace mediahost::server
