// The source-file test: extension list and the 512-byte packet probe.
#include "source/SourceFileTest.h"

#include "vsktest/Recording.h"
#include "vsktest/TempDir.h"
#include "vsktest/WideText.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

// n bytes with sync bytes placed at the given offsets and 0x11 elsewhere.
Bytes WithSyncAt(std::size_t n, std::initializer_list<std::size_t> offsets)
{
    Bytes b(n, 0x11);
    for (std::size_t o : offsets)
        b[o] = 0x47;
    return b;
}

struct ProbeResult {
    bool recognised;
    bool is192;
};

ProbeResult Probe(const vsktest::CTempDir& dir, const Bytes& bytes, const char* name = "probe.m2ts")
{
    const auto path = dir.WriteFile(name, bytes);
    bool is192 = false;
    const bool ok = source::ProbePacketSize(vsktest::WideFromPath(path), is192);
    return {ok, is192};
}

TEST(PacketProbe, RecognisesBothPacketSizesInRealStreams)
{
    vsktest::CTempDir dir;
    vsktest::RecordingParams params;
    params.packetCount = 20;
    const auto r188 = Probe(dir, vsktest::MakeRecording(params).bytes);
    EXPECT_TRUE(r188.recognised);
    EXPECT_FALSE(r188.is192);

    params.unitSize = vsktest::TS_UNIT_SIZE_192;
    const auto r192 = Probe(dir, vsktest::MakeRecording(params).bytes);
    EXPECT_TRUE(r192.recognised);
    EXPECT_TRUE(r192.is192);
}

TEST(PacketProbe, DecidesOnTheFirstWindowOnly)
{
    vsktest::CTempDir dir;
    struct Case {
        const char* what;
        Bytes bytes;
        bool recognised;
        bool is192;
    };
    Bytes programStream = WithSyncAt(600, {100, 288, 476});
    programStream[0] = 0x00;
    programStream[1] = 0x00;
    programStream[2] = 0x01;
    programStream[3] = 0xBA;
    programStream[4] = 0x44;  // '01': MPEG-2 pack header
    Bytes mpeg1Pack = programStream;
    mpeg1Pack[4] = 0x21;      // '0010': MPEG-1 pack header
    Bytes otherTopBits = programStream;
    otherTopBits[4] = 0xC4;   // '11': not a pack header this probe knows; scanning goes on
    Bytes visual = WithSyncAt(600, {100, 288, 476});
    visual[10] = 0x00;
    visual[11] = 0x00;
    visual[12] = 0x01;
    visual[13] = 0xB6;
    const Case cases[] = {
        {"188-byte grid at 0", WithSyncAt(600, {0, 188, 376}), true, false},
        {"188-byte grid found late", WithSyncAt(900, {135, 323, 511}), true, false},
        {"192-byte grid", WithSyncAt(600, {4, 196, 388}), true, true},
        {"two sync bytes only", WithSyncAt(600, {0, 188}), false, false},
        {"third sync beyond the window", WithSyncAt(900, {140, 328, 516}), false, false},
        {"program stream pack header first", programStream, false, false},
        {"MPEG-1 pack header first", mpeg1Pack, false, false},
        {"pack start with other marker bits", otherTopBits, true, false},
        {"visual object start code first", visual, false, false},
        {"nothing", Bytes(512, 0), false, false},
    };
    for (const Case& c : cases) {
        const auto r = Probe(dir, c.bytes);
        EXPECT_EQ(r.recognised, c.recognised) << c.what;
        if (r.recognised && c.recognised) {
            EXPECT_EQ(r.is192, c.is192) << c.what;
        }
    }
}

TEST(PacketProbe, ShortFilesAreProbedOnTheirOwnLength)
{
    vsktest::CTempDir dir;
    // 377 bytes hold sync bytes at 0, 188, 376: enough.
    EXPECT_TRUE(Probe(dir, WithSyncAt(377, {0, 188, 376})).recognised);
    // A 1-byte shorter file loses the third sync byte; bytes beyond count as 0.
    EXPECT_FALSE(Probe(dir, WithSyncAt(376, {0, 188})).recognised);
    EXPECT_FALSE(Probe(dir, Bytes()).recognised);
    EXPECT_FALSE(Probe(dir, Bytes{0x47}).recognised);
}

TEST(PacketProbe, MissingFileIsNotRecognised)
{
    vsktest::CTempDir dir;
    bool is192 = true;
    EXPECT_FALSE(source::ProbePacketSize(vsktest::WideFromPath(dir / "missing.m2ts"), is192));
}

TEST(PacketProbe, LargeFileIsProbedOnItsFirst512Bytes)
{
    // 4 GiB plus 300 bytes: the low 32 bits of the size alone would be 300.
    vsktest::CTempDir dir;
    const auto path = dir.WriteFile("big.m2ts", WithSyncAt(512, {4, 196, 388}));
    std::error_code ec;
    std::filesystem::resize_file(path, (std::uint64_t{1} << 32) + 300, ec);
    if (ec)
        GTEST_SKIP() << "no sparse file support here: " << ec.message();
    bool is192 = false;
    EXPECT_TRUE(source::ProbePacketSize(vsktest::WideFromPath(path), is192));
    EXPECT_TRUE(is192);
    std::filesystem::remove(path, ec);
}

TEST(TransportStreamFile, ExtensionListWithoutRegardToCase)
{
    vsktest::CTempDir dir;
    const Bytes packets = WithSyncAt(600, {0, 188, 376});
    for (const char* name : {"a.m2ts", "a.M2TS", "a.m2t", "a.tts", "a.ZTS", "a.mpg", "a.iso", "a.Mpg"}) {
        const auto path = dir.WriteFile(name, packets);
        EXPECT_TRUE(source::IsTransportStreamFile(vsktest::WideFromPath(path))) << name;
    }
    for (const char* name : {"a.ts", "a.m2tsx", "a.mp4", "m2ts", "a.m2ts.bak"}) {
        const auto path = dir.WriteFile(name, packets);
        EXPECT_FALSE(source::IsTransportStreamFile(vsktest::WideFromPath(path))) << name;
    }
    // The extension alone is no name.
    EXPECT_FALSE(source::IsTransportStreamFile(L".m2ts"));
    EXPECT_FALSE(source::IsTransportStreamFile(L".mpg"));
    // Listed extension, but no packets.
    const auto empty = dir.WriteFile("empty.m2ts", Bytes(600, 0));
    EXPECT_FALSE(source::IsTransportStreamFile(vsktest::WideFromPath(empty)));
}

}  // namespace
