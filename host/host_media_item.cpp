#include "host/host_media_item.h"

bool CHostMediaItem::IsInterfaceAvailable(REFIID iid) const noexcept
{
    return iid != IID_ISupportErrorInfo || OffersErrorInfoInterface();
}

STDMETHODIMP CHostMediaItem::InterfaceSupportsErrorInfo(REFIID iid) noexcept
{
    return SupportsErrorInfo(iid, {&IID_IHostMediaItem});
}

bool CHostStream::IsInterfaceAvailable(REFIID iid) const noexcept
{
    if (iid == IID_ISupportErrorInfo) {
        return OffersErrorInfoInterface();
    }
    const struct {
        const IID* iid;
        unsigned bit;
    } descriptions[] = {
        {&IID_IHostMpeg2VideoDescription, HOST_DESCRIPTION_MPEG2_VIDEO},
        {&IID_IHostAvcVideoDescription, HOST_DESCRIPTION_AVC_VIDEO},
        {&IID_IHostAc3AudioDescription, HOST_DESCRIPTION_AC3_AUDIO},
        {&IID_IHostMpegAudioDescription, HOST_DESCRIPTION_MPEG_AUDIO},
        {&IID_IHostOtherAudioDescription, HOST_DESCRIPTION_OTHER_AUDIO},
    };
    for (const auto& description : descriptions) {
        if (*description.iid == iid) {
            return (m_descriptions & description.bit) != 0;
        }
    }
    return true;
}

STDMETHODIMP CHostStream::InterfaceSupportsErrorInfo(REFIID iid) noexcept
{
    return SupportsErrorInfo(iid, {&IID_IHostMpeg2VideoDescription, &IID_IHostAvcVideoDescription,
                                   &IID_IHostAc3AudioDescription, &IID_IHostMpegAudioDescription,
                                   &IID_IHostOtherAudioDescription});
}
