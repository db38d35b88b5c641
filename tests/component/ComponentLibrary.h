// The built component library, loaded the way a host loads it, with its four
// exports looked up by name, and made creatable by class id as installing it
// does.
#pragma once

#include "platform/com.h"
#include "platform/dynlib.h"

#include <gtest/gtest.h>

#include "platform/com_holders.h"

#include <filesystem>
#include <memory>
#include <vector>

namespace vsktest {

class CTempDir;

using PfnDllGetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, LPVOID*);
using PfnDllCanUnloadNow = HRESULT(STDAPICALLTYPE*)();
using PfnDllRegisterServer = HRESULT(STDAPICALLTYPE*)();

class CComponentLibrary {
public:
    // The library the build made (Path()).
    CComponentLibrary();
    // A copy of it elsewhere. Throws std::runtime_error when it cannot be
    // loaded.
    explicit CComponentLibrary(const std::filesystem::path& path);

    static std::filesystem::path Path();
    const std::filesystem::path& LoadedPath() const { return m_path; }

    PfnDllGetClassObject getClassObject = nullptr;
    PfnDllCanUnloadNow canUnloadNow = nullptr;
    PfnDllRegisterServer registerServer = nullptr;
    PfnDllRegisterServer unregisterServer = nullptr;

private:
    std::filesystem::path m_path;
    platform::CDynamicLibrary m_library;
};

// Tests of the component loaded once for the whole suite, with COM running.
class CComponentTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        s_library = std::make_unique<CComponentLibrary>();
    }

    CComPtr<IClassFactory> Factory(const CLSID& clsid)
    {
        CComPtr<IClassFactory> factory;
        EXPECT_EQ(s_library->getClassObject(clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
        return factory;
    }

    HRESULT CanUnload() { return s_library->canUnloadNow(); }

    static inline std::unique_ptr<CComponentLibrary> s_library;
};

// The component's two classes creatable through CoCreateInstance for the
// lifetime of the object, with the registry in a temporary file where the
// platform layer keeps one. Under Windows the real runtime finds the library
// through the registry, so regsvr32 registers the loaded file and removes it
// again; elsewhere there is no registry-driven activation, and the class
// objects the library hands out go into the process's class table, which is
// what the runtime does after loading a registered library.
class CComponentRegistration {
public:
    explicit CComponentRegistration(const CComponentLibrary& library);
    ~CComponentRegistration();
    CComponentRegistration(const CComponentRegistration&) = delete;
    CComponentRegistration& operator=(const CComponentRegistration&) = delete;

    // False when a step failed; nothing is left registered then.
    bool Registered() const { return m_registered; }

private:
    void Undo();

    const CComponentLibrary& m_library;
    std::unique_ptr<CTempDir> m_registryDir;
    std::vector<DWORD> m_cookies;
    bool m_registered = false;
};

}  // namespace vsktest
