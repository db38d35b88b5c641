// The body of the parser's fuzz target, shared by the libFuzzer program and by
// the replay test that runs every committed corpus file in the normal builds,
// so a crash the fuzzer once found stays a regression case everywhere.
//
// One input drives one CStreamReader the way the time seek drives it
// (Initialize; Configure(2, 4, 0xFF, 0x20000, 0); Feed piece by piece; after
// each Feed, NextUnits until it returns 0 or less; Shutdown). The first input
// byte chooses how the rest is cut into Feed pieces, so detection on a short
// first chunk, packets split across Feed calls and (with the smallest packet
// buffer, one control bit) compaction are all reached. The input is then
// written to a file that the time seek searches and the stream probe reads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vskfuzz {

// Bits of the control byte (the first input byte).
inline constexpr std::uint8_t FUZZ_PIECE_SIZE_MASK = 0x07;   // index into the piece sizes
inline constexpr std::uint8_t FUZZ_FIRST_PIECE_MASK = 0x18;  // index into the first-piece sizes
inline constexpr unsigned FUZZ_FIRST_PIECE_SHIFT = 3;
inline constexpr std::uint8_t FUZZ_IRREGULAR = 0x20;         // piece sizes vary from piece to piece
inline constexpr std::uint8_t FUZZ_SMALL_BUFFER = 0x40;      // smallest buffer, fed past its end
inline constexpr std::uint8_t FUZZ_GO_ON_AFTER_FAILURE = 0x80;  // keep feeding after a failure

// The settings of the time seek: historyMode 2, selectionMode 4, unknown
// profile and level, a 0x20000-byte read buffer, kind detected.
inline constexpr std::uint32_t FUZZ_HISTORY_MODE = 2;
inline constexpr std::uint32_t FUZZ_SELECTION_MODE = 4;
inline constexpr std::uint32_t FUZZ_PROFILE_LEVEL = 0xFF;
inline constexpr std::uint32_t FUZZ_BUFFER_SIZE = 0x20000;
// The packet buffer those settings give a transport stream reader: twice the
// largest video buffer size. No buffer of the reader is larger.
inline constexpr std::uint32_t FUZZ_LARGEST_BUFFER = 2 * 0x12A800;
// With FUZZ_SMALL_BUFFER: Main profile at Low level, whose packet buffer is
// bufferSize + 520 bytes; the stream is fed again and again until that much
// and 32 KiB more went in, so the buffer is compacted (inputs are far smaller
// than the time seek's buffer, which they would never fill).
inline constexpr std::uint32_t FUZZ_SMALL_PROFILE_LEVEL = 0x4A;
inline constexpr std::uint32_t FUZZ_SMALL_BUFFER_SIZE = FUZZ_BUFFER_SIZE + 520;
inline constexpr std::size_t FUZZ_SMALL_BUFFER_FEED = FUZZ_SMALL_BUFFER_SIZE + 0x8000;

// How the stream bytes behind the control byte are cut for `control`: the
// piece lengths in order (they add up to `streamLength`, none is 0).
std::vector<std::size_t> PlanPieces(std::uint8_t control, std::size_t streamLength);

// Called when the reader breaks a rule it must keep (the kind changes after
// the first Feed, a failure is reported as success, ...). The default prints
// the text and aborts, which the fuzzer records as a crash; the replay test
// turns it into a test failure.
using FaultHandler = void (*)(const char* what);
void SetFaultHandler(FaultHandler handler) noexcept;

// Runs one input; always 0 (libFuzzer's convention).
int RunStreamReaderInput(const std::uint8_t* data, std::size_t size) noexcept;

}  // namespace vskfuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
