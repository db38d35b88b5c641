// The component library as a host sees it: class objects, object identity,
// aggregation, the unload rule and self-registration.
#include "ComponentLibrary.h"

#include "frame/MediaTranscoderLib.h"
#include "platform/com_holders.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "vsktest/TempDir.h"
#include "vsktest/WideText.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace MediaTranscoderLib;

const CLSID& ConverterClass()
{
    return CLSID_Mpeg2TSConverter;
}

using ComponentTest = vsktest::CComponentTest;

// A minimal controlling object for aggregation tests.
class COuter : public IUnknown {
public:
    STDMETHODIMP QueryInterface(REFIID iid, void** ppv) noexcept override
    {
        if (InlineIsEqualGUID(iid, IID_IUnknown)) {
            *ppv = this;
            AddRef();
            return S_OK;
        }
        return inner != nullptr ? inner->QueryInterface(iid, ppv) : E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() noexcept override { return ++count; }
    STDMETHODIMP_(ULONG) Release() noexcept override { return --count; }

    std::atomic<ULONG> count{1};
    IUnknown* inner = nullptr;
};

TEST_F(ComponentTest, ClassObjectsAreFoundByClassIdAndCached)
{
    void* out = reinterpret_cast<void*>(1);
    const CLSID unknown = {0x12345678, 0, 0, {0, 0, 0, 0, 0, 0, 0, 1}};
    EXPECT_EQ(s_library->getClassObject(unknown, IID_IClassFactory, &out), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(s_library->getClassObject(ConverterClass(), IID_IClassFactory, nullptr), E_POINTER);

    for (const CLSID* clsid : {&CLSID_Mpeg2TSConverter, &CLSID_Mpeg2TSConverterInfo}) {
        CComPtr<IClassFactory> a = Factory(*clsid);
        CComPtr<IClassFactory> b = Factory(*clsid);
        ASSERT_TRUE(a);
        EXPECT_EQ(a.p, b.p);
        CComPtr<IUnknown> marshal;
        EXPECT_EQ(a.QueryInterface(IID_IMarshal, &marshal), E_NOINTERFACE);
        CComPtr<IUnknown> asUnknown;
        EXPECT_EQ(s_library->getClassObject(*clsid, IID_IUnknown, reinterpret_cast<void**>(&asUnknown)), S_OK);
    }
    EXPECT_EQ(Factory(CLSID_Mpeg2TSConverter).p == Factory(CLSID_Mpeg2TSConverterInfo).p, false);
}

TEST_F(ComponentTest, UnloadIsRefusedWhileAnythingLives)
{
    ASSERT_EQ(CanUnload(), S_OK);
    {
        // The host holds a class object beyond the cache's own reference.
        CComPtr<IClassFactory> factory = Factory(CLSID_Mpeg2TSConverter);
        EXPECT_EQ(CanUnload(), S_FALSE);
    }
    EXPECT_EQ(CanUnload(), S_OK);

    CComPtr<IVskMediaTranscoder> converter;
    CComPtr<IVskMediaTranscoderInfo> info;
    {
        CComPtr<IClassFactory> factory = Factory(CLSID_Mpeg2TSConverter);
        ASSERT_EQ(factory->CreateInstance(nullptr, IID_IVskMediaTranscoder, reinterpret_cast<void**>(&converter)), S_OK);
        CComPtr<IClassFactory> infoFactory = Factory(CLSID_Mpeg2TSConverterInfo);
        ASSERT_EQ(infoFactory->CreateInstance(nullptr, IID_IVskMediaTranscoderInfo, reinterpret_cast<void**>(&info)),
                  S_OK);
    }
    EXPECT_EQ(CanUnload(), S_FALSE);
    converter.Release();
    EXPECT_EQ(CanUnload(), S_FALSE);
    info.Release();
    EXPECT_EQ(CanUnload(), S_OK);

    {
        CComPtr<IClassFactory> factory = Factory(CLSID_Mpeg2TSConverterInfo);
        EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    }
    EXPECT_EQ(CanUnload(), S_FALSE);
    {
        CComPtr<IClassFactory> factory = Factory(CLSID_Mpeg2TSConverterInfo);
        EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    }
    EXPECT_EQ(CanUnload(), S_OK);
}

TEST_F(ComponentTest, ObjectsAnswerExactlyTheirInterfaces)
{
    struct Class {
        const CLSID* clsid;
        const IID* own;
        const IID* other;
    };
    for (const Class& c : {Class{&CLSID_Mpeg2TSConverter, &IID_IVskMediaTranscoder, &IID_IVskMediaTranscoderInfo},
                           Class{&CLSID_Mpeg2TSConverterInfo, &IID_IVskMediaTranscoderInfo, &IID_IVskMediaTranscoder}}) {
        CComPtr<IClassFactory> factory = Factory(*c.clsid);
        CComPtr<IUnknown> object;
        ASSERT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&object)), S_OK);
        CComPtr<IUnknown> own;
        CComPtr<IUnknown> marshal;
        CComPtr<IUnknown> refused;
        EXPECT_EQ(object.QueryInterface(*c.own, &own), S_OK);
        EXPECT_EQ(object.QueryInterface(IID_IMarshal, &marshal), S_OK);
        EXPECT_EQ(object.QueryInterface(IID_IDispatch, &refused), E_NOINTERFACE);
        EXPECT_EQ(object.QueryInterface(IID_ISupportErrorInfo, &refused), E_NOINTERFACE);
        EXPECT_EQ(object.QueryInterface(*c.other, &refused), E_NOINTERFACE);
        EXPECT_EQ(object.QueryInterface(IID_IClassFactory, &refused), E_NOINTERFACE);
        // Identity: IUnknown from any interface is the same pointer.
        CComPtr<IUnknown> again;
        EXPECT_EQ(own.QueryInterface(IID_IUnknown, &again), S_OK);
        EXPECT_EQ(again.p, object.p);
    }
    EXPECT_EQ(CanUnload(), S_OK);
}

