// The built component library, loaded the way a host loads it, with its four
// exports looked up by name.
#pragma once

#include "platform/com.h"
#include "platform/dynlib.h"

#include <gtest/gtest.h>

#include "platform/com_holders.h"

#include <filesystem>
#include <memory>

namespace vsktest {

using PfnDllGetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, LPVOID*);
using PfnDllCanUnloadNow = HRESULT(STDAPICALLTYPE*)();
using PfnDllRegisterServer = HRESULT(STDAPICALLTYPE*)();

class CComponentLibrary {
public:
    CComponentLibrary();

    static std::filesystem::path Path();

    PfnDllGetClassObject getClassObject = nullptr;
    PfnDllCanUnloadNow canUnloadNow = nullptr;
    PfnDllRegisterServer registerServer = nullptr;
    PfnDllRegisterServer unregisterServer = nullptr;

private:
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

}  // namespace vsktest
