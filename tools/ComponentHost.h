// The component as a media server holds it: found beside this program (or
// where the options say), registered and created by class id, given the
// server's settings; the host kit's two classes registered so the component
// can create target descriptions and media properties; and the parser
// library loaded for the stream probe.
//
// Activation, on Windows: by default registration-free. The program's
// manifest (a resource of its own, see tools/win32) names both classes in the
// component DLL beside the program; the host activates it around
// CoCreateInstance, so nothing is written to the registry and no
// administrator rights are needed. That needs the component beside the
// program: a --component elsewhere is refused unless it is registered.
// Registered (--registered): the component registers itself through
// regsvr32, as an installer would, stays registered (a media server does not
// unregister its components on exit), and the registry leads COM to it, with
// no manifest active. On Linux there is no registry to write for other
// processes: the class objects the library hands out go into this process's
// class table, either way. The objects are then made with CoCreateInstance
// by class id.
#pragma once

#include "StreamFacts.h"
#include "frame/MediaTranscoderLib.h"
#include "host/host_kit.h"
#include "platform/dynlib.h"

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

namespace mediahost {

using namespace MediaTranscoderLib;

// "0x80070057 (The parameter is incorrect.)": the code and the system's text.
std::string HResultMessage(std::int32_t hr);

// COM for the calling thread (multithreaded apartment), undone on scope exit.
class CComThread {
public:
    CComThread() : m_hr(CoInitializeEx(nullptr, COINIT_MULTITHREADED)) {}
    ~CComThread()
    {
        if (SUCCEEDED(m_hr))
            CoUninitialize();
    }
    CComThread(const CComThread&) = delete;
    CComThread& operator=(const CComThread&) = delete;
    HRESULT Result() const { return m_hr; }

private:
    HRESULT m_hr;
};

// One entry of a result list, read out.
struct STarget {
    CComPtr<IHostTargetDescription> description;
    std::string profileName;
    std::string alternativeName;
    std::string mimeType;
    bool flag1 = false;
    bool flag2 = false;
    bool flag3 = false;

    // The name a client sees: the profile name, or for vendor-mode entries
    // (empty profile name) the alternative name.
    const std::string& DlnaName() const { return profileName.empty() ? alternativeName : profileName; }
    bool Answers(const std::string& name) const { return profileName == name || alternativeName == name; }
};

// What to ask a converter's Read for next when it stands at `position` of a
// file of `size` bytes: 64 KiB in whole 192-byte units. For files of
// 192-byte units it never leaves one lone unit for a read of its own: the
// converter clears the time-stamp prefixes of units it can pair, so a
// single-unit read would arrive with its prefix.
inline constexpr LONG READ_CHUNK = 192 * 341;
LONG NextReadCount(std::int64_t position, std::int64_t size, bool units192);

// Reads a result list of target descriptions and destroys it.
std::vector<STarget> ReadTargets(SAFEARRAY* list);

// One media property (name, value) of GetMediaProperties.
using SProperty = std::pair<std::string, std::string>;

struct SHostOptions {
    std::filesystem::path component;  // empty: beside this program, or the build tree's
    std::filesystem::path parserDir;  // empty: likewise
    bool vendor = false;              // vendor profile names for AVC entries
    bool registered = false;          // through the registry (regsvr32), not the manifest
};

// A recording as the host describes it to the component.
struct SRecording {
    std::filesystem::path path;
    std::int32_t probeResult = -1;  // the probe's answer; facts are empty unless 0
    SVskStreamProbe probe{};
    SItemFacts facts;
};

class CComponentHost {
public:
    CComponentHost() = default;
    ~CComponentHost();
    CComponentHost(const CComponentHost&) = delete;
    CComponentHost& operator=(const CComponentHost&) = delete;

    // Needs COM on the calling thread. False with the reason in `why`.
    bool Start(const SHostOptions& options, std::string& why);

    const std::filesystem::path& ComponentPath() const { return m_componentPath; }
    const std::filesystem::path& ParserDirectory() const { return m_parserDir; }
    IVskMediaTranscoderInfo* Info() const { return m_info; }

    // Probes the file and maps the facts. Thread-safe.
    SRecording Describe(const std::filesystem::path& path) const;
    // A new host media item for the recording (one per use: the component
    // writes the size back into it).
    static CComPtr<CComObject<CHostMediaItem>> Item(const SRecording& recording);

    // The component's answers for a recording; HRESULT of the call.
    HRESULT SourceProfiles(const SRecording& recording, std::vector<STarget>& targets) const;
    HRESULT MediaProperties(const SRecording& recording, const STarget& target, std::vector<SProperty>& out) const;
    HRESULT SupportedProfiles(std::vector<STarget>& targets) const;
    // A converter opened on the recording for the target.
    HRESULT OpenConverter(const SRecording& recording, const STarget& target,
                          CComPtr<IVskMediaTranscoder>& converter) const;

private:
    bool Register(std::string& why);
    bool BesideProgram(std::string& why) const;
    HRESULT CreateInfo(bool registered);
    bool LoadParser(std::string& why);

    std::filesystem::path m_componentPath;
    std::filesystem::path m_parserDir;
    platform::CDynamicLibrary m_component;
    std::vector<DWORD> m_cookies;
    CHostKitRegistration m_hostKit;
    CComPtr<IVskMediaTranscoderInfo> m_info;
    platform::CDynamicLibrary m_parser;
    PfnCreateVskMpegParser m_createParser = nullptr;
};

}  // namespace mediahost
