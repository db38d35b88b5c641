// A small stand-in for a media server, to watch the component work: it
// registers the component, creates both objects by class id through the COM
// runtime, lists the profile catalogue, asks for the source profiles and
// media properties of a recording it writes itself (an MPEG-2 HD recording
// with AC-3 audio, or a time-stamped AVC one with --avc), streams the file
// through a converter the info object made, seeks by bytes, and unregisters.
//
//   VskDemoHost [--avc] [--vendor]
//
// The component library is looked for beside this program's build folder
// (<build>/component). The exit code is 0 when every step worked and the
// streamed bytes were as expected.
#include "frame/MediaTranscoderLib.h"
#include "host/host_kit.h"
#include "platform/com_holders.h"
#include "platform/dynlib.h"
#include "platform/process.h"
#include "vsktest/Recording.h"
#include "vsktest/TempDir.h"
#include "vsktest/WideText.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

using namespace MediaTranscoderLib;

bool g_ok = true;

void Check(bool condition, const char* what)
{
    std::printf("  %-58s %s\n", what, condition ? "ok" : "FAILED");
    if (!condition)
        g_ok = false;
}

std::string Narrow(const std::wstring& text)
{
    return vsktest::ToUtf8(text);
}

std::wstring Text(IHostTargetDescription* target, HRESULT (STDMETHODCALLTYPE IHostTargetDescription::*get)(BSTR*))
{
    CComBSTR text;
    (target->*get)(&text);
    return std::wstring(text.View());
}

// One line per target description of a result list.
void PrintTargets(SAFEARRAY* list)
{
    CComSafeArray<VARIANT> targets;
    targets.Attach(list);
    for (ULONG i = 0; i < targets.GetCount(); ++i) {
        CComPtr<IHostTargetDescription> target;
        targets.GetAt(i).punkVal->QueryInterface(IID_IHostTargetDescription, reinterpret_cast<void**>(&target));
        VARIANT_BOOL seek = VARIANT_FALSE;
        target->get_TargetFlag2(&seek);
        std::wstring alternative;
        CComPtr<IHostTargetDescriptionExt> extension;
        if (SUCCEEDED(target->QueryInterface(IID_IHostTargetDescriptionExt, reinterpret_cast<void**>(&extension))))
            alternative = [&] {
                CComBSTR name;
                extension->get_AlternativeProfileName(&name);
                return std::wstring(name.View());
            }();
        std::printf("    %2lu  %-22s %-24s time seek %-3s %s\n", static_cast<unsigned long>(i + 1),
                    Narrow(Text(target, &IHostTargetDescription::get_ProfileName)).c_str(),
                    Narrow(Text(target, &IHostTargetDescription::get_MimeType)).c_str(),
                    seek == VARIANT_TRUE ? "yes" : "no", alternative.empty() ? "" : Narrow(L"(" + alternative + L")").c_str());
    }
}

std::filesystem::path ComponentPath()
{
    const std::filesystem::path built = VSK_COMPONENT_FILE;
    return vsktest::LocateBuildOutput("component", built.filename(), built);
}

// Registration as the platform does it: regsvr32 on Windows; elsewhere the
// class objects the library hands out go into the runtime's class table.
class CRegistration {
public:
    bool Register()
    {
#if VSK_DEMO_REGSVR32
        return RunTool({L"/s", vsktest::WideFromPath(ComponentPath())});
#else
        if (!m_library.Load(vsktest::WideFromPath(ComponentPath()).c_str()))
            return false;
        m_library.KeepLoaded();
        using PfnGetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, LPVOID*);
        auto getClassObject = reinterpret_cast<PfnGetClassObject>(m_library.Symbol("DllGetClassObject"));
        if (getClassObject == nullptr)
            return false;
        for (const CLSID* clsid : {&CLSID_Mpeg2TSConverter, &CLSID_Mpeg2TSConverterInfo}) {
            CComPtr<IUnknown> factory;
            DWORD cookie = 0;
            if (FAILED(getClassObject(*clsid, IID_IUnknown, reinterpret_cast<void**>(&factory))) ||
                FAILED(CoRegisterClassObject(*clsid, factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie)))
                return false;
            m_cookies.push_back(cookie);
        }
        return true;
#endif
    }

    void Unregister()
    {
#if VSK_DEMO_REGSVR32
        RunTool({L"/s", L"/u", vsktest::WideFromPath(ComponentPath())});
#else
        for (DWORD cookie : m_cookies)
            CoRevokeClassObject(cookie);
        m_cookies.clear();
#endif
    }

