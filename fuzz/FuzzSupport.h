// What the fuzz targets share. Each target (fuzz_NAME) is one body that
// defines LLVMFuzzerTestOneInput; the libFuzzer program and the replay test
// of the normal builds (fuzz_NAME_replay_tests, every file of corpus/NAME/)
// link the same body, so an input the fuzzer once found stays a regression
// case in every build.
//
// The parser's three targets read one input layout, so a seed of one is a
// seed of the others: the first byte is a control byte, the rest the stream.
//   demux  drives one CStreamReader as the time seek does, cut into Feed
//          pieces as the control byte says, and checks every result and
//          unit record against the rules that hold whatever the bytes;
//   probe  drives the stream probe over the same bytes in memory, as the
//          head read alone or as a head and a tail read, and checks that
//          its facts hold together and do not depend on the cut;
//   seek   writes the stream to a file and runs the time seek on it, then
//          compares the header scan with the demultiplexer on the stream
//          repeated into a longer file. Only this target touches files.
// The media server's target, http, reads its input as what a client sends
// (see http/HttpFuzzBody.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vskfuzz {

// Bits of the control byte. demux and probe cut the stream by the first
// three; seek passes the control byte over.
inline constexpr std::uint8_t FUZZ_PIECE_SIZE_MASK = 0x07;   // index into the piece sizes
inline constexpr std::uint8_t FUZZ_FIRST_PIECE_MASK = 0x18;  // index into the first-piece sizes
inline constexpr unsigned FUZZ_FIRST_PIECE_SHIFT = 3;
inline constexpr std::uint8_t FUZZ_IRREGULAR = 0x20;         // piece sizes vary from piece to piece
// demux: the smallest packet buffer. probe: a head and a tail read.
inline constexpr std::uint8_t FUZZ_SMALL_BUFFER = 0x40;
// demux: the smallest buffer with the first piece of the piece size: the
// stream goes in again and again, past the end of that buffer.
inline constexpr std::uint8_t FUZZ_FEED_PAST_BUFFER = FUZZ_SMALL_BUFFER | FUZZ_FIRST_PIECE_MASK;
inline constexpr std::uint8_t FUZZ_HEAD_AND_TAIL = 0x40;
// demux: keep feeding after a failure.
inline constexpr std::uint8_t FUZZ_GO_ON_AFTER_FAILURE = 0x80;

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
// bufferSize + 520 bytes. With FUZZ_FEED_PAST_BUFFER the stream is fed again
// and again until that much and 32 KiB more went in, so the buffer is
// compacted (inputs are far smaller than the time seek's buffer, which they
// would never fill).
inline constexpr std::uint32_t FUZZ_SMALL_PROFILE_LEVEL = 0x4A;
inline constexpr std::uint32_t FUZZ_SMALL_BUFFER_SIZE = FUZZ_BUFFER_SIZE + 520;
inline constexpr std::size_t FUZZ_SMALL_BUFFER_FEED = FUZZ_SMALL_BUFFER_SIZE + 0x8000;

// How the stream bytes behind the control byte are cut for `control`: the
// piece lengths in order (they add up to `streamLength`, none is 0).
std::vector<std::size_t> PlanPieces(std::uint8_t control, std::size_t streamLength);

// Called when the code under test breaks a rule it must keep (the kind
// changes after the first Feed, a failure is reported as success, ...). The
// default prints the text and aborts, which the fuzzer records as a crash;
// the replay tests turn it into a test failure.
using FaultHandler = void (*)(const char* what);
void SetFaultHandler(FaultHandler handler) noexcept;
void Fault(const char* what) noexcept;

}  // namespace vskfuzz

// The body of the target this program links; always 0 (libFuzzer's
// convention).
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
