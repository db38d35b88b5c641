// The host's media item and its stream objects. A stream object answers any
// chosen set of the five stream descriptions (or none); descriptions of the
// same kind share its video or audio facts. Fields are public so tests can
// preset and inspect them directly; numbers start at -1 (unknown), the packet
// format at 0, stream counts at 0, texts empty, the path VT_EMPTY.
#pragma once

#include <string>

#include "host/host_object.h"

class CHostMediaItem : public CComObjectRoot<CHostMediaItem>,
                       public CHostObjectSupport,
                       public IHostMediaItem,
                       public ISupportErrorInfo {
public:
    using InterfaceMap = ComInterfaceMap<ComInterfaceEntry<IHostMediaItem, IID_IHostMediaItem>,
                                         ComInterfaceEntry<ISupportErrorInfo, IID_ISupportErrorInfo>>;

    bool IsInterfaceAvailable(REFIID iid) const noexcept;

    HOST_TEXT_PROPERTY(Title, IID_IHostMediaItem, 4, 3, m_title)
    HOST_TEXT_PROPERTY(MimeType, IID_IHostMediaItem, 6, 5, m_mimeType)
    STDMETHODIMP put_Path(VARIANT value) noexcept override { return PutVariant(IID_IHostMediaItem, 7, m_path, value); }
    STDMETHODIMP get_Path(VARIANT* value) noexcept override { return GetVariant(IID_IHostMediaItem, 8, m_path, value); }
    HOST_VALUE_PROPERTY(LONGLONG, Size, IID_IHostMediaItem, 10, 9, m_size)
    HOST_VALUE_PROPERTY(LONG, PacketFormat, IID_IHostMediaItem, 12, 11, m_packetFormat)
    HOST_VALUE_PROPERTY(LONG, Duration, IID_IHostMediaItem, 14, 13, m_duration)
    HOST_VALUE_PROPERTY(LONG, BitRate, IID_IHostMediaItem, 16, 15, m_bitRate)
    HOST_VALUE_PROPERTY(LONG, VideoStreamCount, IID_IHostMediaItem, 18, 17, m_videoStreamCount)
    HOST_VALUE_PROPERTY(LONG, AudioStreamCount, IID_IHostMediaItem, 20, 19, m_audioStreamCount)
    HOST_VALUE_PROPERTY(LONG, SubtitleStreamCount, IID_IHostMediaItem, 22, 21, m_subtitleStreamCount)
    STDMETHODIMP put_VideoStream(IUnknown* stream) noexcept override
    {
        return PutPointer(IID_IHostMediaItem, 23, m_videoStream, stream);
    }
    STDMETHODIMP get_VideoStream(IUnknown** stream) noexcept override
    {
        return GetPointer(IID_IHostMediaItem, 24, m_videoStream, stream);
    }
    STDMETHODIMP put_AudioStream(IUnknown* stream) noexcept override
    {
        return PutPointer(IID_IHostMediaItem, 25, m_audioStream, stream);
    }
    STDMETHODIMP get_AudioStream(IUnknown** stream) noexcept override
    {
        return GetPointer(IID_IHostMediaItem, 26, m_audioStream, stream);
    }

    STDMETHODIMP InterfaceSupportsErrorInfo(REFIID iid) noexcept override;

    std::wstring m_title;
    std::wstring m_mimeType;
    CComVariant m_path;
    LONGLONG m_size = -1;
    LONG m_packetFormat = 0;
    LONG m_duration = -1;
    LONG m_bitRate = -1;
    LONG m_videoStreamCount = 0;
    LONG m_audioStreamCount = 0;
    LONG m_subtitleStreamCount = 0;
    CComPtr<IUnknown> m_videoStream;
    CComPtr<IUnknown> m_audioStream;

private:
    CHostMediaItem& Host() noexcept { return *this; }
};

// Which descriptions a stream object answers.
enum HostDescription : unsigned {
    HOST_DESCRIPTION_NONE = 0,
    HOST_DESCRIPTION_MPEG2_VIDEO = 1u << 0,
    HOST_DESCRIPTION_AVC_VIDEO = 1u << 1,
    HOST_DESCRIPTION_AC3_AUDIO = 1u << 2,
    HOST_DESCRIPTION_MPEG_AUDIO = 1u << 3,
    HOST_DESCRIPTION_OTHER_AUDIO = 1u << 4,
};

