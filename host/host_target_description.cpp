#include "host/host_target_description.h"

bool CHostTargetDescription::IsInterfaceAvailable(REFIID iid) const noexcept
{
    if (iid == IID_IHostTargetDescriptionExt) {
        return m_offersExtension;
    }
    if (iid == IID_ISupportErrorInfo) {
        return OffersErrorInfoInterface();
    }
    return true;
}

STDMETHODIMP CHostTargetDescription::InterfaceSupportsErrorInfo(REFIID iid) noexcept
{
    return SupportsErrorInfo(iid, {&IID_IHostTargetDescription, &IID_IHostTargetDescriptionExt});
}

bool CHostMediaProperty::IsInterfaceAvailable(REFIID iid) const noexcept
{
    return iid != IID_ISupportErrorInfo || OffersErrorInfoInterface();
}

STDMETHODIMP CHostMediaProperty::InterfaceSupportsErrorInfo(REFIID iid) noexcept
{
    return SupportsErrorInfo(iid, {&IID_IHostMediaProperty});
}
