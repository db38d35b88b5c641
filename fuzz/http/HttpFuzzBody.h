// The body of the HTTP fuzz target, shared by the libFuzzer program and by
// the replay of its corpus in the normal builds.
//
// One input is taken two ways:
// - as what a client sends on a connection: read by the HTTP parser with the
//   server's limits, turned into the request a piece sees, and dispatched
//   through a route table of the server's shape (the listing, the media
//   resource's decisions for a recording whose size, duration and time seek
//   the input's hash chooses, a POST route); the answer's head is written;
// - line by line, each line handed to every request rule on its own
//   (request target, media path, Range, TimeSeekRange, PlaySpeed, transfer
//   mode, query value), so the rules are reached also where the parser
//   would refuse the framing.
// Every result must keep the rules the server relies on: a range inside the
// file, a time inside the duration, a media path whose names are servable and
// read back from their URL form, a head whose lines no value can add to, no
// status outside the server's set, no failure caught at the boundary. A
// SOAP body, the POST's and the whole input taken as one, must read back the
// same from the answer that echoes its arguments (the escaping of both ways).
#pragma once

#include <cstddef>
#include <cstdint>

namespace vskfuzz {

// Called when an answer breaks a rule; the default prints the text and
// aborts (a crash to libFuzzer), the replay test makes it a failure.
using HttpFaultHandler = void (*)(const char* what);
void SetHttpFaultHandler(HttpFaultHandler handler) noexcept;

// Runs one input; always 0 (libFuzzer's convention).
int RunHttpInput(const std::uint8_t* data, std::size_t size) noexcept;

}  // namespace vskfuzz