struct HostVideoFacts {
    LONG streamId = -1;
    std::wstring codecName;
    LONG profile = 0;
    LONG level = 0;
    VARIANT_BOOL bitRateFlag = VARIANT_FALSE;
    LONG primaryBitRate = -1;
    LONG secondaryBitRate = -1;
    LONG aspectRatioCode = 0;
    double frameRate = 0.0;
    LONG chromaFormat = -1;
    LONG width = -1;
    LONG height = -1;
};

struct HostAudioFacts {
    LONG streamId = -1;
    std::wstring language;
    LONG sampleRate = -1;
    LONG channels = -1;
    LONG bitRate = -1;
    LONG layer = -1;
    LONG formatTag = -1;
};

class CHostStream;

// One face per description: each implements its interface's slots over the
// stream's shared facts, so same-named operations of different descriptions
// stay separate operations (own slot, own failures).
template <class Self>
class CHostMpeg2VideoFace : public IHostMpeg2VideoDescription {
    Self& Host() noexcept { return static_cast<Self&>(*this); }

public:
    HOST_VALUE_PROPERTY(LONG, StreamId, IID_IHostMpeg2VideoDescription, 4, 3, m_video.streamId)
    HOST_TEXT_PROPERTY(CodecName, IID_IHostMpeg2VideoDescription, 6, 5, m_video.codecName)
    HOST_VALUE_PROPERTY(LONG, Profile, IID_IHostMpeg2VideoDescription, 8, 7, m_video.profile)
    HOST_VALUE_PROPERTY(VARIANT_BOOL, BitRateFlag, IID_IHostMpeg2VideoDescription, 10, 9, m_video.bitRateFlag)
    HOST_VALUE_PROPERTY(LONG, PrimaryBitRate, IID_IHostMpeg2VideoDescription, 12, 11, m_video.primaryBitRate)
    HOST_VALUE_PROPERTY(LONG, AspectRatioCode, IID_IHostMpeg2VideoDescription, 14, 13, m_video.aspectRatioCode)
    HOST_VALUE_PROPERTY(LONG, SecondaryBitRate, IID_IHostMpeg2VideoDescription, 16, 15, m_video.secondaryBitRate)
    HOST_VALUE_PROPERTY(double, FrameRate, IID_IHostMpeg2VideoDescription, 18, 17, m_video.frameRate)
    HOST_VALUE_PROPERTY(LONG, Level, IID_IHostMpeg2VideoDescription, 20, 19, m_video.level)
    HOST_VALUE_PROPERTY(LONG, ChromaFormat, IID_IHostMpeg2VideoDescription, 22, 21, m_video.chromaFormat)
    HOST_VALUE_PROPERTY(LONG, Width, IID_IHostMpeg2VideoDescription, 24, 23, m_video.width)
    HOST_VALUE_PROPERTY(LONG, Height, IID_IHostMpeg2VideoDescription, 26, 25, m_video.height)
};

template <class Self>
class CHostAvcVideoFace : public IHostAvcVideoDescription {
    Self& Host() noexcept { return static_cast<Self&>(*this); }

public:
    HOST_VALUE_PROPERTY(LONG, StreamId, IID_IHostAvcVideoDescription, 4, 3, m_video.streamId)
    HOST_TEXT_PROPERTY(CodecName, IID_IHostAvcVideoDescription, 6, 5, m_video.codecName)
    HOST_VALUE_PROPERTY(LONG, Profile, IID_IHostAvcVideoDescription, 8, 7, m_video.profile)
    HOST_VALUE_PROPERTY(LONG, Level, IID_IHostAvcVideoDescription, 10, 9, m_video.level)
    HOST_VALUE_PROPERTY(VARIANT_BOOL, BitRateFlag, IID_IHostAvcVideoDescription, 12, 11, m_video.bitRateFlag)
    HOST_VALUE_PROPERTY(LONG, SecondaryBitRate, IID_IHostAvcVideoDescription, 14, 13, m_video.secondaryBitRate)
    HOST_VALUE_PROPERTY(LONG, PrimaryBitRate, IID_IHostAvcVideoDescription, 16, 15, m_video.primaryBitRate)
    HOST_VALUE_PROPERTY(LONG, AspectRatioCode, IID_IHostAvcVideoDescription, 18, 17, m_video.aspectRatioCode)
    HOST_VALUE_PROPERTY(double, FrameRate, IID_IHostAvcVideoDescription, 20, 19, m_video.frameRate)
    HOST_VALUE_PROPERTY(LONG, Width, IID_IHostAvcVideoDescription, 22, 21, m_video.width)
    HOST_VALUE_PROPERTY(LONG, Height, IID_IHostAvcVideoDescription, 24, 23, m_video.height)
};

