#include "platform/machine.h"

#include <windows.h>

#include <string>

namespace platform {

std::wstring HostName()
{
    wchar_t name[256] = {};
    DWORD size = static_cast<DWORD>(sizeof name / sizeof name[0]);
    if (!::GetComputerNameExW(ComputerNameDnsHostname, name, &size))
        return {};
    return std::wstring(name, size);
}

std::wstring MachineId()
{
    wchar_t id[128] = {};
    DWORD bytes = sizeof id;
    // A 64-bit program reads the key itself; a 32-bit one would see its
    // redirected copy, which holds no MachineGuid.
    if (::RegGetValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Cryptography", L"MachineGuid", RRF_RT_REG_SZ,
                       nullptr, id, &bytes) != ERROR_SUCCESS)
        return {};
    return id;
}

std::wstring SystemVersion()
{
    // GetVersionEx answers 6.2 to a program without a manifest that names
    // later systems; the kernel's own call tells the truth.
    struct SVersion {
        ULONG size;
        ULONG major;
        ULONG minor;
        ULONG build;
        ULONG platform;
        WCHAR servicePack[128];
    };
    using PfnGetVersion = LONG(WINAPI*)(SVersion*);
    const auto getVersion = reinterpret_cast<PfnGetVersion>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion")));
    SVersion version{};
    version.size = sizeof version;
    if (getVersion == nullptr || getVersion(&version) != 0)
        return L"Windows/0";
    return L"Windows/" + std::to_wstring(version.major) + L"." + std::to_wstring(version.minor);
}

}  // namespace platform
