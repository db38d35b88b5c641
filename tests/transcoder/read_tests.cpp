// The read path: byte-exact delivery, end of stream, request sizing and prefix
// clearing for time-stamped AVC sources, and reads after seeks that leave
// bytes to drop. Expected bytes come from the files themselves and from the
// grid-based model in ConverterTesting, never from the converter's helpers.
#include "ConverterTesting.h"

#include "vsktest/TempDir.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace transcodertest;

constexpr int CODES_STAMPED[] = {26, 29, 32};

Bytes Slice(const Bytes& bytes, std::size_t from, std::size_t to)
{
    to = std::min(to, bytes.size());
    from = std::min(from, to);
    return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(from), bytes.begin() + static_cast<std::ptrdiff_t>(to));
}

// End of stream is reported by the empty read and by no other.
void ExpectEndOnlyAtTheEmptyRead(const std::vector<SRead>& reads)
{
    ASSERT_FALSE(reads.empty());
    for (std::size_t i = 0; i < reads.size(); ++i) {
        SCOPED_TRACE("read " + std::to_string(i));
        EXPECT_EQ(reads[i].hr, S_OK);
        const bool last = i + 1 == reads.size();
        EXPECT_EQ(reads[i].endOfStream, last ? VARIANT_TRUE : VARIANT_FALSE);
        EXPECT_EQ(reads[i].bytes.empty(), last);
    }
}

// The bytes delivered from file offset `at` on are the file's, except that a
// packet's 4-byte prefix may have been cleared.
::testing::AssertionResult FileBytesFrom(const Bytes& got, const Bytes& file, std::size_t at)
{
    for (std::size_t i = 0; i < got.size(); ++i) {
        const std::size_t offset = at + i;
        if (offset >= file.size())
            return ::testing::AssertionFailure() << "byte beyond the end at " << offset;
        const bool prefix = offset % UNIT_192 < 4;
        if (got[i] != file[offset] && !(prefix && got[i] == 0))
            return ::testing::AssertionFailure() << "wrong byte at offset " << offset;
    }
    return ::testing::AssertionSuccess();
}

class ReadTest : public ::testing::Test {
protected:
    vsktest::CTempDir m_dir;
    CComPtr<IVskMediaTranscoder> m_converter = NewConverter();
};

TEST_F(ReadTest, UnstampedSourcesComeBackByteForByte)
{
    const SStream plain = WritePlainStream(m_dir / "plain.m2ts", 100);
    // 192-byte packets are passed through unchanged unless the source is
    // classified as time-stamped AVC.
    const SStream stamped = WriteStampedStream(m_dir / "stamped.tts", 60, 77);
    const struct {
        const char* what;
        const SStream& stream;
        int code;  // -2: path source
    } sources[] = {
        {"188-byte path", plain, -2},   {"192-byte path", stamped, -2}, {"AVC zero stamps", stamped, 25},
        {"AVC 188", stamped, 27},       {"MPEG-2 stamped", stamped, 2}, {"no family", stamped, 0},
        {"unclassifiable", stamped, ITEM_UNCLASSIFIABLE},
    };
    const std::vector<std::vector<LONG>> chunkings = {{1, 7, 188, 1000, 4096, 333}, {65536}, {192}, {1000}};
    for (const auto& s : sources) {
        for (const auto& counts : chunkings) {
            SCOPED_TRACE(std::string(s.what) + " first count " + std::to_string(counts[0]));
            CComPtr<IVskMediaTranscoder> converter = NewConverter();
            ASSERT_EQ(s.code == -2 ? OpenAsPath(converter, s.stream.path) : OpenAsItem(converter, s.stream.path, s.code),
                      S_OK);
            ASSERT_EQ(converter->Start(), S_OK);
            const std::vector<SRead> reads = ReadToEnd(converter, counts);
            ExpectEndOnlyAtTheEmptyRead(reads);
            EXPECT_EQ(Concatenate(reads), s.stream.bytes);
        }
    }
}

TEST_F(ReadTest, StampedSourceReadOnTheGridHasEveryPrefixCleared)
{
    const SStream stream = WriteStampedStream(m_dir / "stamped.m2ts", 60);
    const Bytes expected = WithPrefixesCleared(stream.bytes);
    // Each chunking ends exactly at the end of the 60 packets, so every block
    // holds two packets or more.
    const std::vector<std::vector<LONG>> chunkings = {{384}, {960}, {1920}, {384, 960, 576}, {1000}, {500}, {1 << 20}};
    for (int code : CODES_STAMPED) {
        for (const auto& counts : chunkings) {
            SCOPED_TRACE("code " + std::to_string(code) + " first count " + std::to_string(counts[0]));
            ASSERT_EQ(OpenAsItem(m_converter, stream.path, code), S_OK);
            ASSERT_EQ(m_converter->Start(), S_OK);
            const std::vector<SRead> reads = ReadToEnd(m_converter, counts);
            ExpectEndOnlyAtTheEmptyRead(reads);
            const Bytes got = Concatenate(reads);
            ASSERT_EQ(got.size(), stream.bytes.size());
            for (std::size_t at = 0; at < got.size(); at += UNIT_192) {
                SCOPED_TRACE("packet at " + std::to_string(at));
                EXPECT_EQ(Slice(got, at, at + 4), Bytes(4, 0));
                EXPECT_EQ(Slice(got, at + 4, at + UNIT_192), Slice(stream.bytes, at + 4, at + UNIT_192));
            }
            EXPECT_EQ(got, expected);
        }
    }
}

