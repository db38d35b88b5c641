#include "ConverterTesting.h"

#include "frame/ParserLibrary.h"
#include "source/Classifier.h"
#include "vsktest/TsStreamBuilder.h"
#include "vsktest/WideText.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <stdexcept>

namespace transcodertest {
namespace {

constexpr std::uint8_t SYNC = 0x47;
constexpr std::uint16_t STREAM_PID = 0x0100;

std::wstring& ParserDirectoryText()
{
    static std::wstring directory;
    return directory;
}

class CConverterEnvironment : public ::testing::Environment {
public:
    CConverterEnvironment(std::filesystem::path directory, bool expected)
        : m_directory(std::move(directory)), m_expected(expected)
    {
    }

    void SetUp() override
    {
        m_comInitialised = SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED));
        ParserDirectoryText() = vsktest::WideFromPath(m_directory);
        // The first probe decides for the whole process; make it here, with the
        // program's directory, so no test depends on which one runs first.
        const bool available = frame::IsParserLibraryAvailable(ParserDirectoryText());
        if (available != m_expected) {
            std::fprintf(stderr, "parser library %s, expected %s (directory %s)\n",
                         available ? "available" : "absent", m_expected ? "available" : "absent",
                         m_directory.string().c_str());
            std::abort();
        }
    }

    void TearDown() override
    {
        if (m_comInitialised)
            CoUninitialize();
    }

private:
    std::filesystem::path m_directory;
    bool m_expected;
    bool m_comInitialised = false;
};

// The video and audio of one profile family; the packet format picks the
// code within it.
enum class EVideo { MPEG2, AVC };
enum class EAudio { AC3, MPEG };
struct SFamily {
    int firstCode;
    int codeCount;
    EVideo video;
    LONG width;
    LONG height;
    LONG aspect;
    LONG level;
    double fps;
    EAudio audio;
};

// Facts written from the published profile rules, one clear member of each
// family.
constexpr SFamily FAMILIES[] = {
    {1, 3, EVideo::MPEG2, 720, 480, 3, 2, 29.97, EAudio::AC3},
    {4, 3, EVideo::MPEG2, 1920, 1080, 1, 3, 29.97, EAudio::AC3},
    {13, 3, EVideo::MPEG2, 704, 480, 2, 2, 30.0, EAudio::AC3},
    {16, 3, EVideo::MPEG2, 1920, 1080, 3, 3, 29.97, EAudio::AC3},
    {19, 3, EVideo::MPEG2, 704, 480, 2, 3, 59.94, EAudio::AC3},
    {22, 3, EVideo::MPEG2, 720, 576, 3, 2, 25.0, EAudio::AC3},
    {25, 3, EVideo::AVC, 1920, 1080, 3, 10, 29.97, EAudio::AC3},
    {28, 3, EVideo::AVC, 1920, 1080, 3, 10, 25.0, EAudio::AC3},
    {31, 3, EVideo::AVC, 1920, 1080, 3, 10, 24.0, EAudio::AC3},
    {34, 1, EVideo::MPEG2, 1440, 1080, 3, 4, 29.97, EAudio::MPEG},
    {35, 1, EVideo::MPEG2, 1440, 1080, 3, 4, 25.0, EAudio::MPEG},
};

// First, second and third code of a family come from 192-byte packets with
// zero stamps, with valid stamps, and from 188-byte packets.
constexpr LONG PACKET_FORMAT_BY_POSITION[] = {HOST_PACKET_FORMAT_192_ZERO_STAMPS, HOST_PACKET_FORMAT_192_STAMPED,
                                              HOST_PACKET_FORMAT_188};