private:
    [[maybe_unused]] static bool RunTool(const std::vector<std::wstring>& args)
    {
        platform::CChildProcess tool;
        return tool.Start(L"C:\\windows\\system32\\regsvr32.exe", args) && tool.Wait() == 0;
    }

    platform::CDynamicLibrary m_library;
    std::vector<DWORD> m_cookies;
};

// A host media item describing the recording the way a server's library
// scanner would.
CComPtr<CComObject<CHostMediaItem>> DescribeRecording(const std::filesystem::path& path, bool avc)
{
    auto item = CreateHostMediaItem();
    item->m_path = CComVariant(vsktest::WideFromPath(path).c_str());
    item->m_size = -1;
    item->m_duration = 60000;
    item->m_bitRate = 18000000;
    item->m_packetFormat = avc ? HOST_PACKET_FORMAT_192_STAMPED : HOST_PACKET_FORMAT_188;
    item->m_videoStreamCount = 1;
    item->m_audioStreamCount = 1;
    auto video = CreateHostStream(avc ? HOST_DESCRIPTION_AVC_VIDEO : HOST_DESCRIPTION_MPEG2_VIDEO);
    video->m_video.width = 1920;
    video->m_video.height = 1080;
    video->m_video.aspectRatioCode = 3;
    video->m_video.level = avc ? 10 : 3;
    video->m_video.profile = 2;
    video->m_video.frameRate = avc ? 23.976 : 29.97;
    video->m_video.primaryBitRate = 18000000;
    item->m_videoStream = static_cast<IHostMpeg2VideoDescription*>(video.p);
    auto audio = CreateHostStream(HOST_DESCRIPTION_AC3_AUDIO);
    audio->m_audio.sampleRate = 48000;
    audio->m_audio.channels = 6;
    audio->m_audio.bitRate = 448000;
    item->m_audioStream = static_cast<IHostAc3AudioDescription*>(audio.p);
    return item;
}

// The file as the converter should deliver it: time-stamped 192-byte packets
// with their 4-byte prefixes cleared.
std::vector<std::uint8_t> Expected(std::vector<std::uint8_t> bytes, bool avc)
{
    if (avc) {
        for (std::size_t p = 0; p + 192 <= bytes.size(); p += 192)
            std::memset(bytes.data() + p, 0, 4);
    }
    return bytes;
}

std::vector<std::uint8_t> Stream(IVskMediaTranscoder* converter, LONG chunk, int& reads)
{
    std::vector<std::uint8_t> received;
    reads = 0;
    for (;;) {
        SAFEARRAY* data = nullptr;
        VARIANT_BOOL end = VARIANT_FALSE;
        if (FAILED(converter->Read(chunk, &data, &end)))
            break;
        ++reads;
        CComSafeArray<BYTE> bytes;
        bytes.Attach(data);
        received.insert(received.end(), bytes.GetData(), bytes.GetData() + bytes.GetCount());
        if (end == VARIANT_TRUE)
            break;
    }
    return received;
}

}  // namespace