template <class Self>
class CHostAc3AudioFace : public IHostAc3AudioDescription {
    Self& Host() noexcept { return static_cast<Self&>(*this); }

public:
    HOST_VALUE_PROPERTY(LONG, StreamId, IID_IHostAc3AudioDescription, 4, 3, m_audio.streamId)
    HOST_TEXT_PROPERTY(Language, IID_IHostAc3AudioDescription, 6, 5, m_audio.language)
    HOST_VALUE_PROPERTY(LONG, SampleRate, IID_IHostAc3AudioDescription, 8, 7, m_audio.sampleRate)
    HOST_VALUE_PROPERTY(LONG, Channels, IID_IHostAc3AudioDescription, 10, 9, m_audio.channels)
    HOST_VALUE_PROPERTY(LONG, BitRate, IID_IHostAc3AudioDescription, 12, 11, m_audio.bitRate)
};

template <class Self>
class CHostMpegAudioFace : public IHostMpegAudioDescription {
    Self& Host() noexcept { return static_cast<Self&>(*this); }

public:
    HOST_VALUE_PROPERTY(LONG, StreamId, IID_IHostMpegAudioDescription, 4, 3, m_audio.streamId)
    HOST_TEXT_PROPERTY(Language, IID_IHostMpegAudioDescription, 6, 5, m_audio.language)
    HOST_VALUE_PROPERTY(LONG, SampleRate, IID_IHostMpegAudioDescription, 8, 7, m_audio.sampleRate)
    HOST_VALUE_PROPERTY(LONG, Layer, IID_IHostMpegAudioDescription, 10, 9, m_audio.layer)
    HOST_VALUE_PROPERTY(LONG, Channels, IID_IHostMpegAudioDescription, 12, 11, m_audio.channels)
    HOST_VALUE_PROPERTY(LONG, BitRate, IID_IHostMpegAudioDescription, 14, 13, m_audio.bitRate)
};

template <class Self>
class CHostOtherAudioFace : public IHostOtherAudioDescription {
    Self& Host() noexcept { return static_cast<Self&>(*this); }

public:
    HOST_VALUE_PROPERTY(LONG, StreamId, IID_IHostOtherAudioDescription, 4, 3, m_audio.streamId)
    HOST_TEXT_PROPERTY(Language, IID_IHostOtherAudioDescription, 6, 5, m_audio.language)
    HOST_VALUE_PROPERTY(LONG, SampleRate, IID_IHostOtherAudioDescription, 8, 7, m_audio.sampleRate)
    HOST_VALUE_PROPERTY(LONG, FormatTag, IID_IHostOtherAudioDescription, 10, 9, m_audio.formatTag)
    HOST_VALUE_PROPERTY(LONG, Channels, IID_IHostOtherAudioDescription, 12, 11, m_audio.channels)
};

class CHostStream : public CComObjectRoot<CHostStream>,
                    public CHostObjectSupport,
                    public CHostMpeg2VideoFace<CHostStream>,
                    public CHostAvcVideoFace<CHostStream>,
                    public CHostAc3AudioFace<CHostStream>,
                    public CHostMpegAudioFace<CHostStream>,
                    public CHostOtherAudioFace<CHostStream>,
                    public ISupportErrorInfo {
public:
    // ISupportErrorInfo comes first so the identity exists whatever the
    // stream answers; hide it with HostErrorInfoSupport::Absent.
    using InterfaceMap = ComInterfaceMap<ComInterfaceEntry<ISupportErrorInfo, IID_ISupportErrorInfo>,
                                         ComInterfaceEntry<IHostMpeg2VideoDescription, IID_IHostMpeg2VideoDescription>,
                                         ComInterfaceEntry<IHostAvcVideoDescription, IID_IHostAvcVideoDescription>,
                                         ComInterfaceEntry<IHostAc3AudioDescription, IID_IHostAc3AudioDescription>,
                                         ComInterfaceEntry<IHostMpegAudioDescription, IID_IHostMpegAudioDescription>,
                                         ComInterfaceEntry<IHostOtherAudioDescription, IID_IHostOtherAudioDescription>>;

    void SetDescriptions(unsigned descriptions) noexcept { m_descriptions = descriptions; }
    unsigned GetDescriptions() const noexcept { return m_descriptions; }
    bool IsInterfaceAvailable(REFIID iid) const noexcept;

    STDMETHODIMP InterfaceSupportsErrorInfo(REFIID iid) noexcept override;

    HostVideoFacts m_video;
    HostAudioFacts m_audio;

private:
    unsigned m_descriptions = HOST_DESCRIPTION_NONE;
};