std::array<std::uint8_t, 4> StampFor(std::size_t index)
{
    // Non-zero, different per packet, and never a sync byte.
    std::array<std::uint8_t, 4> prefix = {static_cast<std::uint8_t>(0x80 | ((index >> 24) & 0x3F)),
                                          static_cast<std::uint8_t>(index >> 16),
                                          static_cast<std::uint8_t>(index >> 8),
                                          static_cast<std::uint8_t>(index * 7 + 1)};
    for (std::uint8_t& b : prefix) {
        if (b == SYNC)
            b = SYNC + 1;
    }
    return prefix;
}

vsktest::TsPacket RandomPacket(std::mt19937& random, bool allowSync)
{
    vsktest::TsPacket packet;
    packet.pid = STREAM_PID;
    packet.payload.resize(vsktest::TS_MAX_PAYLOAD);
    for (std::uint8_t& b : packet.payload) {
        b = static_cast<std::uint8_t>(random());
        if (!allowSync && b == SYNC)
            b = SYNC + 1;
    }
    return packet;
}

}  // namespace

void InstallConverterEnvironment(const std::filesystem::path& parserDirectory, bool parserExpected)
{
    // GoogleTest owns registered environments.
    ::testing::AddGlobalTestEnvironment(
        std::make_unique<CConverterEnvironment>(parserDirectory, parserExpected).release());
}

std::wstring ParserDirectory()
{
    return ParserDirectoryText();
}

CComPtr<IVskMediaTranscoder> NewConverter()
{
    CComPtr<IVskMediaTranscoder> converter;
    const HRESULT hr = transcoder::CreateMpeg2TSConverter(ParserDirectory(), &converter);
    if (FAILED(hr) || !converter)
        throw std::runtime_error("cannot create a converter");
    return converter;
}

CComPtr<CComObject<CHostTargetDescription>> MakeTarget(const std::wstring& mimeType, const std::wstring& profileName,
                                                      VARIANT_BOOL flag1, VARIANT_BOOL flag2, VARIANT_BOOL flag3,
                                                      const std::wstring& alternativeName)
{
    CComPtr<CComObject<CHostTargetDescription>> target = CreateHostTargetDescription();
    target->m_mimeType = mimeType;
    target->m_profileName = profileName;
    target->m_flag1 = flag1;
    target->m_flag2 = flag2;
    target->m_flag3 = flag3;
    target->m_alternativeProfileName = alternativeName;
    return target;
}

CComPtr<CComObject<CHostTargetDescription>> PlainTarget(const std::wstring& mimeType, VARIANT_BOOL flag2)
{
    return MakeTarget(mimeType, L"", VARIANT_FALSE, flag2, VARIANT_TRUE);
}

std::vector<int> ProducibleCodes()
{
    std::vector<int> codes{ITEM_NO_FAMILY};
    for (const SFamily& family : FAMILIES) {
        for (int i = 0; i < family.codeCount; ++i)
            codes.push_back(family.firstCode + i);
    }
    return codes;
}

