// A stream set whose rebuild fails for lack of memory: the new map's PIDs
// must lead nowhere, not into the empty set. This program replaces the
// global allocation functions so a test can refuse the memory of one kind of
// object.
#include "DemuxTestSupport.h"

#include "PESPacketTs.h"
#include "TransportStream.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

// The replacements below are the allocation functions of the whole program:
// free matches their malloc, whatever the compiler sees inlined here.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

namespace {

// While set, allocations of exactly this many bytes fail.
std::atomic<std::size_t> g_refusedSize{0};

void* Allocate(std::size_t size)
{
    if (size != 0 && size == g_refusedSize.load())
        return nullptr;
    return std::malloc(size == 0 ? 1 : size);
}

}  // namespace

void* operator new(std::size_t size)
{
    if (void* p = Allocate(size))
        return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size)
{
    return operator new(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    return Allocate(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept
{
    return Allocate(size);
}
void operator delete(void* p) noexcept
{
    std::free(p);
}
void operator delete[](void* p) noexcept
{
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept
{
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept
{
    std::free(p);
}

namespace parser {
namespace {

using namespace demuxtest;

TEST(RebuildTest, AFailedRebuildLeavesNoRouteIntoTheEmptySet)
{
    vsktest::PmtParams second = SimplePmt(1, 1);
    second.streams = {{0x1B, 0x0300, {}}, {0x04, 0x0301, {}}};
    vsktest::CTsStreamBuilder b;
    b.Add(Pat({{1, PMT_PID}}));
    b.Add(Pmt(PMT_PID, SimplePmt()));
    b.Add(Elementary(VIDEO_PID));
    const std::size_t newMap = b.PacketCount();
    b.Add(Pmt(PMT_PID, second));
    for (int i = 0; i < 4; ++i) {
        b.Add(Elementary(0x0300));
        b.Add(Elementary(0x0301));
    }
    b.AddNull(4);

    CDemuxRun run;
    run.Append(b.Bytes());
    while (run.demux.PacketReader().CursorPosition() < b.UnitOffset(newMap))
        ASSERT_EQ(run.Step(), RESULT_OK);
    ASSERT_EQ(run.demux.State(), DEMUX_RUNNING);
    g_refusedSize = sizeof(CPESPacketTs);
    EXPECT_EQ(run.Step(), ResultNoMemory);
    g_refusedSize = 0;
    EXPECT_EQ(run.demux.Streams(0)->StreamCount(), 0u);
    std::uint32_t program = 9;
    std::uint32_t stream = 9;
    EXPECT_FALSE(run.demux.FindElementaryStream(0x0300, program, stream));
    EXPECT_FALSE(run.demux.FindElementaryStream(0x0301, program, stream));
    // The packets of the new streams are passed over.
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(run.Step(), RESULT_OK);
    EXPECT_EQ(run.demux.CompleteUnitCount(), 0u);
}

}  // namespace
}  // namespace parser
