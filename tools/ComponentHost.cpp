#include "ComponentHost.h"

#include "Utf8.h"
#include "platform/activation.h"
#include "platform/com_holders.h"
#include "platform/hresult_text.h"
#include "platform/paths.h"
#include "platform/process.h"

#include <cstdio>
#include <new>
#include <system_error>

namespace mediahost {
namespace {

namespace fs = std::filesystem;

const fs::path COMPONENT_FILE = fs::path("VskMpeg2TsTranscoder") += VSK_SHARED_LIBRARY_SUFFIX;
const fs::path PARSER_FILE = fs::path("VskMpegParser") += VSK_SHARED_LIBRARY_SUFFIX;
// Parser objects of older libraries end at slot 2: slot 3 is called only on
// objects that say they have it.
constexpr std::uint32_t FIRST_VERSION_WITH_PROBE = 2;
constexpr std::int32_t PROBE_NOT_IMPLEMENTED = static_cast<std::int32_t>(0x80004001u);

fs::path ProgramDirectory()
{
    return PathFromUtf8(ToUtf8(platform::ExecutablePath())).parent_path();
}

bool Exists(const fs::path& path)
{
    std::error_code ec;
    return fs::is_regular_file(path, ec);
}

// Beside this program (an installed host), else in the build tree it was
// built in (<build>/tools next to <build>/component and <build>/parser).
fs::path Locate(const fs::path& given, const char* buildFolder, const fs::path& file, bool directory)
{
    if (!given.empty())
        return given;
    const fs::path here = ProgramDirectory();
    if (Exists(here / file))
        return directory ? here : here / file;
    const fs::path built = here.parent_path() / buildFolder;
    return directory ? built : built / file;
}

std::string Text(IHostTargetDescription* target, HRESULT (STDMETHODCALLTYPE IHostTargetDescription::*get)(BSTR*))
{
    CComBSTR text;
    if (FAILED((target->*get)(&text)))
        return {};
    return ToUtf8(text.View());
}

bool Flag(IHostTargetDescription* target, HRESULT (STDMETHODCALLTYPE IHostTargetDescription::*get)(VARIANT_BOOL*))
{
    VARIANT_BOOL value = VARIANT_FALSE;
    return SUCCEEDED((target->*get)(&value)) && value == VARIANT_TRUE;
}

template <class F>
HRESULT Guarded(F&& body) noexcept
{
    try {
        return body();
    } catch (const CAtlException& e) {
        return e.m_hr;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_FAIL;
    }
}

}  // namespace

std::string HResultMessage(std::int32_t hr)
{
    char code[16];
    std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(hr));
    std::wstring text;
    if (!platform::HResultText(hr, text))
        return std::string(code) + " (no system text)";
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' '))
        text.pop_back();
    return std::string(code) + " (" + ToUtf8(text) + ")";
}

LONG NextReadCount(std::int64_t position, std::int64_t size, bool units192)
{
    constexpr std::int64_t UNIT = 192;
    if (units192 && position >= 0 && position % UNIT == 0 && size - position - READ_CHUNK == UNIT)
        return READ_CHUNK - static_cast<LONG>(UNIT);
    return READ_CHUNK;
}

std::vector<STarget> ReadTargets(SAFEARRAY* list)
{
    std::vector<STarget> out;
    CComSafeArray<VARIANT> targets;
    try {
        targets.Attach(list);
    } catch (const CAtlException&) {
        return out;
    }
    for (ULONG i = 0; i < targets.GetCount(); ++i) {
        const VARIANT& element = targets.GetAt(i);
        if (element.vt != VT_UNKNOWN || element.punkVal == nullptr)
            continue;
        STarget target;
        if (FAILED(element.punkVal->QueryInterface(IID_IHostTargetDescription,
                                                   reinterpret_cast<void**>(&target.description))))
            continue;
        IHostTargetDescription* t = target.description;
        target.profileName = Text(t, &IHostTargetDescription::get_ProfileName);
        target.mimeType = Text(t, &IHostTargetDescription::get_MimeType);
        target.flag1 = Flag(t, &IHostTargetDescription::get_TargetFlag1);
        target.flag2 = Flag(t, &IHostTargetDescription::get_TargetFlag2);
        target.flag3 = Flag(t, &IHostTargetDescription::get_TargetFlag3);
        CComPtr<IHostTargetDescriptionExt> extension;
        if (SUCCEEDED(t->QueryInterface(IID_IHostTargetDescriptionExt, reinterpret_cast<void**>(&extension)))) {
            CComBSTR name;
            if (SUCCEEDED(extension->get_AlternativeProfileName(&name)))
                target.alternativeName = ToUtf8(name.View());
        }
        out.push_back(std::move(target));
    }
    return out;
}

