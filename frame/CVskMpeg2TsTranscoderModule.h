// The component's module object: one per process, built during static
// initialisation. It counts the locks that keep the component loaded (every
// live object, every class object held beyond the cache, every LockServer),
// and supplies the replacements the registry scripts share.
#pragma once

#include "frame/CRegistrar.h"
#include "platform/com.h"

#include <atomic>

class CVskMpeg2TsTranscoderModule {
public:
    CVskMpeg2TsTranscoderModule() noexcept = default;
    CVskMpeg2TsTranscoderModule(const CVskMpeg2TsTranscoderModule&) = delete;
    CVskMpeg2TsTranscoderModule& operator=(const CVskMpeg2TsTranscoderModule&) = delete;

    // Interlocked; each returns the new count.
    LONG Lock() noexcept { return m_lockCount.fetch_add(1) + 1; }
    LONG Unlock() noexcept { return m_lockCount.fetch_sub(1) - 1; }
    LONG GetLockCount() const noexcept { return m_lockCount.load(); }

    // Adds "APPID" = the component's AppID to a registrar before a script runs.
    void AddCommonReplacements(frame::CRegistrar& registrar) const;

private:
    std::atomic<LONG> m_lockCount{0};
};

// The process's module object.
extern CVskMpeg2TsTranscoderModule g_module;

// The module-lock policy of the component's COM classes.
struct CModuleLock {
    static void Lock() noexcept { g_module.Lock(); }
    static void Unlock() noexcept { g_module.Unlock(); }
};

// The AppID and type library id the registry scripts name.
inline constexpr wchar_t VSK_APPID_TEXT[] = L"{0F0B5B96-D3EB-43A3-83DA-04B042F0D8AA}";
inline constexpr wchar_t VSK_TYPELIB_TEXT[] = L"{7EB53858-2080-4388-9A40-1BE597C60EB9}";