CComPtr<CComObject<CHostMediaItem>> MakeMediaItem(int code, const std::filesystem::path& file, LONG durationMs)
{
    CComPtr<CComObject<CHostMediaItem>> item = CreateHostMediaItem();
    item->m_path = CComVariant(vsktest::WideFromPath(file).c_str());
    item->m_size = 1000000;
    item->m_duration = durationMs;
    item->m_bitRate = 19392700;
    item->m_videoStreamCount = 1;
    item->m_audioStreamCount = 1;

    // Code 0: a size no MPEG-2 rule accepts (704x576) leaves the video
    // rejected, so the item is classified with no family.
    SFamily family{0, 1, EVideo::MPEG2, 704, 576, 3, 2, 25.0, EAudio::AC3};
    LONG packetFormat = HOST_PACKET_FORMAT_188;
    if (code == ITEM_UNCLASSIFIABLE) {
        item->m_size = -1;
    } else if (code != ITEM_NO_FAMILY) {
        const auto found = std::find_if(std::begin(FAMILIES), std::end(FAMILIES), [&](const SFamily& f) {
            return code >= f.firstCode && code < f.firstCode + f.codeCount;
        });
        if (found == std::end(FAMILIES))
            throw std::invalid_argument("no media item classifies to code " + std::to_string(code));
        family = *found;
        packetFormat = family.codeCount == 1 ? HOST_PACKET_FORMAT_188
                                             : PACKET_FORMAT_BY_POSITION[code - family.firstCode];
    }
    item->m_packetFormat = packetFormat;

    CComPtr<CComObject<CHostStream>> video = CreateHostStream(
        family.video == EVideo::MPEG2 ? HOST_DESCRIPTION_MPEG2_VIDEO : HOST_DESCRIPTION_AVC_VIDEO);
    HostVideoFacts& v = video->m_video;
    v.width = family.width;
    v.height = family.height;
    v.aspectRatioCode = family.aspect;
    v.level = family.level;
    v.profile = 2;
    v.frameRate = family.fps;
    v.primaryBitRate = family.video == EVideo::MPEG2 ? 8000000 : 12000000;
    item->m_videoStream = static_cast<IHostMpeg2VideoDescription*>(video.p);

    CComPtr<CComObject<CHostStream>> audio = CreateHostStream(
        family.audio == EAudio::AC3 ? HOST_DESCRIPTION_AC3_AUDIO : HOST_DESCRIPTION_MPEG_AUDIO);
    audio->m_audio.sampleRate = 48000;
    audio->m_audio.channels = family.audio == EAudio::AC3 ? 6 : 2;
    audio->m_audio.bitRate = family.audio == EAudio::AC3 ? 448000 : 384000;
    item->m_audioStream = static_cast<IHostAc3AudioDescription*>(audio.p);
    return item;
}

CComVariant PathSource(const std::filesystem::path& file)
{
    return CComVariant(vsktest::WideFromPath(file).c_str());
}

CComVariant ItemSource(IUnknown* item)
{
    return CComVariant(item);
}

HRESULT OpenAsPath(IVskMediaTranscoder* converter, const std::filesystem::path& file)
{
    return converter->Open(PathSource(file), PlainTarget(L"video/vnd.dlna.mpeg-tts"));
}

HRESULT OpenAsItem(IVskMediaTranscoder* converter, const std::filesystem::path& file, int code, LONG durationMs)
{
    CComPtr<CComObject<CHostMediaItem>> item = MakeMediaItem(code, file, durationMs);
    return converter->Open(ItemSource(static_cast<IHostMediaItem*>(item.p)), PlainTarget(L"video/vnd.dlna.mpeg-tts"));
}

SStream WritePlainStream(const std::filesystem::path& path, std::size_t packets, std::uint32_t seed)
{
    std::mt19937 random(seed);
    vsktest::CTsStreamBuilder builder(vsktest::TS_UNIT_SIZE_188);
    for (std::size_t i = 0; i < packets; ++i)
        builder.Add(RandomPacket(random, true));
    builder.WriteTo(path);
    return {path, builder.Bytes()};
}

SStream WriteStampedStream(const std::filesystem::path& path, std::size_t packets, std::size_t tailBytes,
                           std::uint32_t seed)
{
    std::mt19937 random(seed);
    vsktest::CTsStreamBuilder builder(vsktest::TS_UNIT_SIZE_192);
    builder.SetCustomPrefix([](std::size_t index) { return StampFor(index); });
    for (std::size_t i = 0; i < packets; ++i)
        builder.Add(RandomPacket(random, false));
    if (tailBytes > 0) {
        builder.Add(RandomPacket(random, false));
        builder.TruncateLastUnit(tailBytes);
    }
    builder.WriteTo(path);
    return {path, builder.Bytes()};
}

SRead ReadOnce(IVskMediaTranscoder* converter, LONG count)
{
    SRead result;
    SAFEARRAY* data = nullptr;
    result.hr = converter->Read(count, &data, &result.endOfStream);
    if (data != nullptr) {
        CComSafeArray<BYTE> array;
        array.Attach(data);
        result.bytes.assign(array.GetData(), array.GetData() + array.GetCount());
    }
    return result;
}

