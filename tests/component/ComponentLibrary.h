// The built component library, loaded the way a host loads it, with its four
// exports looked up by name.
#pragma once

#include "platform/com.h"
#include "platform/dynlib.h"

#include <filesystem>

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

}  // namespace vsktest
