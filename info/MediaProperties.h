// The descriptive properties of a source as the host shows them to clients:
// duration, size, bit rate, resolution, audio channels and sampling frequency,
// each a host media property (name and text value). The values come from the
// host media item and its stream descriptions; a path source gets only its
// file size. Nothing is parsed from the stream.
#pragma once

#include "info/HostObjects.h"

#include <cstdint>
#include <string>

namespace info {

// "hh:mm:ss.mmm"; hours widen beyond two digits. The host's 32-bit value is
// read as unsigned milliseconds, so every value other than the "unknown"
// marker gives well-formed text.
std::wstring FormatDuration(std::uint32_t milliseconds);
// Decimal, with a leading "-" when negative.
std::wstring FormatInt64(std::int64_t value);
std::wstring FormatLong(std::int32_t value);
// "<width>x<height>".
std::wstring FormatResolution(std::int32_t width, std::int32_t height);

// The property list for source under a target of mimeType: empty for a
// source type or MIME type it does not serve, for an object that is no host
// media item and for a file that cannot be opened. Raises when a property
// cannot be created or set.
CResultList BuildMediaProperties(const VARIANT& source, const std::wstring& mimeType);

}  // namespace info