CComponentHost::~CComponentHost()
{
    m_info.Release();
    for (DWORD cookie : m_cookies)
        CoRevokeClassObject(cookie);
    m_hostKit.Revoke();
}

bool CComponentHost::Start(const SHostOptions& options, std::string& why)
{
    m_componentPath = Locate(options.component, "component", COMPONENT_FILE, false);
    m_parserDir = Locate(options.parserDir, "parser", PARSER_FILE, true);
    if (!Exists(m_componentPath)) {
        why = "the component is not at " + Utf8FromPath(m_componentPath) + " (--component names it)";
        return false;
    }
    // The host records nothing of the objects the component creates.
    HostKitKeepRecord(false);
    m_hostKit = RegisterHostKitClasses();
    if (FAILED(m_hostKit.Result())) {
        why = "registering the host's classes failed: " + HResultMessage(m_hostKit.Result());
        return false;
    }
    const bool registered = !VSK_HOST_REGSVR32 || options.registered;
    if (registered ? !Register(why) : !BesideProgram(why))
        return false;
    HRESULT hr = CreateInfo(registered);
    if (FAILED(hr)) {
        why = std::string("creating the info object by class id ") +
              (registered ? "through the registry" : "through the program's manifest") +
              " failed: " + HResultMessage(hr);
        return false;
    }
    hr = Guarded([&] {
        auto settings = CreateHostSettings({
            {L"Profile", {{L"Type", options.vendor ? L"OVELPN" : L"DLNA"}}},
            {L"SpecifiedExtensionPath", {{L"VskMpegParser", WideFromPath(m_parserDir)}}},
        });
        return m_info->LoadSettings(settings);
    });
    if (FAILED(hr)) {
        why = "LoadSettings failed: " + HResultMessage(hr);
        return false;
    }
    // Without the parser the component still serves; only the probe and the
    // time seek are missing, and the output says so.
    std::string parserWhy;
    if (!LoadParser(parserWhy))
        std::fprintf(stderr, "warning: %s\n", parserWhy.c_str());
    return true;
}

bool CComponentHost::BesideProgram(std::string& why) const
{
    std::error_code ec;
    if (fs::equivalent(m_componentPath, ProgramDirectory() / COMPONENT_FILE, ec))
        return true;
    why = "the component at " + Utf8FromPath(m_componentPath) +
          " is not beside this program, where its manifest finds it: register it (--registered) or copy it there";
    return false;
}

HRESULT CComponentHost::CreateInfo(bool registered)
{
    const auto create = [this] {
        return CoCreateInstance(CLSID_Mpeg2TSConverterInfo, nullptr, CLSCTX_INPROC_SERVER,
                                IID_IVskMediaTranscoderInfo, reinterpret_cast<void**>(&m_info));
    };
    if (registered)
        return create();
    // COM loads the DLL while the context is active and keeps its class
    // object; converters come from the info object, not from COM, so the
    // context is needed for this one creation only.
    platform::CProgramActivationContext manifest(VSK_HOST_MANIFEST_ID);
    if (!manifest.IsActive())
        return manifest.Result();
    return create();
}

bool CComponentHost::Register(std::string& why)
{
#if VSK_HOST_REGSVR32
    platform::CChildProcess regsvr32;
    if (!regsvr32.Start(L"C:\\windows\\system32\\regsvr32.exe", {L"/s", WideFromPath(m_componentPath)})) {
        why = "regsvr32 could not be started to register " + Utf8FromPath(m_componentPath);
        return false;
    }
    if (const int code = regsvr32.Wait(); code != 0) {
        why = "regsvr32 could not register " + Utf8FromPath(m_componentPath) + " (exit code " +
              std::to_string(code) + ")";
        return false;
    }
    return true;
#else
    if (!m_component.Load(WideFromPath(m_componentPath).c_str())) {
        why = "cannot load " + Utf8FromPath(m_componentPath);
        return false;
    }
    // A host never unloads a component whose objects may live.
    m_component.KeepLoaded();
    using PfnGetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, LPVOID*);
    auto getClassObject = reinterpret_cast<PfnGetClassObject>(m_component.Symbol("DllGetClassObject"));
    if (getClassObject == nullptr) {
        why = Utf8FromPath(m_componentPath) + " has no DllGetClassObject";
        return false;
    }
    for (const CLSID* clsid : {&CLSID_Mpeg2TSConverter, &CLSID_Mpeg2TSConverterInfo}) {
        CComPtr<IUnknown> factory;
        DWORD cookie = 0;
        HRESULT hr = getClassObject(*clsid, IID_IUnknown, reinterpret_cast<void**>(&factory));
        if (SUCCEEDED(hr))
            hr = CoRegisterClassObject(*clsid, factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie);
        if (FAILED(hr)) {
            why = "registering the component's class objects failed: " + HResultMessage(hr);
            return false;
        }
        m_cookies.push_back(cookie);
    }
    return true;
