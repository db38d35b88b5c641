// The source-file test: is a path a recording this component can serve, and
// are its transport packets 188 or 192 bytes long? Both the converter (when it
// opens a source) and the info object (when it lists a source's profiles) ask
// it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace source {

// Bytes of a file the packet probe looks at.
inline constexpr std::size_t PROBE_WINDOW_SIZE = 512;

// True when the path ends in one of the recording extensions (compared without
// regard to case) and ProbePacketSize recognises its packets.
bool IsTransportStreamFile(const std::wstring& path);

// Reads the first bytes of the file (at most PROBE_WINDOW_SIZE) and looks for
// three sync bytes 188 apart (is192 = false) or 192 apart behind a 4-byte
// prefix (is192 = true). False when the file cannot be read, shows a program
// stream pack header or an MPEG-4 visual start code first, or shows no packet
// structure. Serialised process-wide: one probe at a time opens a file.
bool ProbePacketSize(const std::wstring& path, bool& is192);

// The decision on bytes already read: window holds n bytes (n at most
// PROBE_WINDOW_SIZE); bytes beyond them count as 0.
bool ScanPacketWindow(const std::uint8_t* window, std::size_t n, bool& is192);

}  // namespace source
