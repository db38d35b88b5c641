#include "FuzzSupport.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>

namespace vskfuzz {
namespace {

// Single bytes and odd lengths split packets and start codes anywhere; 188
// and 192 keep whole units; 64 KiB is what the time seek reads at once.
constexpr std::array<std::size_t, 8> PIECE_SIZES{1, 7, 64, 188, 192, 1000, 4096, 65536};
// Detection looks at the first piece alone: the time seek's 64 KiB, a chunk
// too short for the long runs, one that just holds them, or the piece size.
constexpr std::array<std::size_t, 4> FIRST_PIECE_SIZES{65536, 1000, 4000, 0};
constexpr std::size_t IRREGULAR_STEP = 61;

void AbortOnFault(const char* what)
{
    std::fprintf(stderr, "fuzz target fault: %s\n", what);
    std::fflush(stderr);
    std::abort();
}

FaultHandler g_faultHandler = AbortOnFault;

}  // namespace

std::vector<std::size_t> PlanPieces(std::uint8_t control, std::size_t streamLength)
{
    const std::size_t pieceSize = PIECE_SIZES[control & FUZZ_PIECE_SIZE_MASK];
    std::size_t firstSize = FIRST_PIECE_SIZES[(control & FUZZ_FIRST_PIECE_MASK) >> FUZZ_FIRST_PIECE_SHIFT];
    if (firstSize == 0)
        firstSize = pieceSize;
    std::vector<std::size_t> pieces;
    std::size_t done = 0;
    for (std::size_t k = 0; done < streamLength; ++k) {
        std::size_t size = pieceSize;
        if (k == 0)
            size = firstSize;
        else if (control & FUZZ_IRREGULAR)
            size = pieceSize + (k % 3) * IRREGULAR_STEP;
        size = std::min(size, streamLength - done);
        pieces.push_back(size);
        done += size;
    }
    return pieces;
}

void SetFaultHandler(FaultHandler handler) noexcept
{
    g_faultHandler = handler != nullptr ? handler : AbortOnFault;
}

void Fault(const char* what) noexcept
{
    g_faultHandler(what);
}

}  // namespace vskfuzz