#endif
}

bool CComponentHost::LoadParser(std::string& why)
{
    const fs::path file = m_parserDir / PARSER_FILE;
    if (!m_parser.Load(WideFromPath(file).c_str())) {
        why = "no parser library at " + Utf8FromPath(file) + " (--parser-dir names its folder): no probe";
        return false;
    }
    m_parser.KeepLoaded();
    m_createParser = reinterpret_cast<PfnCreateVskMpegParser>(m_parser.Symbol(VSK_PARSER_EXPORT_CREATE));
    if (m_createParser == nullptr) {
        why = Utf8FromPath(file) + " has no " + VSK_PARSER_EXPORT_CREATE;
        return false;
    }
    return true;
}

SRecording CComponentHost::Describe(const fs::path& path) const
{
    SRecording recording;
    recording.path = path;
    if (m_createParser == nullptr)
        return recording;
    IVskMpegParser* parser = nullptr;
    if (m_createParser(&parser) != VSK_PARSER_RESULT_OK || parser == nullptr) {
        recording.probeResult = VSK_PARSER_RESULT_FAIL;
        return recording;
    }
    recording.probe = SVskStreamProbe{};
    recording.probeResult = parser->GetInterfaceVersion() < FIRST_VERSION_WITH_PROBE
                                ? PROBE_NOT_IMPLEMENTED
                                : parser->ProbeStream(WideFromPath(path).c_str(), &recording.probe);
    parser->ReleaseParser();
    if (recording.probeResult == VSK_PARSER_RESULT_OK)
        recording.facts = MapProbe(recording.probe);
    return recording;
}

CComPtr<CComObject<CHostMediaItem>> CComponentHost::Item(const SRecording& recording)
{
    return MakeMediaItem(WideFromPath(recording.path), recording.facts);
}

HRESULT CComponentHost::SourceProfiles(const SRecording& recording, std::vector<STarget>& targets) const
{
    return Guarded([&] {
        auto item = Item(recording);
        SAFEARRAY* list = nullptr;
        const HRESULT hr = m_info->GetSourceProfiles(CComVariant(static_cast<IUnknown*>(static_cast<IHostMediaItem*>(item.p))), &list);
        if (SUCCEEDED(hr))
            targets = ReadTargets(list);
        return hr;
    });
}

HRESULT CComponentHost::MediaProperties(const SRecording& recording, const STarget& target,
                                        std::vector<SProperty>& out) const
{
    return Guarded([&] {
        auto item = Item(recording);
        SAFEARRAY* list = nullptr;
        const HRESULT hr = m_info->GetMediaProperties(
            CComVariant(static_cast<IUnknown*>(static_cast<IHostMediaItem*>(item.p))), target.description, &list);
        if (FAILED(hr))
            return hr;
        CComSafeArray<VARIANT> properties;
        properties.Attach(list);
        for (ULONG i = 0; i < properties.GetCount(); ++i) {
            const VARIANT& element = properties.GetAt(i);
            CComPtr<IHostMediaProperty> property;
            if (element.vt != VT_UNKNOWN || element.punkVal == nullptr ||
                FAILED(element.punkVal->QueryInterface(IID_IHostMediaProperty, reinterpret_cast<void**>(&property))))
                continue;
            CComBSTR name;
            CComBSTR value;
            property->get_Name(&name);
            property->get_Value(&value);
            out.emplace_back(ToUtf8(name.View()), ToUtf8(value.View()));
        }
        return hr;
    });
}

HRESULT CComponentHost::SupportedProfiles(std::vector<STarget>& targets) const
{
    return Guarded([&] {
        SAFEARRAY* list = nullptr;
        const HRESULT hr = m_info->GetSupportedProfiles(&list);
        if (SUCCEEDED(hr))
            targets = ReadTargets(list);
        return hr;
    });
}

HRESULT CComponentHost::OpenConverter(const SRecording& recording, const STarget& target,
                                      CComPtr<IVskMediaTranscoder>& converter) const
{
    return Guarded([&] {
        HRESULT hr = m_info->CreateTranscoder(&converter);
        if (FAILED(hr))
            return hr;
        auto item = Item(recording);
        hr = converter->Open(CComVariant(static_cast<IUnknown*>(static_cast<IHostMediaItem*>(item.p))),
                             target.description);
        if (FAILED(hr))
            converter.Release();
        return hr;
    });
}

}  // namespace mediahost
