#include "ComponentLibrary.h"

#include "frame/MediaTranscoderLib.h"
#include "platform/com_holders.h"
#include "platform/process.h"
#include "vsktest/TempDir.h"
#include "vsktest/WideText.h"

#include <stdexcept>

namespace vsktest {
namespace {

constexpr wchar_t REGISTRY_VARIABLE[] = L"VSK_REGISTRY_FILE";

#if VSK_TEST_REGSVR32
bool RunRegsvr32(const std::filesystem::path& library, bool unregister)
{
    std::vector<std::wstring> arguments{L"/s"};
    if (unregister)
        arguments.push_back(L"/u");
    arguments.push_back(WideFromPath(library));
    platform::CChildProcess tool;
    return tool.Start(L"C:\\windows\\system32\\regsvr32.exe", arguments) && tool.Wait() == 0;
}
#endif

}  // namespace

std::filesystem::path CComponentLibrary::Path()
{
    const std::filesystem::path built = VSK_COMPONENT_FILE;
    return LocateBuildOutput("component", built.filename(), built);
}

CComponentLibrary::CComponentLibrary() : CComponentLibrary(Path()) {}

CComponentLibrary::CComponentLibrary(const std::filesystem::path& path) : m_path(path)
{
    if (!m_library.Load(WideFromPath(path).c_str()))
        throw std::runtime_error("cannot load the component library " + path.string());
    // A host never unloads it while objects may live; neither do the tests.
    m_library.KeepLoaded();
    getClassObject = reinterpret_cast<PfnDllGetClassObject>(m_library.Symbol("DllGetClassObject"));
    canUnloadNow = reinterpret_cast<PfnDllCanUnloadNow>(m_library.Symbol("DllCanUnloadNow"));
    registerServer = reinterpret_cast<PfnDllRegisterServer>(m_library.Symbol("DllRegisterServer"));
    unregisterServer = reinterpret_cast<PfnDllRegisterServer>(m_library.Symbol("DllUnregisterServer"));
}

CComponentRegistration::CComponentRegistration(const CComponentLibrary& library)
    : m_library(library), m_registryDir(std::make_unique<CTempDir>())
{
    platform::SetEnvironment(REGISTRY_VARIABLE, WideFromPath(*m_registryDir / "registry").c_str());
#if VSK_TEST_REGSVR32
    m_registered = RunRegsvr32(m_library.LoadedPath(), false);
#else
    m_registered = true;
    for (const CLSID* clsid : {&MediaTranscoderLib::CLSID_Mpeg2TSConverter,
                               &MediaTranscoderLib::CLSID_Mpeg2TSConverterInfo}) {
        CComPtr<IUnknown> factory;
        DWORD cookie = 0;
        if (m_library.getClassObject(*clsid, IID_IUnknown, reinterpret_cast<void**>(&factory)) != S_OK ||
            CoRegisterClassObject(*clsid, factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie) != S_OK) {
            m_registered = false;
            break;
        }
        m_cookies.push_back(cookie);
    }
#endif
    if (!m_registered)
        Undo();
}

CComponentRegistration::~CComponentRegistration()
{
    Undo();
}

void CComponentRegistration::Undo()
{
#if VSK_TEST_REGSVR32
    if (m_registered)
        RunRegsvr32(m_library.LoadedPath(), true);
#endif
    for (DWORD cookie : m_cookies)
        CoRevokeClassObject(cookie);
    m_cookies.clear();
    m_registered = false;
    platform::SetEnvironment(REGISTRY_VARIABLE, nullptr);
}

}  // namespace vsktest
