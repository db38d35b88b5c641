// The converter: serves one recorded transport-stream file to one client as
// the DLNA profile and MIME type the client asked for. Open accepts or refuses
// the source for the target and opens the file; Start, Read, Stop and the two
// seeks then move through it. Time-stamped AVC sources are delivered with the
// 4-byte prefix of each 192-byte packet cleared, and their file position is
// kept on the packet grid (the rest of a requested position is dropped from
// the front of the next Read).
//
// The object takes no lock: the host must not call one converter from two
// threads at once.
#pragma once

#include "frame/CVskMpeg2TsTranscoderModule.h"
#include "frame/MediaTranscoderLib.h"
#include "frame/com_object.h"
#include "platform/file.h"

#include <cstdint>
#include <string>

namespace transcoder {

enum EConverterState : std::uint32_t {
    STATE_CLOSED = 0,
    STATE_STARTED = 1,
    STATE_STOPPED = 2,
};

class CMpeg2TSConverter : public CComObjectRoot<CMpeg2TSConverter, CModuleLock, ComMarshal::FreeThreaded>,
                          public MediaTranscoderLib::IVskMediaTranscoder {
public:
    using InterfaceMap =
        ComInterfaceMap<ComInterfaceEntry<MediaTranscoderLib::IVskMediaTranscoder, MediaTranscoderLib::IID_IVskMediaTranscoder>>;

    CMpeg2TSConverter() = default;

    // The directory the parser-library probe is given (the host's setting).
    void SetLibraryHint(const std::wstring& hint) { m_libraryHint = hint; }

    STDMETHODIMP Open(VARIANT source, IHostTargetDescription* target) noexcept override;
    STDMETHODIMP Close() noexcept override;
    STDMETHODIMP Start() noexcept override;
    STDMETHODIMP Stop() noexcept override;
    STDMETHODIMP SeekByBytes(LONGLONG position) noexcept override;
    STDMETHODIMP SeekByTime(ULONG timeMs, ULONG* actualTimeMs, LONGLONG* bytePosition) noexcept override;
    STDMETHODIMP GetRangeEnd(ULONG endValue, ULONG* endValueOut, LONGLONG* lastBytePosition) noexcept override;
    STDMETHODIMP SetRate(double rate) noexcept override;
    STDMETHODIMP GetSize(LONGLONG* size) noexcept override;
    STDMETHODIMP GetDuration(ULONG* durationMs) noexcept override;
    STDMETHODIMP Read(LONG count, SAFEARRAY** data, VARIANT_BOOL* endOfStream) noexcept override;

private:
    HRESULT OpenBody(const VARIANT& source, IHostTargetDescription* target);
    bool AcceptPathSource(const std::wstring& mimeType, const std::wstring& profileName, IHostTargetDescription* target);
    bool AcceptMediaItem(IUnknown* object, const std::wstring& mimeType, const std::wstring& profileName,
                         const std::wstring& alternativeName, IHostTargetDescription* target, LONGLONG& duration);
    bool CheckTargetFlags(IHostTargetDescription* target);
    HRESULT ReadBody(LONG count, SAFEARRAY** data, VARIANT_BOOL* endOfStream);
    HRESULT SeekByTimeBody(ULONG timeMs, ULONG* actualTimeMs, LONGLONG* bytePosition);
    // Moves the file pointer to position (aligned to the packet grid for
    // time-stamped AVC sources) and sets the pending skip afresh; a failing
    // move changes neither and raises E_FAIL. Returns the position moved to.
    std::int64_t MoveTo(std::int64_t position);
    bool IsTimeStamped() const;

    std::wstring m_path;
    platform::CFile m_file;
    std::wstring m_libraryHint;
    std::int64_t m_fileSize = -1;
    std::uint32_t m_durationMs = 0xFFFFFFFF;
    std::uint32_t m_state = STATE_CLOSED;
    std::uint8_t m_timeSeekReady = 0;
    int m_profileCode = 0;
    std::int64_t m_pendingSkip = -1;
};

// Creates a converter in the plain form, hands it the parser-library
// directory, and queries it for IVskMediaTranscoder into *converter. Never
// throws: E_POINTER for a null converter, E_OUTOFMEMORY when memory runs out.
HRESULT CreateMpeg2TSConverter(const std::wstring& libraryHint,
                               MediaTranscoderLib::IVskMediaTranscoder** converter) noexcept;

}  // namespace transcoder
