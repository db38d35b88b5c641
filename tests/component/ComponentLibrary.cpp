#include "ComponentLibrary.h"

#include "vsktest/TempDir.h"
#include "vsktest/WideText.h"

#include <stdexcept>

namespace vsktest {

std::filesystem::path CComponentLibrary::Path()
{
    const std::filesystem::path built = VSK_COMPONENT_FILE;
    return LocateBuildOutput("component", built.filename(), built);
}

CComponentLibrary::CComponentLibrary()
{
    if (!m_library.Load(WideFromPath(Path()).c_str()))
        throw std::runtime_error("cannot load the component library");
    // A host never unloads it while objects may live; neither do the tests.
    m_library.KeepLoaded();
    getClassObject = reinterpret_cast<PfnDllGetClassObject>(m_library.Symbol("DllGetClassObject"));
    canUnloadNow = reinterpret_cast<PfnDllCanUnloadNow>(m_library.Symbol("DllCanUnloadNow"));
    registerServer = reinterpret_cast<PfnDllRegisterServer>(m_library.Symbol("DllRegisterServer"));
    unregisterServer = reinterpret_cast<PfnDllRegisterServer>(m_library.Symbol("DllUnregisterServer"));
}

}  // namespace vsktest
