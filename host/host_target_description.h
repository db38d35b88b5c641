// The host's target description (with its extension, the alternative profile
// name) and media property: the two host classes the component creates.
// Fields are public so tests can preset and inspect them directly.
#pragma once

#include <string>

#include "host/host_object.h"

class CHostTargetDescription : public CComObjectRoot<CHostTargetDescription>,
                               public CHostObjectSupport,
                               public IHostTargetDescription,
                               public IHostTargetDescriptionExt,
                               public ISupportErrorInfo {
public:
    using InterfaceMap = ComInterfaceMap<ComInterfaceEntry<IHostTargetDescription, IID_IHostTargetDescription>,
                                         ComInterfaceEntry<IHostTargetDescriptionExt, IID_IHostTargetDescriptionExt>,
                                         ComInterfaceEntry<ISupportErrorInfo, IID_ISupportErrorInfo>>;

    // Whether QueryInterface offers the extension (default: yes).
    void SetOffersExtension(bool offers) noexcept { m_offersExtension = offers; }
    bool IsInterfaceAvailable(REFIID iid) const noexcept;

    HOST_TEXT_PROPERTY(MimeType, IID_IHostTargetDescription, 3, 4, m_mimeType)
    HOST_TEXT_PROPERTY(ProfileName, IID_IHostTargetDescription, 5, 6, m_profileName)
    HOST_VALUE_PROPERTY(VARIANT_BOOL, TargetFlag1, IID_IHostTargetDescription, 7, 8, m_flag1)
    HOST_VALUE_PROPERTY(VARIANT_BOOL, TargetFlag2, IID_IHostTargetDescription, 9, 10, m_flag2)
    HOST_VALUE_PROPERTY(VARIANT_BOOL, TargetFlag3, IID_IHostTargetDescription, 11, 12, m_flag3)
    HOST_TEXT_PROPERTY(AlternativeProfileName, IID_IHostTargetDescriptionExt, 3, 4, m_alternativeProfileName)

    STDMETHODIMP InterfaceSupportsErrorInfo(REFIID iid) noexcept override;

    std::wstring m_mimeType;
    std::wstring m_profileName;
    VARIANT_BOOL m_flag1 = VARIANT_FALSE;
    VARIANT_BOOL m_flag2 = VARIANT_FALSE;
    VARIANT_BOOL m_flag3 = VARIANT_FALSE;
    std::wstring m_alternativeProfileName;

private:
    CHostTargetDescription& Host() noexcept { return *this; }

    bool m_offersExtension = true;
};

class CHostMediaProperty : public CComObjectRoot<CHostMediaProperty>,
                           public CHostObjectSupport,
                           public IHostMediaProperty,
                           public ISupportErrorInfo {
public:
    using InterfaceMap = ComInterfaceMap<ComInterfaceEntry<IHostMediaProperty, IID_IHostMediaProperty>,
                                         ComInterfaceEntry<ISupportErrorInfo, IID_ISupportErrorInfo>>;

    bool IsInterfaceAvailable(REFIID iid) const noexcept;

    HOST_TEXT_PROPERTY(Name, IID_IHostMediaProperty, 3, 4, m_name)
    HOST_TEXT_PROPERTY(Value, IID_IHostMediaProperty, 5, 6, m_value)

    STDMETHODIMP InterfaceSupportsErrorInfo(REFIID iid) noexcept override;

    std::wstring m_name;
    std::wstring m_value;

private:
    CHostMediaProperty& Host() noexcept { return *this; }
};
