#include "ReadBenchSources.h"

#include "host/host_kit.h"
#include "platform/file.h"
#include "transcoder/CMpeg2TSConverter.h"
#include "vsktest/Recording.h"
#include "vsktest/WideText.h"

#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <vector>

namespace vskbench {

using MediaTranscoderLib::IVskMediaTranscoder;

namespace {

std::int64_t ReadWholeFile(const std::filesystem::path& path)
{
    platform::CFile file;
    if (!file.Open(vsktest::WideFromPath(path).c_str(), platform::EFileMode::READ_SHARED))
        throw std::runtime_error("cannot open " + path.string());
    std::vector<std::uint8_t> buffer(1 << 20);
    std::int64_t total = 0;
    for (std::int64_t got; (got = file.Read(buffer.data(), buffer.size())) > 0;)
        total += got;
    return total;
}

// A media item the classifier takes for AVC 1920x1080 at 29.97 frames per
// second with valid time stamps (source profile code 26).
CComPtr<CComObject<CHostMediaItem>> StampedAvcItem(const std::filesystem::path& path, std::int64_t size)
{
    CComPtr<CComObject<CHostMediaItem>> item = CreateHostMediaItem();
    item->m_path = CComVariant(vsktest::WideFromPath(path).c_str());
    item->m_size = size;
    item->m_duration = 3600000;
    item->m_bitRate = 19000000;
    item->m_packetFormat = HOST_PACKET_FORMAT_192_STAMPED;
    item->m_videoStreamCount = 1;
    item->m_audioStreamCount = 1;
    CComPtr<CComObject<CHostStream>> video = CreateHostStream(HOST_DESCRIPTION_AVC_VIDEO);
    video->m_video.width = 1920;
    video->m_video.height = 1080;
    video->m_video.aspectRatioCode = 3;
    video->m_video.profile = 2;
    video->m_video.level = 10;
    video->m_video.frameRate = 29.97;
    video->m_video.primaryBitRate = 15000000;
    item->m_videoStream = static_cast<IHostAvcVideoDescription*>(video.p);
    CComPtr<CComObject<CHostStream>> audio = CreateHostStream(HOST_DESCRIPTION_AC3_AUDIO);
    audio->m_audio.sampleRate = 48000;
    audio->m_audio.channels = 6;
    audio->m_audio.bitRate = 448000;
    item->m_audioStream = static_cast<IHostAc3AudioDescription*>(audio.p);
    return item;
}

}  // namespace

std::uint64_t BenchFileBytes()
{
    const char* mib = std::getenv("VSK_BENCH_MIB");
    const std::uint64_t size = mib != nullptr ? std::strtoull(mib, nullptr, 10) : 256;
    return (size == 0 ? 256 : size) << 20;
}

std::unique_ptr<SReadBenchFiles> PrepareReadBenchFiles(std::uint64_t bytes)
{
    auto files = std::make_unique<SReadBenchFiles>();
    std::fprintf(stderr, "writing two recordings of %llu MiB into %s\n", static_cast<unsigned long long>(bytes >> 20),
                 files->dir.Path().string().c_str());
    vsktest::RecordingParams plain;
    plain.audio = true;
    files->paths[SOURCE_188] = files->dir / "plain.m2ts";
    vsktest::WriteLargeRecording(files->paths[SOURCE_188], bytes, plain);

    vsktest::RecordingParams stamped = plain;
    stamped.unitSize = vsktest::TS_UNIT_SIZE_192;
    stamped.prefixMode = vsktest::PrefixMode::ArrivalTime;
    stamped.videoStreamType = 0x1B;
    stamped.audioStreamType = 0x81;
    files->paths[SOURCE_STAMPED] = files->dir / "stamped.m2ts";
    vsktest::WriteLargeRecording(files->paths[SOURCE_STAMPED], bytes, stamped);

    for (int s : {SOURCE_188, SOURCE_STAMPED})
        files->sizes[s] = ReadWholeFile(files->paths[s]);
    return files;
}

CComPtr<IVskMediaTranscoder> OpenStartedConverter(const SReadBenchFiles& files, ESource source)
{
    CComPtr<IVskMediaTranscoder> converter;
    if (FAILED(transcoder::CreateMpeg2TSConverter(L"", &converter)))
        throw std::runtime_error("cannot create a converter");
    CComPtr<CComObject<CHostTargetDescription>> target = CreateHostTargetDescription();
    target->m_mimeType = L"video/vnd.dlna.mpeg-tts";
    target->m_flag3 = VARIANT_TRUE;
    HRESULT hr = E_FAIL;
    if (source == SOURCE_188) {
        hr = converter->Open(CComVariant(vsktest::WideFromPath(files.paths[SOURCE_188]).c_str()), target);
    } else {
        CComPtr<CComObject<CHostMediaItem>> item =
            StampedAvcItem(files.paths[SOURCE_STAMPED], files.sizes[SOURCE_STAMPED]);
        hr = converter->Open(CComVariant(static_cast<IUnknown*>(static_cast<IHostMediaItem*>(item.p))), target);
    }
    if (FAILED(hr) || FAILED(converter->Start()))
        throw std::runtime_error("cannot open the recording");
    return converter;
}

std::int64_t ReadOnce(IVskMediaTranscoder* converter, LONG count)
{
    SAFEARRAY* data = nullptr;
    VARIANT_BOOL end = VARIANT_FALSE;
    if (FAILED(converter->Read(count, &data, &end)))
        throw std::runtime_error("read failed");
    const auto delivered = static_cast<std::int64_t>(data->rgsabound[0].cElements);
    SafeArrayDestroy(data);
    return end == VARIANT_TRUE ? 0 : delivered;
}

}  // namespace vskbench
