// The component library: its four exports, the table of its two co-classes,
// and what happens when it is loaded and unloaded.
//
// Load (static initialisation): the module object exists (frame), the
// application log is created, and the process-wide locks of the packet probe
// and the parser-library probe are set up by their own files. Unload: the
// cached class objects are released and the application log destroyed; at
// process exit both stay in place for threads that may still use them.
#include "frame/AppLog.h"
#include "frame/CClassObject.h"
#include "frame/CRegistrar.h"
#include "frame/CVskMpeg2TsTranscoderModule.h"
#include "frame/MediaTranscoderLib.h"
#include "info/CMpeg2TSConverterInfo.h"
#include "platform/dynlib.h"
#include "platform/module.h"
#include "platform/resources.h"
#include "platform/sync.h"
#include "transcoder/CMpeg2TSConverter.h"

#include <array>
#include <string>

namespace {

// Resource ids of the registry scripts.
constexpr int SCRIPT_APPID = 101;
constexpr int SCRIPT_CONVERTER = 102;
constexpr int SCRIPT_CONVERTER_INFO = 103;
constexpr wchar_t SCRIPT_TYPE[] = L"REGISTRY";

// One co-class: the order of the table is the order of registration,
// unregistration and class lookup.
struct SObjectEntry {
    const CLSID* clsid;
    int script;
    frame::PfnCreateObject create;
    frame::CClassObject* classObject;  // cached from the first request until unload
};

std::array<SObjectEntry, 2> g_objectTable = {{
    {&MediaTranscoderLib::CLSID_Mpeg2TSConverter, SCRIPT_CONVERTER,
     &CComCreator<transcoder::CMpeg2TSConverter>::CreateInstance, nullptr},
    {&MediaTranscoderLib::CLSID_Mpeg2TSConverterInfo, SCRIPT_CONVERTER_INFO,
     &CComCreator<info::CMpeg2TSConverterInfo>::CreateInstance, nullptr},
}};

// Guards the creation of class objects, so each entry gets exactly one.
platform::CCriticalSection g_classObjectLock;

// Releases the cached class objects and destroys the application log when
// the component is unloaded. Not at process exit: other threads of the host
// may still be logging then (platform/module.h).
void TearDownComponent()
{
    for (SObjectEntry& entry : g_objectTable) {
        if (entry.classObject != nullptr) {
            entry.classObject->Release();
            entry.classObject = nullptr;
        }
    }
    deDazOdu::DestroyAppLog(g_appLog);
}

// Creates the application log at load.
struct SComponentLifetime {
    SComponentLifetime()
    {
        g_appLog = deDazOdu::CreateAppLog(L"Default", L"vesk.middle.VeskMpeg2Transcoder");
        platform::AtModuleUnload(&TearDownComponent);
    }
} g_componentLifetime;

std::wstring ModulePath()
{
    return platform::ModulePathFromAddress(reinterpret_cast<const void*>(&ModulePath));
}

// Runs one of the component's registry scripts.
HRESULT RunScript(int id, bool registering)
{
    std::string text;
    if (!platform::LoadTextResource(reinterpret_cast<const void*>(&RunScript), SCRIPT_TYPE, id, text))
        return E_FAIL;
    // The scripts are ASCII text.
    std::wstring script;
    script.reserve(text.size());
    for (char c : text)
        script += static_cast<wchar_t>(static_cast<unsigned char>(c));
    try {
        frame::CRegistrar registrar;
        g_module.AddCommonReplacements(registrar);
        registrar.AddReplacement(L"MODULE", ModulePath());
        return registrar.Run(script, registering);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

// Runs fn with the thread's locale set to the system default, and restores it.
template <class TFunction>
HRESULT WithSystemLocale(TFunction fn)
{
    const LCID saved = GetThreadLocale();
    SetThreadLocale(LOCALE_SYSTEM_DEFAULT);
    const HRESULT hr = fn();
    SetThreadLocale(saved);
    return hr;
}

}  // namespace

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv)
{
    if (ppv == nullptr)
        return E_POINTER;
    *ppv = nullptr;
    for (SObjectEntry& entry : g_objectTable) {
        if (!InlineIsEqualGUID(rclsid, *entry.clsid))
            continue;
        {
            platform::CCriticalSectionGuard guard(g_classObjectLock);
            if (entry.classObject == nullptr) {
                entry.classObject = frame::CClassObject::Create(entry.create);
                if (entry.classObject == nullptr)
                    return E_OUTOFMEMORY;
            }
        }
        return entry.classObject->QueryInterface(riid, ppv);
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

STDAPI DllCanUnloadNow()
{
    return g_module.GetLockCount() == 0 ? S_OK : S_FALSE;
}

STDAPI DllRegisterServer()
{
    return WithSystemLocale([] {
        HRESULT hr = RunScript(SCRIPT_APPID, true);
        for (const SObjectEntry& entry : g_objectTable) {
            if (FAILED(hr))
                break;
            hr = RunScript(entry.script, true);
        }
        return hr;
    });
}

STDAPI DllUnregisterServer()
{
    return WithSystemLocale([] {
        HRESULT hr = S_OK;
        for (const SObjectEntry& entry : g_objectTable) {
            hr = RunScript(entry.script, false);
            if (FAILED(hr))
                return hr;
        }
        return RunScript(SCRIPT_APPID, false);
    });
}
