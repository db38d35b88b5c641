// The media resource: GET and HEAD of /media/PATH[?profile=NAME], a
// recording of the folder served through a converter of the component as
// the profile asked for (absent: the first the component offers), or, for a
// recording the component offers nothing for (a program stream, a codec it
// does not know), byte for byte from the file under its plain MIME type,
// with byte ranges and without time seek. What is answered to which request
// is MediaRequest.h; this is the one place that opens, seeks and reads.
//
// Every body byte of a served profile comes from the converter's Read; each
// request opens its own converter. The seeks and the first Read happen
// before the head is written, so a source that cannot tell its size, seek
// or give its first bytes is answered 500 and the connection closed; a Read
// that fails later cuts the body short, and the connection is closed too
// (its Content-Length can no longer be kept).
#pragma once

#include "ComponentHost.h"
#include "Exchange.h"
#include "MediaRequest.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace mediahost::server {

struct SLibrary;

// Where a recording's bytes come from.
class CMediaSource {
public:
    virtual ~CMediaSource() = default;
    virtual HRESULT Size(std::int64_t& size) = 0;
    virtual std::optional<std::uint32_t> Duration() = 0;
    virtual HRESULT SeekByBytes(std::int64_t position) = 0;
    virtual HRESULT SeekByTime(std::uint32_t ms, std::uint32_t& foundMs, std::int64_t& position) = 0;
    // Before the first Read.
    virtual HRESULT Start() = 0;
    // The bytes from `position` on (where the last seek or read left the
    // source) in place of chunk's; none at the end.
    virtual HRESULT Read(std::int64_t position, std::vector<std::uint8_t>& chunk) = 0;
};

// The answer for a request whose source is open; `facts` without size and
// duration, which come from the source.
SAnswer ServeMedia(const SRequest& request, const std::shared_ptr<CMediaSource>& source, SMediaFacts facts);

// GET and HEAD of /media/PATH.
SAnswer Media(const SLibrary& library, const SRequest& request);

}  // namespace mediahost::server