TEST_F(ReadTest, StampedRequestsAreCutToWholePackets)
{
    const SStream stream = WriteStampedStream(m_dir / "stamped.m2ts", 20);
    const Bytes cleared = WithPrefixesCleared(stream.bytes);
    const struct {
        LONG count;
        std::size_t delivered;
        bool prefixesCleared;
    } cases[] = {
        {1000, 960, true},   // five packets
        {100, 100, false},   // below one packet: as asked, nothing to confirm the grid
        {1, 1, false},
        {191, 191, false},
        {192, 192, false},   // one packet alone keeps its prefix
        {193, 192, false},
        {383, 192, false},
        {384, 384, true},
        {385, 384, true},
        {576, 576, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("count " + std::to_string(c.count));
        ASSERT_EQ(OpenAsItem(m_converter, stream.path, 26), S_OK);
        ASSERT_EQ(m_converter->Start(), S_OK);
        const SRead r = ReadOnce(m_converter, c.count);
        EXPECT_EQ(r.hr, S_OK);
        EXPECT_EQ(r.endOfStream, VARIANT_FALSE);
        EXPECT_EQ(r.bytes, Slice(c.prefixesCleared ? cleared : stream.bytes, 0, c.delivered));
    }
}

TEST_F(ReadTest, ReadAfterAnUnalignedSeekDropsTheSkipAndContinuesOnTheGrid)
{
    const SStream stream = WriteStampedStream(m_dir / "stamped.m2ts", 20);
    const Bytes cleared = WithPrefixesCleared(stream.bytes);
    ASSERT_EQ(OpenAsItem(m_converter, stream.path, 26), S_OK);
    ASSERT_EQ(m_converter->SeekByBytes(1000), S_OK);
    ASSERT_EQ(m_converter->Start(), S_OK);
    SRead r = ReadOnce(m_converter, 1000);
    EXPECT_EQ(r.hr, S_OK);
    EXPECT_EQ(r.bytes, Slice(cleared, 1000, 1920));
    r = ReadOnce(m_converter, 1000);
    EXPECT_EQ(r.hr, S_OK);
    EXPECT_EQ(r.bytes, Slice(cleared, 1920, 2880));
}

TEST_F(ReadTest, ShortReadsAfterASeekDeliverEveryByteOnce)
{
    const SStream stream = WriteStampedStream(m_dir / "stamped.m2ts", 20);
    ASSERT_EQ(OpenAsItem(m_converter, stream.path, 29), S_OK);
    ASSERT_EQ(m_converter->SeekByBytes(385), S_OK);
    ASSERT_EQ(m_converter->Start(), S_OK);

    // Requests smaller than the skip plus one packet: each gives exactly what
    // was asked, and the next one goes on from there.
    std::size_t at = 385;
    for (LONG count : {1, 1, 10, 100, 191, 192, 5, 300}) {
        SCOPED_TRACE("count " + std::to_string(count) + " at " + std::to_string(at));
        const SRead r = ReadOnce(m_converter, count);
        ASSERT_EQ(r.hr, S_OK);
        ASSERT_LE(r.bytes.size(), static_cast<std::size_t>(count));
        ASSERT_FALSE(r.bytes.empty());
        ASSERT_TRUE(FileBytesFrom(r.bytes, stream.bytes, at));
        at += r.bytes.size();
    }
}

TEST_F(ReadTest, SkipReachingPastTheEndOfTheFileGivesEndOfStream)
{
    // 20 packets and 100 bytes of a 21st.
    const SStream stream = WriteStampedStream(m_dir / "cut.m2ts", 20, 100);
    const std::int64_t lastPacket = 20 * UNIT_192;
    const struct {
        std::int64_t position;
        LONG count;
        std::size_t delivered;
    } cases[] = {
        {lastPacket + 150, 1000, 0},  // the file ends inside the skip
        {lastPacket + 150, 10, 0},
        {lastPacket + 100, 1000, 0},  // ... or right at its end
        {lastPacket + 50, 1000, 50},
        {lastPacket + 50, 20, 20},
        {lastPacket + 2000, 1000, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("position " + std::to_string(c.position) + " count " + std::to_string(c.count));
        ASSERT_EQ(OpenAsItem(m_converter, stream.path, 26), S_OK);
        ASSERT_EQ(m_converter->SeekByBytes(c.position), S_OK);
        ASSERT_EQ(m_converter->Start(), S_OK);
        SRead r = ReadOnce(m_converter, c.count);
        ASSERT_EQ(r.hr, S_OK);
        EXPECT_EQ(r.bytes, Slice(stream.bytes, static_cast<std::size_t>(c.position),
                                 static_cast<std::size_t>(c.position) + c.delivered));
        EXPECT_EQ(r.endOfStream, c.delivered == 0 ? VARIANT_TRUE : VARIANT_FALSE);
        if (c.delivered > 0) {
            // What is left of the cut packet, then the end.
            const std::vector<SRead> rest = ReadToEnd(m_converter, {1000});
            ExpectEndOnlyAtTheEmptyRead(rest);
            EXPECT_EQ(Concatenate(rest),
                      Slice(stream.bytes, static_cast<std::size_t>(c.position) + c.delivered, stream.bytes.size()));
        }
    }
}

// Random seeks and reads on a time-stamped source against the model: each
// read delivers at most what was asked, the model's bytes exactly, and the
// file's bytes from the sought position on, with prefixes either kept or 0.
TEST_F(ReadTest, RandomSeeksAndReadsDeliverTheFilesBytes)
{
    const SStream stream = WriteStampedStream(m_dir / "random.m2ts", 80, 123);
    const std::int64_t size = static_cast<std::int64_t>(stream.bytes.size());
    for (std::uint32_t seed = 1; seed <= 12; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::mt19937 random(seed);
        ASSERT_EQ(OpenAsItem(m_converter, stream.path, CODES_STAMPED[seed % 3]), S_OK);
        CStampedReadModel model(stream.bytes);
        std::int64_t cursor = 0;  // file offset of the next byte expected
        bool started = false;
        for (int step = 0; step < 300; ++step) {
            if (random() % 5 == 0) {
                if (started) {
                    ASSERT_EQ(m_converter->Stop(), S_OK);
                }
                started = false;
                const std::int64_t position = static_cast<std::int64_t>(random() % (size + 600)) - 250;
                const bool ok = model.Seek(position);
                ASSERT_EQ(m_converter->SeekByBytes(position), ok ? S_OK : E_FAIL) << "position " << position;
                if (ok)
                    cursor = std::max<std::int64_t>(0, position);
                continue;
            }
            if (!started) {
                ASSERT_EQ(m_converter->Start(), S_OK);
            }
            started = true;
            const LONG count = random() % 2 == 0 ? static_cast<LONG>(1 + random() % 400)
                                                 : static_cast<LONG>(1 + random() % 4000);
            const SRead r = ReadOnce(m_converter, count);
            const Bytes expected = model.Read(count);
            ASSERT_EQ(r.hr, S_OK) << "step " << step << " count " << count;
            ASSERT_LE(r.bytes.size(), static_cast<std::size_t>(count));
            ASSERT_EQ(r.bytes, expected) << "step " << step << " count " << count << " cursor " << cursor;
            EXPECT_EQ(r.endOfStream, r.bytes.empty() ? VARIANT_TRUE : VARIANT_FALSE);
            ASSERT_TRUE(FileBytesFrom(r.bytes, stream.bytes, static_cast<std::size_t>(cursor)));
            cursor += static_cast<std::int64_t>(r.bytes.size());
            if (r.bytes.empty()) {
                EXPECT_GE(cursor, size);
            }
        }
    }
}

TEST_F(ReadTest, EightConvertersOnEightThreadsEachGetTheExactBytes)
{
    const SStream plain = WritePlainStream(m_dir / "shared.m2ts", 2000);
    const SStream stamped = WriteStampedStream(m_dir / "shared.tts", 2000, 50);
    const Bytes stampedExpected = [&] {
        CStampedReadModel model(stamped.bytes);
        Bytes all;
        for (Bytes block = model.Read(7000); !block.empty(); block = model.Read(7000))
            all.insert(all.end(), block.begin(), block.end());
        return all;
    }();

    struct SResult {
        HRESULT open = E_UNEXPECTED;
        std::vector<SRead> reads;
    };
    std::vector<SResult> results(8);
    std::vector<CComPtr<IVskMediaTranscoder>> converters;
    for (int i = 0; i < 8; ++i)
        converters.push_back(NewConverter());
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i) {
        threads.emplace_back([&, i] {
            const bool comOk = SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED));
            IVskMediaTranscoder* converter = converters[static_cast<std::size_t>(i)];
            SResult& result = results[static_cast<std::size_t>(i)];
            result.open = i % 2 == 0 ? OpenAsPath(converter, plain.path) : OpenAsItem(converter, stamped.path, 32);
            if (SUCCEEDED(result.open) && SUCCEEDED(converter->Start()))
                result.reads = ReadToEnd(converter, i % 2 == 0 ? std::vector<LONG>{4096, 100, 65536} : std::vector<LONG>{7000});
            converter->Close();
            if (comOk)
                CoUninitialize();
        });
    }
    for (std::thread& t : threads)
        t.join();
    for (int i = 0; i < 8; ++i) {
        SCOPED_TRACE("thread " + std::to_string(i));
        const SResult& result = results[static_cast<std::size_t>(i)];
        ASSERT_EQ(result.open, S_OK);
        ExpectEndOnlyAtTheEmptyRead(result.reads);
        EXPECT_EQ(Concatenate(result.reads), i % 2 == 0 ? plain.bytes : stampedExpected);
    }
}

}  // namespace