TEST_F(ComponentTest, Aggregation)
{
    for (const CLSID* clsid : {&CLSID_Mpeg2TSConverter, &CLSID_Mpeg2TSConverterInfo}) {
        CComPtr<IClassFactory> factory = Factory(*clsid);
        COuter outer;
        void* out = reinterpret_cast<void*>(1);
        EXPECT_EQ(factory->CreateInstance(&outer, IID_IVskMediaTranscoder, &out), CLASS_E_NOAGGREGATION);
        EXPECT_EQ(out, nullptr);
        EXPECT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, nullptr), E_POINTER);

        IUnknown* inner = nullptr;
        ASSERT_EQ(factory->CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&inner)), S_OK);
        outer.inner = inner;
        // Interfaces of the inner object count their references on the outer one.
        const ULONG before = outer.count;
        IUnknown* face = nullptr;
        const IID& own = *clsid == CLSID_Mpeg2TSConverter ? IID_IVskMediaTranscoder : IID_IVskMediaTranscoderInfo;
        ASSERT_EQ(inner->QueryInterface(own, reinterpret_cast<void**>(&face)), S_OK);
        EXPECT_EQ(outer.count, before + 1);
        // ... and answer IUnknown with the outer identity.
        IUnknown* identity = nullptr;
        ASSERT_EQ(face->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)), S_OK);
        EXPECT_EQ(identity, static_cast<IUnknown*>(&outer));
        identity->Release();
        face->Release();
        EXPECT_EQ(outer.count, before);
        EXPECT_EQ(CanUnload(), S_FALSE);
        outer.inner = nullptr;
        EXPECT_EQ(inner->Release(), 0u);
    }
    EXPECT_EQ(CanUnload(), S_OK);
}

TEST_F(ComponentTest, FailedCreationLeavesNothingBehind)
{
    CComPtr<IClassFactory> factory = Factory(CLSID_Mpeg2TSConverter);
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    factory.Release();
    EXPECT_EQ(CanUnload(), S_OK);
}

// ---------------------------------------------------------------------------
// Self-registration.

using platform::ERegistryRoot;
constexpr ERegistryRoot HKCR = ERegistryRoot::CLASSES_ROOT;

constexpr wchar_t APPID[] = L"{0F0B5B96-D3EB-43A3-83DA-04B042F0D8AA}";
constexpr wchar_t CONVERTER[] = L"{6D87181D-31B4-449C-ACED-34A0D1E449EB}";
constexpr wchar_t INFO[] = L"{14311EB0-DE57-424A-A76F-CE30C1829E81}";
constexpr wchar_t TYPELIB[] = L"{7EB53858-2080-4388-9A40-1BE597C60EB9}";
constexpr wchar_t PROGID[] = L"VskMpeg2TsTranscoder.Mpeg2TSConverte.1";

struct SExpectedValue {
    std::wstring key;
    const wchar_t* name;  // null: the default value
    std::wstring data;
};

