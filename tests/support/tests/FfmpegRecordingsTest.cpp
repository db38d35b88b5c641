// ffprobe's packet lists as the fixture writes them: rows without a time
// stamp or a position are counted, not compared, and a damaged list stops the
// test instead of quietly comparing against fewer packets.
#include "vsktest/FfmpegRecordings.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string_view>
#include <vector>

namespace vsktest {
namespace {

TEST(ProbePacketList, KeepsRowsWithBothValuesInOrderAndCountsTheOthers)
{
    const ProbePacketList list = ParseProbePackets(
        "# ffprobe -fflags nofillin -select_streams v x.vob\n"
        "48600 32 32657 978dd81b\n"
        "N/A N/A 1304 14a56cff\n"
        "59400 34830 29583 662731DA\r\n"
        "\n"
        "8589934591 N/A 7 00000000\n"
        "45000 63502 0 ffffffff\n");
    const std::vector<ProbePacket> packets = {{48600, 32}, {59400, 34830}, {45000, 63502}};
    const std::vector<ProbePayload> payloads = {{32657, 0x978DD81B}, {29583, 0x662731DA}, {0, 0xFFFFFFFF}};
    EXPECT_EQ(list.packets, packets);
    EXPECT_EQ(list.payloads, payloads);
    EXPECT_EQ(list.incompleteRows, 2u);
}

TEST(ProbePacketList, RefusesRowsThatAreNotFourFields)
{
    for (const char* text : {"48600 32 100\n", "48600 32 100 978dd81b 1\n", "48600 0x20 100 978dd81b\n",
                             "-1 32 100 978dd81b\n", "48600 32 N/A 978dd81b\n", "48600 32 100 978dd81\n",
                             "48600 32 100 978dd81g\n", "48600  32 100 978dd81b\n",
                             "99999999999999999999 32 100 978dd81b\n", "pts=48600|pos=32\n"}) {
        SCOPED_TRACE(text);
        EXPECT_THROW(ParseProbePackets(text), std::runtime_error);
    }
}

TEST(ProbeFacts, NamesAndValuesWithoutQuotes)
{
    const ProbeFacts facts = ParseProbeFacts(
        "# ffprobe -show_streams -of flat x.ts\n"
        "streams.stream.0.width=1920\n"
        "streams.stream.0.profile=\"Constrained Baseline\"\r\n"
        "\n"
        "format.duration=\"3.003000\"\n"
        "streams.stream.1.tag=a=b\n");
    const ProbeFacts expected = {{"streams.stream.0.width", "1920"},
                                 {"streams.stream.0.profile", "Constrained Baseline"},
                                 {"format.duration", "3.003000"},
                                 {"streams.stream.1.tag", "a=b"}};
    EXPECT_EQ(facts, expected);
    EXPECT_THROW(ParseProbeFacts("streams.stream.0.width\n"), std::runtime_error);
    EXPECT_THROW(ParseProbeFacts("=1920\n"), std::runtime_error);
}

// The check value of this CRC, and the value of nothing.
TEST(ProbePacketList, Crc32IsTheOneFfprobeGivesData)
{
    const std::string_view check = "123456789";
    EXPECT_EQ(Crc32({reinterpret_cast<const std::uint8_t*>(check.data()), check.size()}), 0xCBF43926u);
    EXPECT_EQ(Crc32({}), 0u);
}

}  // namespace
}  // namespace vsktest
