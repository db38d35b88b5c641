// The target descriptions the component can serve: how one is built (as a
// host object the host itself creates), the whole catalogue in its fixed
// order, and the ordering every list goes through before the host sees it
// (named entries before unnamed ones).
//
// Target flag 2 (time seeking) is set only when a row wants it and the parser
// library is available; the library's answer is computed once per process.
#pragma once

#include "info/HostObjects.h"

#include <string>
#include <string_view>

namespace info {

// How AVC targets are named: plainly (DLNA), or with an empty profile name and
// the AVC name as alternative profile name (vendor). Every value other than
// PROFILE_MODE_DLNA counts as vendor mode.
inline constexpr int PROFILE_MODE_DLNA = 2;
inline constexpr int PROFILE_MODE_VENDOR = 3;

constexpr bool IsVendorProfileMode(int profileMode) noexcept
{
    return profileMode != PROFILE_MODE_DLNA;
}

// A result list under construction: target descriptions appended in order.
class CTargetList {
public:
    // parserPath: the directory text handed to the parser-library probe.
    explicit CTargetList(std::wstring parserPath);

    // Builds one target description and appends it. Flag 1 is never set by
    // this component; when it is FALSE the probe decides whether flag 2 may
    // be TRUE, and it is asked for every target, wanted or not.
    void AddTarget(std::wstring_view mimeType, std::wstring_view profileName, bool wantFlag2, bool flag3 = true,
                   bool flag1 = false);
    // The same, and the alternative profile name on the description's
    // extension when it has one (a description without it carries none).
    void AddVendorTarget(std::wstring_view mimeType, std::wstring_view profileName,
                         std::wstring_view alternativeName, bool wantFlag2, bool flag3 = true, bool flag1 = false);

    CResultList& List() noexcept { return m_list; }

private:
    CComPtr<IHostTargetDescription> Build(std::wstring_view mimeType, std::wstring_view profileName,
                                          bool wantFlag2, bool flag3, bool flag1);

    std::wstring m_parserPath;
    CResultList m_list;
};

// Appends the whole catalogue for profileMode: 28 entries in DLNA mode, 31
// in vendor mode (before ordering).
void AddCatalogue(CTargetList& targets, int profileMode);

// A new list holding the elements of list in four groups, each in its
// original order: named with flag 1 not TRUE, named with flag 1 TRUE (-1),
// unnamed with flag 1 not TRUE, unnamed with flag 1 TRUE. The input is left
// as it was.
CResultList OrderTargets(const CResultList& list);

}  // namespace info