std::vector<SExpectedValue> ExpectedValues(const std::wstring& module)
{
    const std::wstring conv = std::wstring(L"CLSID\\") + CONVERTER;
    const std::wstring info = std::wstring(L"CLSID\\") + INFO;
    return {
        {std::wstring(L"AppID\\") + APPID, nullptr, L"VskMpeg2TsTranscoder"},
        {L"AppID\\VskMpeg2TsTranscoder.DLL", L"AppID", APPID},
        // The versioned ProgID both scripts write: the info script runs last.
        {PROGID, nullptr, L"Mpeg2TSConverterInfo Class"},
        {std::wstring(PROGID) + L"\\CLSID", nullptr, INFO},
        {L"VskMpeg2TsTranscoder.Mpeg2TSConverter", nullptr, L"Mpeg2TSConverter Class"},
        {L"VskMpeg2TsTranscoder.Mpeg2TSConverter\\CLSID", nullptr, CONVERTER},
        {L"VskMpeg2TsTranscoder.Mpeg2TSConverter\\CurVer", nullptr, PROGID},
        {L"VskMpeg2TsTranscoder.Mpeg2TSConverterI", nullptr, L"Mpeg2TSConverterInfo Class"},
        {L"VskMpeg2TsTranscoder.Mpeg2TSConverterI\\CLSID", nullptr, INFO},
        {L"VskMpeg2TsTranscoder.Mpeg2TSConverterI\\CurVer", nullptr, PROGID},
        {conv, nullptr, L"Mpeg2TSConverter Class"},
        {conv, L"AppID", APPID},
        {conv + L"\\ProgID", nullptr, PROGID},
        {conv + L"\\VersionIndependentProgID", nullptr, L"VskMpeg2TsTranscoder.Mpeg2TSConverter"},
        {conv + L"\\InprocServer32", nullptr, module},
        {conv + L"\\InprocServer32", L"ThreadingModel", L"Both"},
        {conv + L"\\TypeLib", nullptr, TYPELIB},
        {info, nullptr, L"Mpeg2TSConverterInfo Class"},
        {info, L"AppID", APPID},
        {info + L"\\ProgID", nullptr, PROGID},
        {info + L"\\VersionIndependentProgID", nullptr, L"VskMpeg2TsTranscoder.Mpeg2TSConverterI"},
        {info + L"\\InprocServer32", nullptr, module},
        {info + L"\\InprocServer32", L"ThreadingModel", L"Both"},
        {info + L"\\TypeLib", nullptr, TYPELIB},
    };
}

// Registers or unregisters as the platform's tool does: regsvr32 where there
// is one, otherwise the export itself.
HRESULT RunRegistration([[maybe_unused]] vsktest::CComponentLibrary& library, bool registering)
{
#if VSK_TEST_REGSVR32
    platform::CChildProcess tool;
    std::vector<std::wstring> args = {L"/s"};
    if (!registering)
        args.push_back(L"/u");
    args.push_back(vsktest::WideFromPath(vsktest::CComponentLibrary::Path()));
    if (!tool.Start(L"C:\\windows\\system32\\regsvr32.exe", args))
        return E_FAIL;
    return tool.Wait() == 0 ? S_OK : E_FAIL;
#else
    return registering ? library.registerServer() : library.unregisterServer();
#endif
}

TEST_F(ComponentTest, RegistrationWritesAndRemovesTheKeys)
{
    vsktest::CTempDir dir;
    platform::SetEnvironment(L"VSK_REGISTRY_FILE", vsktest::WideFromPath(dir / "registry").c_str());
    const LCID localeBefore = GetThreadLocale();

    ASSERT_EQ(RunRegistration(*s_library, true), S_OK);
    EXPECT_EQ(GetThreadLocale(), localeBefore);
    // The module path is whatever the loader calls the file; compare by name.
    std::wstring module;
    ASSERT_TRUE(platform::RegistryGetString(HKCR, std::wstring(L"CLSID\\") + CONVERTER + L"\\InprocServer32", nullptr,
                                            module));
    EXPECT_NE(module.find(L"VskMpeg2TsTranscoder"), std::wstring::npos) << vsktest::ToUtf8(module);
    for (const SExpectedValue& v : ExpectedValues(module)) {
        std::wstring data;
        EXPECT_TRUE(platform::RegistryGetString(HKCR, v.key, v.name, data))
            << vsktest::ToUtf8(v.key) << " " << (v.name ? vsktest::ToUtf8(v.name) : "(default)");
        EXPECT_EQ(data, v.data) << vsktest::ToUtf8(v.key);
    }
    // Registering twice is harmless.
    ASSERT_EQ(RunRegistration(*s_library, true), S_OK);

    ASSERT_EQ(RunRegistration(*s_library, false), S_OK);
    for (const std::wstring& gone :
         {std::wstring(L"CLSID\\") + CONVERTER, std::wstring(L"CLSID\\") + INFO, std::wstring(L"AppID\\") + APPID,
          std::wstring(L"AppID\\VskMpeg2TsTranscoder.DLL"), std::wstring(PROGID),
          std::wstring(L"VskMpeg2TsTranscoder.Mpeg2TSConverter"), std::wstring(L"VskMpeg2TsTranscoder.Mpeg2TSConverterI")}) {
        EXPECT_FALSE(platform::RegistryKeyExists(HKCR, gone)) << vsktest::ToUtf8(gone);
    }
    EXPECT_TRUE(platform::RegistryKeyExists(HKCR, L"AppID"));
    EXPECT_TRUE(platform::RegistryKeyExists(HKCR, L"CLSID"));
    // Unregistering what is gone already is no failure.
    EXPECT_EQ(RunRegistration(*s_library, false), S_OK);
    platform::SetEnvironment(L"VSK_REGISTRY_FILE", nullptr);
}

}  // namespace