int main(int argc, char** argv)
{
    bool avc = false;
    bool vendor = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--avc") == 0)
            avc = true;
        else if (std::strcmp(argv[i], "--vendor") == 0)
            vendor = true;
    }
    if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)))
        return 2;
    int status = 0;
    {
        std::printf("component: %s\n", ComponentPath().string().c_str());
        CRegistration registration;
        Check(registration.Register(), "register the component");
        CHostKitRegistration hostKit = RegisterHostKitClasses();
        Check(SUCCEEDED(hostKit.Result()), "register the host's target and property classes");

        CComPtr<IVskMediaTranscoderInfo> info;
        Check(SUCCEEDED(CoCreateInstance(CLSID_Mpeg2TSConverterInfo, nullptr, CLSCTX_INPROC_SERVER,
                                         IID_IVskMediaTranscoderInfo, reinterpret_cast<void**>(&info))),
              "create the info object by class id");
        if (info) {
            auto settings = CreateHostSettings({{L"Profile", {{L"Type", vendor ? L"OVELPN" : L"DLNA"}}}});
            Check(info->LoadSettings(settings) == S_OK, vendor ? "load settings (vendor profile names)" : "load settings");

            SAFEARRAY* catalogue = nullptr;
            Check(info->GetSupportedProfiles(&catalogue) == S_OK, "list the supported profiles");
            PrintTargets(catalogue);

            vsktest::CTempDir dir;
            vsktest::RecordingParams params;
            params.packetCount = 4000;
            if (avc) {
                params.unitSize = vsktest::TS_UNIT_SIZE_192;
                params.videoStreamType = 0x1B;
            }
            params.audio = true;
            params.audioStreamType = 0x81;
            const vsktest::Recording recording = vsktest::MakeRecording(params);
            const auto path = dir.WriteFile(avc ? "movie.m2ts" : "show.m2ts", recording.bytes);
            std::printf("recording: %s, %zu bytes\n", path.filename().string().c_str(), recording.bytes.size());

            auto item = DescribeRecording(path, avc);
            CComVariant source(static_cast<IUnknown*>(static_cast<IHostMediaItem*>(item.p)));
            SAFEARRAY* sourceList = nullptr;
            Check(info->GetSourceProfiles(source, &sourceList) == S_OK, "ask for the recording's source profiles");
            CComSafeArray<VARIANT> sourceProfiles;
            sourceProfiles.Attach(sourceList);
            Check(item->m_size == static_cast<LONGLONG>(recording.bytes.size()), "size measured and written back");
            SAFEARRAY* forPrint = nullptr;
            info->GetSourceProfiles(source, &forPrint);
            PrintTargets(forPrint);

            CComPtr<IHostTargetDescription> target;
            if (sourceProfiles.GetCount() > 0)
                sourceProfiles.GetAt(0).punkVal->QueryInterface(IID_IHostTargetDescription,
                                                                reinterpret_cast<void**>(&target));
            Check(target != nullptr, "pick the first source profile");
            if (target) {
                SAFEARRAY* propertyList = nullptr;
                Check(info->GetMediaProperties(source, target, &propertyList) == S_OK, "ask for media properties");
                CComSafeArray<VARIANT> properties;
                properties.Attach(propertyList);
                for (ULONG i = 0; i < properties.GetCount(); ++i) {
                    CComPtr<IHostMediaProperty> property;
                    properties.GetAt(i).punkVal->QueryInterface(IID_IHostMediaProperty,
                                                                reinterpret_cast<void**>(&property));
                    CComBSTR name;
                    CComBSTR value;
                    property->get_Name(&name);
                    property->get_Value(&value);
                    std::printf("    %-16s %s\n", Narrow(std::wstring(name.View())).c_str(),
                                Narrow(std::wstring(value.View())).c_str());
                }

                CComPtr<IVskMediaTranscoder> converter;
                Check(info->CreateTranscoder(&converter) == S_OK, "create a converter through the info object");
                Check(converter->Open(source, target) == S_OK, "open the recording for the chosen profile");
                Check(converter->Start() == S_OK, "start");
                int reads = 0;
                const std::vector<std::uint8_t> received = Stream(converter, 65536, reads);
                const std::vector<std::uint8_t> expected = Expected(recording.bytes, avc);
                std::printf("  streamed %zu bytes in %d reads\n", received.size(), reads);
                Check(received == expected, avc ? "bytes equal the file with time stamps cleared"
                                                : "bytes equal the file");
                Check(converter->Stop() == S_OK && converter->SeekByBytes(1000) == S_OK && converter->Start() == S_OK,
                      "byte-range request: stop, seek to 1000, start");
                const std::vector<std::uint8_t> tail = Stream(converter, 65536, reads);
                Check(tail.size() == expected.size() - 1000 &&
                          std::equal(tail.begin(), tail.end(), expected.begin() + 1000),
                      "the range from byte 1000 on");
                Check(converter->Close() == S_OK, "close");
            }
        }
        info.Release();
        hostKit.Revoke();
        registration.Unregister();
        status = g_ok ? 0 : 1;
    }
    CoUninitialize();
    std::printf(g_ok ? "demo finished: every step worked\n" : "demo finished: some steps FAILED\n");
    return status;
}