std::vector<SRead> ReadToEnd(IVskMediaTranscoder* converter, const std::vector<LONG>& counts, std::size_t maxReads)
{
    std::vector<SRead> reads;
    for (std::size_t i = 0; i < maxReads; ++i) {
        reads.push_back(ReadOnce(converter, counts[i % counts.size()]));
        if (FAILED(reads.back().hr) || reads.back().endOfStream == VARIANT_TRUE)
            break;
    }
    return reads;
}

Bytes Concatenate(const std::vector<SRead>& reads)
{
    Bytes all;
    for (const SRead& r : reads)
        all.insert(all.end(), r.bytes.begin(), r.bytes.end());
    return all;
}

Bytes WithPrefixesCleared(const Bytes& file)
{
    Bytes cleared = file;
    for (std::size_t at = 0; at + UNIT_192 <= cleared.size(); at += UNIT_192)
        std::fill_n(cleared.begin() + static_cast<std::ptrdiff_t>(at), 4, 0);
    return cleared;
}

void ClearConfirmedPrefixes(Bytes& block, std::int64_t start)
{
    const std::int64_t end = start + static_cast<std::int64_t>(block.size());
    const std::int64_t first = (start + UNIT_192 - 1) / UNIT_192 * UNIT_192;
    if (end - first < 2 * UNIT_192)
        return;
    for (std::int64_t packet = first, index = 0; packet < end; packet += UNIT_192, ++index) {
        const bool whole = packet + UNIT_192 <= end;
        if (!whole && index % 2 == 0)
            continue;
        for (std::int64_t at = packet; at < std::min(packet + 4, end); ++at)
            block[static_cast<std::size_t>(at - start)] = 0;
    }
}

bool CStampedReadModel::Seek(std::int64_t position)
{
    // The grid position at or before the request, counting toward zero as
    // the host's byte positions do; what lies between is dropped later.
    const std::int64_t aligned = position / UNIT_192 * UNIT_192;
    if (aligned < 0)
        return false;
    m_position = aligned;
    m_skip = std::max<std::int64_t>(0, position - aligned);
    return true;
}

Bytes CStampedReadModel::Read(std::int64_t count)
{
    const std::int64_t skip = m_skip;
    bool partial = false;  // a request smaller than the skip plus one packet
    std::int64_t request = count;
    if (skip > 0 && count >= skip + UNIT_192) {
        request = (count - skip) / UNIT_192 * UNIT_192;
    } else if (skip > 0) {
        request = (skip + count + UNIT_192 - 1) / UNIT_192 * UNIT_192;
        partial = true;
    } else if (count > UNIT_192 && count % UNIT_192 != 0) {
        request = count / UNIT_192 * UNIT_192;
    }

    const std::int64_t size = static_cast<std::int64_t>(m_file.size());
    const std::int64_t from = std::min(m_position, size);
    const std::int64_t to = std::min(m_position + request, size);
    Bytes block(m_file.begin() + from, m_file.begin() + std::max(from, to));
    ClearConfirmedPrefixes(block, m_position);

    const std::int64_t got = static_cast<std::int64_t>(block.size());
    std::int64_t delivered = std::max<std::int64_t>(0, got - skip);
    if (partial)
        delivered = std::min(delivered, count);
    Bytes out;
    if (delivered > 0)
        out.assign(block.begin() + skip, block.begin() + skip + delivered);

    if (partial && skip + delivered < got) {
        const std::int64_t next = m_position + skip + delivered;
        m_position = next / UNIT_192 * UNIT_192;
        m_skip = next - m_position;
    } else {
        m_position += got;
        m_skip = 0;
    }
    return out;
}

std::string Narrow(const std::wstring& text)
{
    std::string narrow;
    for (wchar_t c : text)
        narrow += static_cast<char>(c);
    return narrow;
}

}  // namespace transcodertest
