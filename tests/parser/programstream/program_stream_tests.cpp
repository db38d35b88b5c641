// The program-stream reader: units and their records however the data is
// cut and whatever order the caller uses, the two pack forms, malformed
// packets, DVD-style sub-streams, and the memory it keeps.
#include "ProgramStream.h"

#include "vsktest/ProgramStreamBuilder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <optional>
#include <tuple>
#include <utility>
#include <vector>

namespace parser {
namespace {

using Bytes = std::vector<std::uint8_t>;
using vsktest::CProgramStreamBuilder;
using vsktest::Mpeg1PesParams;
using vsktest::PesParams;

constexpr std::size_t PIECE = 0x10000;

// Elementary bytes that hold no start code.
Bytes Pattern(std::size_t n, unsigned seed)
{
    Bytes bytes(n);
    for (std::size_t i = 0; i < n; ++i)
        bytes[i] = static_cast<std::uint8_t>(0x10 + (i * 7 + seed) % 0x60);
    return bytes;
}

Bytes Concat(Bytes head, const Bytes& tail)
{
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

// The fields of PesParams and Mpeg1PesParams most packets set.
template <class TParams>
TParams Params(std::uint8_t streamId, Bytes payload, std::optional<std::uint64_t> pts = {},
               std::optional<std::uint64_t> dts = {})
{
    TParams p;
    p.streamId = streamId;
    p.payload = std::move(payload);
    p.pts = pts;
    p.dts = dts;
    return p;
}
template <class... TArgs>
PesParams Pes(TArgs&&... args)
{
    return Params<PesParams>(std::forward<TArgs>(args)...);
}
template <class... TArgs>
Mpeg1PesParams Mpeg1Pes(TArgs&&... args)
{
    return Params<Mpeg1PesParams>(std::forward<TArgs>(args)...);
}

vsktest::PackHeaderParams Pack(bool mpeg1, std::uint64_t scrBase, std::uint32_t muxRate = 25200,
                               std::uint16_t scrExtension = 0, std::uint8_t stuffing = 0)
{
    vsktest::PackHeaderParams p;
    p.mpeg1 = mpeg1;
    p.scrBase = scrBase;
    p.muxRate = muxRate;
    p.scrExtension = scrExtension;
    p.stuffing = stuffing;
    return p;
}

struct SSeen {
    std::uint8_t streamId = 0;
    std::int64_t position = -1;
    std::uint64_t span = 0;
    std::uint64_t pts = 0;
    std::uint64_t dts = 0;
    Bytes payload;
    std::uint8_t subStreamId = 0;
    std::uint32_t streamIndex = 0;
    std::uint32_t streamCount = 0;
    std::uint32_t anomalies = 0;
    std::uint32_t anomalyCode = 0;
    std::int64_t anomalyPosition = -1;
    bool operator==(const SSeen&) const = default;
};

// The record of a unit: its packet as written at `at`, and what the reader
// makes of it.
SSeen Expect(const Bytes& packet, std::uint64_t at, const Bytes& payload, std::uint32_t index,
             std::uint32_t count, std::optional<std::uint64_t> pts = {}, std::optional<std::uint64_t> dts = {})
{
    SSeen s;
    s.streamId = packet[3];
    s.position = static_cast<std::int64_t>(at);
    s.span = packet.size();
    s.payload = payload;
    s.pts = pts.value_or(0);
    s.dts = dts.value_or(s.pts);
    s.streamIndex = index;
    s.streamCount = count;
    return s;
}

SSeen WithAnomaly(SSeen s, std::uint32_t code, std::uint64_t at)
{
    s.anomalies = 1;
    s.anomalyCode = code;
    s.anomalyPosition = static_cast<std::int64_t>(at);
    return s;
}

enum class ECaller {
    Drains,             // NextUnit, TakeUnit, ReleaseUnit until NextUnit says 0
    AsksTwice,          // NextUnit and TakeUnit twice before each release
    FeedsBeforeRelease  // feeds the next piece while a unit is still reported
};

// The piece sizes of a cut: all at once (0), or k-th piece of size(k).
using Cut = std::function<std::size_t(std::size_t)>;
const Cut WHOLE = [](std::size_t) { return std::size_t{0}; };
const Cut BYTES = [](std::size_t) { return std::size_t{1}; };
const Cut ODD = [](std::size_t k) { return std::size_t{997} + (k % 3) * 61; };
const Cut CHUNKS = [](std::size_t) { return PIECE; };

std::vector<SSeen> Read(const Bytes& stream, std::uint32_t mode = 4, const Cut& cut = WHOLE,
                        ECaller caller = ECaller::Drains, CProgramStream* keep = nullptr)
{
    CProgramStream own;
    CProgramStream& reader = keep != nullptr ? *keep : own;
    EXPECT_EQ(reader.Prepare(0x20000, mode), RESULT_OK);
    std::vector<SSeen> seen;
    auto take = [&] {
        SUnitInfo info;
        EXPECT_TRUE(reader.TakeUnit(info));
        EXPECT_EQ(info.kind, 1u);
        SSeen s{info.header.streamId, info.position, info.spanLength, info.header.pts, info.header.dts,
                Bytes(info.payload, info.payload + info.payloadLength), info.subStreamId, info.streamIndex,
                info.streamCount, info.status.count, info.status.code, info.status.position};
        if (caller == ECaller::AsksTwice) {
            EXPECT_EQ(reader.NextUnit(), 1);
            SUnitInfo again;
            EXPECT_TRUE(reader.TakeUnit(again));
            EXPECT_EQ(again.position, info.position);
            EXPECT_EQ(again.payload, info.payload);
        }
        seen.push_back(s);
    };
    auto release = [&] {
        reader.ReleaseUnit();
        reader.ClearAnomalies();
    };
    auto drain = [&] {
        while (reader.NextUnit() == 1) {
            take();
            if (caller == ECaller::FeedsBeforeRelease)
                return;
            release();
        }
    };
    for (std::size_t at = 0, k = 0; at < stream.size(); ++k) {
        const std::size_t n = std::min(cut(k) == 0 ? stream.size() : cut(k), stream.size() - at);
        EXPECT_EQ(reader.Append(stream.data() + at, static_cast<std::uint32_t>(n)), RESULT_OK);
        at += n;
        if (reader.UnitReported())
            release();
        drain();
    }
    while (reader.UnitReported()) {
        release();
        drain();
    }
    EXPECT_EQ(reader.NextUnit(), 0);
    return seen;
}

// ---------------------------------------------------------------------------
// Units

TEST(ProgramStreamTest, EverySelectedPacketIsOneUnitHoweverTheDataIsCutAndTaken)
{
    CProgramStreamBuilder b;
    const Bytes junk{0xAA, 0x00, 0x00, 0x01, 0x00, 0x00, 0x01, 0xB5, 0x00, 0x00};
    b.AddRaw(junk);
    b.AddPack(Pack(false, 1000));
    vsktest::SystemHeaderParams system;
    system.rateBound = 0x2A5A5;
    system.audioBound = 33;
    system.fixed = true;
    system.systemAudioLock = false;
    system.videoBound = 17;
    system.packetRateRestriction = true;
    system.streams = {{0xE0, true, 0x1ABC}, {0xBD, false, 0x0123}};
    const std::uint64_t systemAt = b.AddSystemHeader(system);
    const Bytes v0 = vsktest::MakePes(Pes(0xE0, Pattern(700, 1), 9000, 6000));
    const Bytes a0 = vsktest::MakePes(Pes(0xC0, Pattern(300, 2), 9100));
    const Bytes dsi = vsktest::MakePes(Pes(0xBF, Concat({0x01}, Pattern(40, 3))));
    const Bytes v1 = vsktest::MakePes(Pes(0xE1, Pattern(65000, 4), 12600));
    // Indexes follow the order in which the stream ids were met, selected or
    // not, so they do not depend on the mode.
    std::vector<SSeen> all = {Expect(v0, b.AddRaw(v0), Pattern(700, 1), 0, 1, 9000, 6000),
                              Expect(a0, b.AddRaw(a0), Pattern(300, 2), 1, 2, 9100)};
    b.AddPes(Pes(0xBE, Bytes(200, 0xFF)));
    all.push_back(Expect(dsi, b.AddRaw(dsi), Concat({0x01}, Pattern(40, 3)), 2, 3));
    all.back().subStreamId = SUBSTREAM_CODE_DSI;
    b.AddEnd();
    const std::uint64_t packAt = b.AddPack(Pack(false, 0x1'8765'4321, 0x3F00F, 299, 5));
    all.push_back(Expect(v1, b.AddRaw(v1), Pattern(65000, 4), 3, 4, 12600));
    all.push_back(Expect(a0, b.AddRaw(a0), Pattern(300, 2), 1, 4, 9100));
    // Never complete: the data ends inside it.
    b.AddRaw(Bytes(v0.begin(), v0.begin() + 100));
    const Bytes stream = b.Take();

    struct SMode {
        std::uint32_t mode;
        std::vector<std::size_t> units;
    };
    for (const SMode& m : {SMode{1, {0, 3}}, SMode{2, {1, 4}}, SMode{3, {0, 1, 3, 4}}, SMode{4, {0, 1, 2, 3, 4}}}) {
        std::vector<SSeen> expected;
        for (std::size_t i : m.units)
            expected.push_back(all[i]);
        for (const auto& [name, cut] : std::initializer_list<std::pair<const char*, Cut>>{
                 {"whole", WHOLE}, {"bytes", BYTES}, {"odd", ODD}, {"64K", CHUNKS}}) {
            for (ECaller caller : {ECaller::Drains, ECaller::AsksTwice, ECaller::FeedsBeforeRelease}) {
                SCOPED_TRACE(testing::Message() << "mode " << m.mode << ", " << name << ", caller "
                                                << static_cast<int>(caller));
                EXPECT_EQ(Read(stream, m.mode, cut, caller), expected);
            }
        }
    }

    // The records of the last pack and system header.
    CProgramStream reader;
    Read(stream, 4, WHOLE, ECaller::Drains, &reader);
    const SPackHeader& p = reader.PackHeader();
    EXPECT_EQ(std::tuple(p.form, p.position, p.scrBase, p.scrExtension, p.programMuxRate, p.stuffingLength),
              std::tuple(PACK_FORM_MPEG2, static_cast<std::int64_t>(packAt), 0x1'8765'4321u, 299, 0x3F00Fu, 5));
    const SSystemHeader& s = reader.SystemHeader();
    EXPECT_EQ(std::tuple(s.seen, s.position, s.rateBound, s.audioBound, s.fixedFlag, s.cspsFlag,
                         s.systemAudioLockFlag, s.systemVideoLockFlag, s.videoBound, s.packetRateRestrictionFlag),
              std::tuple(true, static_cast<std::int64_t>(systemAt), 0x2A5A5u, 33, 1, 0, 0, 1, 17, 1));
    ASSERT_EQ(s.streams.size(), 2u);
    EXPECT_EQ(std::tuple(s.streams[0].streamId, s.streams[0].bufferBoundScale, s.streams[0].bufferSizeBound),
              std::tuple(0xE0, 1, 0x1ABC));
    EXPECT_EQ(std::tuple(s.streams[1].streamId, s.streams[1].bufferBoundScale, s.streams[1].bufferSizeBound),
              std::tuple(0xBD, 0, 0x0123));
}

// ---------------------------------------------------------------------------
// Pack forms

TEST(ProgramStreamTest, PackFormDecidesTheHeaderSyntaxAndAChangeIsSkipped)
{
    Mpeg1PesParams m1 = Mpeg1Pes(0xC0, Pattern(50, 1), 4500);
    m1.stuffing = 3;
    m1.stdBuffer = std::pair<bool, std::uint16_t>{true, 46};
    const Bytes p1 = vsktest::MakeMpeg1Pes(m1);
    const Bytes p1Both = vsktest::MakeMpeg1Pes(Mpeg1Pes(0xE0, Pattern(70, 3), 9000, 5400));
    const Bytes p2 = vsktest::MakePes(Pes(0xE0, Pattern(60, 2), 7200));
    CProgramStreamBuilder b;
    // Before any pack each header is read by its own bits.
    std::vector<SSeen> expected = {Expect(p1, b.AddRaw(p1), Pattern(50, 1), 0, 1, 4500),
                                   Expect(p2, b.AddRaw(p2), Pattern(60, 2), 1, 2, 7200)};
    b.AddPack(Pack(true, 1));
    expected.push_back(Expect(p1Both, b.AddRaw(p1Both), Pattern(70, 3), 1, 2, 9000, 5400));
    // A pack of the other form is skipped and leaves the form open: the
    // next header is read by its own bits again.
    const std::uint64_t changed = b.AddPack(Pack(false, 2));
    expected.push_back(
        WithAnomaly(Expect(p2, b.AddRaw(p2), Pattern(60, 2), 1, 2, 7200), AnomalyPackFormChanged, changed));
    // The next pack fixes the form anew, and an MPEG-2 header is refused in
    // the MPEG-1 form.
    const std::uint64_t packAt = b.AddPack(Pack(true, 0x1'2345'6789, 0x2ABCD));
    const std::uint64_t refused = b.AddRaw(p2);
    expected.push_back(WithAnomaly(Expect(p1Both, b.AddRaw(p1Both), Pattern(70, 3), 1, 2, 9000, 5400),
                                   AnomalyProgramStreamPes, refused));
    const Bytes stream = b.Take();

    for (const Cut& cut : {WHOLE, BYTES}) {
        CProgramStream reader;
        EXPECT_EQ(Read(stream, 4, cut, ECaller::Drains, &reader), expected);
        const SPackHeader& p = reader.PackHeader();
        EXPECT_EQ(std::tuple(reader.PackForm(), p.form, p.position, p.scrBase, p.programMuxRate),
                  std::tuple(PACK_FORM_MPEG1, PACK_FORM_MPEG1, static_cast<std::int64_t>(packAt), 0x1'2345'6789u,
                             0x2ABCDu));
    }
}

// ---------------------------------------------------------------------------
// Malformed packets

TEST(ProgramStreamTest, AMalformedPacketIsReportedAndTheScanGoesOnAfterIt)
{
    auto privateUnit = [](Bytes payload) { return vsktest::MakePes(Pes(0xBD, std::move(payload))); };
    PesParams headerTooLong = Pes(0xE0, Pattern(20, 1), 1);
    headerTooLong.packetLengthOverride = 7;
    PesParams noRoomForPts = Pes(0xE0, Pattern(20, 1));
    noRoomForPts.ptsDtsFlagsOverride = 2;
    struct SCase {
        const char* name;
        Bytes packet;
    };
    const SCase cases[] = {
        {"header longer than the packet", vsktest::MakePes(headerTooLong)},
        {"PTS flag without room for it", vsktest::MakePes(noRoomForPts)},
        {"AC-3 shorter than its header", privateUnit({0x80, 0x01, 0x00})},
        {"LPCM shorter than its header", privateUnit({0xA0, 0x01, 0x00, 0x04, 0x00, 0x00})},
        {"LPCM access unit inside the header", privateUnit({0xA0, 0x01, 0x00, 0x02, 0, 0, 0, 0x11, 0x12})},
        {"AC-3 access unit past the payload", privateUnit({0x80, 0x01, 0x00, 0x07, 0x0B, 0x77, 1, 2, 3, 4})},
        {"LPCM access unit past the payload", privateUnit({0xA0, 0x01, 0x00, 0x09, 0, 0, 0, 1, 2, 3, 4, 5})},
    };
    const Bytes good = vsktest::MakePes(Pes(0xE0, Pattern(100, 5), 3000));
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.name);
        CProgramStreamBuilder b;
        b.AddPack(Pack(false, 0));
        const std::uint64_t bad = b.AddRaw(c.packet);
        const std::uint32_t index = c.packet[3] == 0xE0 ? 0 : 1;
        const SSeen expected = Expect(good, b.AddRaw(good), Pattern(100, 5), index, index + 1, 3000);
        EXPECT_EQ(Read(b.Take(), 4, ODD), std::vector<SSeen>{WithAnomaly(expected, AnomalyProgramStreamPes, bad)});
    }
}

// ---------------------------------------------------------------------------
// Sub-streams

TEST(ProgramStreamTest, SubStreamsAreConfirmedPerIdAndLoseTheirHeaderOnceConfirmed)
{
    struct SRow {
        const char* what;
        std::uint8_t streamId;
        Bytes payload;
        std::uint8_t subStreamId;
        std::size_t removed;
    };
    const std::uint8_t bd = 0xBD;
    const SRow rows[] = {
        {"AC-3, no access unit starts: confirms nothing", bd, {0x80, 1, 0, 0, 0x21, 0x22}, 0, 0},
        {"AC-3, 0B 77 at the access unit: confirmed", bd, {0x80, 1, 0, 1, 0x0B, 0x77, 0x31}, 0x80, 4},
        {"AC-3, confirmed id, no access unit starts", bd, {0x80, 1, 0, 0, 0x41, 0x42}, 0x80, 4},
        {"AC-3, another id is not confirmed by it", bd, {0x81, 1, 0, 1, 0x0B, 0x78, 0x31}, 0, 0},
        {"AC-3, access unit on the last byte", bd, {0x81, 1, 0, 3, 0x51, 0x52, 0x0B}, 0, 0},
        {"AC-3, 0B 77 further in", bd, {0x81, 2, 0, 2, 0x61, 0x0B, 0x77, 0x62}, 0x81, 4},
        {"LPCM, no access unit starts: confirms nothing", bd, {0xA1, 1, 0, 0, 0x85, 0x31, 0x80, 0x71}, 0, 0},
        {"LPCM, access unit behind two bytes: confirmed", bd, {0xA1, 2, 0, 6, 0, 0, 0, 0x72, 0x73, 0x74, 0x75},
         0xA1, 9},
        {"LPCM, confirmed id, no access unit starts", bd, {0xA1, 1, 0, 0, 0x85, 0x31, 0x80, 0x76, 0x77}, 0xA1, 7},
        {"sub-picture", bd, {0x21, 0x10, 0x20}, SUBSTREAM_CODE_SUBPICTURE, 0},
        {"DTS", bd, {0x8A, 1, 0, 1, 0x10}, SUBSTREAM_CODE_DTS, 0},
        {"another sub-stream", bd, {0x40, 1, 0, 1, 0x10}, 0, 0},
        {"private_stream_1, empty: passed over", bd, {}, 0, 0},
        {"private_stream_2, 00", 0xBF, {0x00, 0x10}, SUBSTREAM_CODE_PCI, 0},
        {"private_stream_2, 01", 0xBF, {0x01, 0x10}, SUBSTREAM_CODE_DSI, 0},
        {"private_stream_2, other", 0xBF, {0x02, 0x10}, SUBSTREAM_CODE_PRIVATE_2_OTHER, 0},
        {"private_stream_2, empty: passed over", 0xBF, {}, 0, 0},
    };
    CProgramStreamBuilder b;
    b.AddPack(Pack(false, 0));
    std::vector<SSeen> expected;
    std::vector<const char*> what;
    for (const SRow& row : rows) {
        const Bytes packet = vsktest::MakePes(Pes(row.streamId, row.payload));
        const std::uint32_t index = row.streamId == bd ? 0 : 1;
        const std::uint64_t at = b.AddRaw(packet);
        if (row.payload.empty())
            continue;
        what.push_back(row.what);
        expected.push_back(Expect(packet, at,
                                  Bytes(row.payload.begin() + static_cast<std::ptrdiff_t>(row.removed),
                                        row.payload.end()),
                                  index, index + 1));
        expected.back().subStreamId = row.subStreamId;
    }
    const Bytes stream = b.Take();
    for (const Cut& cut : {WHOLE, BYTES}) {
        CProgramStream reader;
        const std::vector<SSeen> seen = Read(stream, 4, cut, ECaller::Drains, &reader);
        ASSERT_EQ(seen.size(), expected.size());
        for (std::size_t i = 0; i < seen.size(); ++i)
            EXPECT_EQ(seen[i], expected[i]) << what[i];
        // The last LPCM header read: 85 is emphasis 1, mute 0, frame 5; 31
        // is quantization 0, sampling frequency 3, channels 1.
        const SSubStreamHeader& h = reader.SubStreamHeader();
        EXPECT_EQ(std::tuple(h.subStreamId, h.frameHeaderCount, h.firstAccessUnitPointer, h.emphasis, h.mute,
                             h.frameNumber, h.quantization, h.samplingFrequency, h.channels, h.dynamicRange),
                  std::tuple(0xA1, 1, 0, 1, 0, 5, 0, 3, 1, 0x80));
    }
}

// ---------------------------------------------------------------------------
// Memory

TEST(ProgramStreamTest, PrepareSizesTheBuffer)
{
    CProgramStream reader;
    EXPECT_EQ(reader.Prepare(0, 4), ResultSetupFailed);
    EXPECT_EQ(reader.NextUnit(), -1);
    EXPECT_EQ(reader.Prepare(1, 4), RESULT_OK);
    EXPECT_EQ(reader.Capacity(), 0x20000u);
    EXPECT_EQ(reader.Prepare(0x30000, 4), RESULT_OK);
    EXPECT_EQ(reader.Capacity(), 0x30000u);
    EXPECT_EQ(reader.Append(nullptr, 1), ResultAppendFailed);
}

TEST(ProgramStreamTest, JunkIsNotKeptButAStartCodeCutAtItsEndIs)
{
    const Bytes pes = vsktest::MakePes(Pes(0xC0, Pattern(500, 1), 100));
    CProgramStream reader;
    ASSERT_EQ(reader.Prepare(0x20000, 4), RESULT_OK);
    const Bytes junk(PIECE, 0x5A);
    for (int i = 0; i < 16; ++i) {
        ASSERT_EQ(reader.Append(junk.data(), PIECE), RESULT_OK);
        EXPECT_EQ(reader.NextUnit(), 0);
        EXPECT_EQ(reader.Remaining(), 0u);
    }
    // 5A 00 00: the two zeros may begin a start code.
    const Bytes cut{0x5A, 0x00, 0x00};
    ASSERT_EQ(reader.Append(cut.data(), 3), RESULT_OK);
    EXPECT_EQ(reader.NextUnit(), 0);
    EXPECT_EQ(reader.Remaining(), 2u);
    ASSERT_EQ(reader.Append(pes.data() + 2, static_cast<std::uint32_t>(pes.size() - 2)), RESULT_OK);
    ASSERT_EQ(reader.NextUnit(), 1);
    SUnitInfo info;
    ASSERT_TRUE(reader.TakeUnit(info));
    EXPECT_EQ(info.position, 16 * static_cast<std::int64_t>(PIECE) + 1);
    EXPECT_EQ(Bytes(info.payload, info.payload + info.payloadLength), Pattern(500, 1));
    EXPECT_EQ(reader.Capacity(), 0x20000u);
}

// The largest packet, all but its last byte held, and a 64 KiB Feed on top;
// then a caller that does not release: one more 64 KiB Feed is taken, the
// next refused until it releases, and no unit is lost.
TEST(ProgramStreamTest, TakesA64KFeedOnTopOfALargestPacketAndBoundsAnUnreleasedUnit)
{
    CProgramStreamBuilder b;
    b.AddPack(Pack(false, 0));
    std::vector<std::uint64_t> positions;
    for (unsigned i = 0; i < 12; ++i)
        positions.push_back(b.AddPes(Pes(0xE0, Pattern(0xFFFF - 3, i))));
    const Bytes stream = b.Take();
    const std::uint32_t held = static_cast<std::uint32_t>(positions[0] + PROGRAM_STREAM_MAX_PACKET - 1);

    CProgramStream reader;
    ASSERT_EQ(reader.Prepare(0x20000, 4), RESULT_OK);
    ASSERT_EQ(reader.Append(stream.data(), held), RESULT_OK);
    EXPECT_EQ(reader.NextUnit(), 0);
    ASSERT_EQ(reader.Append(stream.data() + held, PIECE), RESULT_OK);
    std::size_t fed = held + PIECE;
    std::vector<std::int64_t> seen;
    auto feed = [&] {
        const Result r = reader.Append(stream.data() + fed, PIECE);
        fed += r == RESULT_OK ? PIECE : 0;
        return r;
    };
    auto drain = [&] {
        while (reader.NextUnit() == 1) {
            SUnitInfo info;
            reader.TakeUnit(info);
            seen.push_back(info.position);
            EXPECT_EQ(info.spanLength, PROGRAM_STREAM_MAX_PACKET);
            reader.ReleaseUnit();
        }
    };
    drain();
    EXPECT_GT(reader.Capacity(), 0x20000u);
    EXPECT_EQ(feed(), RESULT_OK);
    ASSERT_EQ(reader.NextUnit(), 1);
    EXPECT_EQ(feed(), RESULT_OK);
    const std::uint32_t used = reader.Used();
    EXPECT_EQ(feed(), ResultAppendFailed);
    EXPECT_EQ(reader.Used(), used);
    drain();
    while (fed + PIECE <= stream.size()) {
        EXPECT_EQ(feed(), RESULT_OK);
        drain();
    }
    EXPECT_EQ(seen, std::vector<std::int64_t>(positions.begin(), positions.begin() + static_cast<std::ptrdiff_t>(seen.size())));
    EXPECT_EQ(seen.size(), (fed - positions[0]) / PROGRAM_STREAM_MAX_PACKET);
    EXPECT_LE(reader.Capacity(), PROGRAM_STREAM_MAX_PACKET - 1 + 2 * PIECE);
}

}  // namespace
}  // namespace parser
