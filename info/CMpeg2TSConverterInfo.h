// The component's media-information object: tells the host which target
// descriptions the component serves (the whole catalogue, or those that fit
// one source), whether a source can be served as a given description, and
// which media properties a source has; it also creates converters, each of
// which starts with the parser-library directory the host configured here.
//
// Two settings come from the host through LoadSettings: the profile mode (how
// AVC targets are named) and the parser-library directory. The object takes
// no lock: LoadSettings is to be called before the object is shared between
// threads; the other operations only read the settings.
#pragma once

#include "frame/CVskMpeg2TsTranscoderModule.h"
#include "frame/MediaTranscoderLib.h"
#include "frame/com_object.h"
#include "info/ProfileCatalogue.h"

#include <string>

namespace info {

// Where the boundary of each operation stands: the source name and line every
// logged failure carries. One table, one fixed line per operation.
inline constexpr char INFO_BOUNDARY_SOURCE[] = ".\\Mpeg2TSConverterInfo";
enum EInfoBoundaryLine : int {
    INFO_LINE_LOAD_SETTINGS = 141,
    INFO_LINE_GET_SUPPORTED_PROFILES = 318,
    INFO_LINE_GET_SOURCE_PROFILES = 466,
    INFO_LINE_IS_PROFILE_SUPPORTED = 583,
    INFO_LINE_GET_MEDIA_PROPERTIES = 745,
    INFO_LINE_CREATE_TRANSCODER = 812,
};

class CMpeg2TSConverterInfo : public CComObjectRoot<CMpeg2TSConverterInfo, CModuleLock, ComMarshal::FreeThreaded>,
                              public MediaTranscoderLib::IVskMediaTranscoderInfo {
public:
    using InterfaceMap = ComInterfaceMap<
        ComInterfaceEntry<MediaTranscoderLib::IVskMediaTranscoderInfo, MediaTranscoderLib::IID_IVskMediaTranscoderInfo>>;

    CMpeg2TSConverterInfo() = default;

    STDMETHODIMP LoadSettings(IHostSettingsSource* settings) noexcept override;
    STDMETHODIMP GetSupportedProfiles(SAFEARRAY** profiles) noexcept override;
    STDMETHODIMP GetSourceProfiles(VARIANT source, SAFEARRAY** profiles) noexcept override;
    STDMETHODIMP IsProfileSupported(VARIANT source, IHostTargetDescription* target,
                                    VARIANT_BOOL* supported) noexcept override;
    STDMETHODIMP GetMediaProperties(VARIANT source, IHostTargetDescription* target,
                                    SAFEARRAY** properties) noexcept override;
    STDMETHODIMP CreateTranscoder(MediaTranscoderLib::IVskMediaTranscoder** converter) noexcept override;

    // The settings as LoadSettings left them (for the component's own use).
    int GetProfileMode() const noexcept { return m_profileMode; }
    const std::wstring& GetParserPath() const noexcept { return m_parserPath; }

private:
    HRESULT LoadSettingsBody(IHostSettingsSource* settings);

    int m_profileMode = PROFILE_MODE_DLNA;
    std::wstring m_parserPath;
};

}  // namespace info
