#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>

#include "platform/com.h"
#include "test_objects.h"

namespace {

// Runs `body` on a fresh thread, so COM state of the test thread cannot leak in.
template <class Body>
void OnNewThread(Body body)
{
    std::thread thread(body);
    thread.join();
}

IErrorInfo* MakeErrorInfo(const wchar_t* source, const wchar_t* description)
{
    ICreateErrorInfo* create = nullptr;
    EXPECT_EQ(CreateErrorInfo(&create), S_OK);
    create->SetSource(const_cast<LPOLESTR>(source));
    create->SetDescription(const_cast<LPOLESTR>(description));
    IErrorInfo* info = nullptr;
    EXPECT_EQ(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)), S_OK);
    create->Release();
    return info;
}

TEST(ComInitialization, CountsPerThreadAndRefusesAModelChange)
{
    OnNewThread([] {
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_FALSE);
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), RPC_E_CHANGED_MODE);
        CoUninitialize();
        CoUninitialize();
    });
    OnNewThread([] {
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
        CoUninitialize();
    });
}

TEST(ErrorInfo, BelongsToTheThreadThatSetItAndIsTakenOnce)
{
    IErrorInfo* info = MakeErrorInfo(L"Source text", L"Description text");
    ASSERT_EQ(SetErrorInfo(0, info), S_OK);
    info->Release();

    OnNewThread([] {
        IErrorInfo* other = reinterpret_cast<IErrorInfo*>(1);
        EXPECT_EQ(GetErrorInfo(0, &other), S_FALSE);
        EXPECT_EQ(other, nullptr);
    });

    IErrorInfo* got = nullptr;
    ASSERT_EQ(GetErrorInfo(0, &got), S_OK);
    ASSERT_NE(got, nullptr);
    BSTR source = nullptr;
    BSTR description = nullptr;
    EXPECT_EQ(got->GetSource(&source), S_OK);
    EXPECT_EQ(got->GetDescription(&description), S_OK);
    EXPECT_STREQ(source, L"Source text");
    EXPECT_STREQ(description, L"Description text");
    SysFreeString(source);
    SysFreeString(description);
    got->Release();

    // Taking it emptied the slot.
    got = reinterpret_cast<IErrorInfo*>(1);
    EXPECT_EQ(GetErrorInfo(0, &got), S_FALSE);
    EXPECT_EQ(got, nullptr);
}

TEST(ErrorInfo, CreatedObjectAnswersBothFacesAndKeepsItsGuid)
{
    ICreateErrorInfo* create = nullptr;
    ASSERT_EQ(CreateErrorInfo(&create), S_OK);
    EXPECT_EQ(create->SetGUID(IID_IClassFactory), S_OK);
    IErrorInfo* info = nullptr;
    ASSERT_EQ(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)), S_OK);
    GUID guid = GUID_NULL;
    EXPECT_EQ(info->GetGUID(&guid), S_OK);
    EXPECT_TRUE(IsEqualGUID(guid, IID_IClassFactory));
    IUnknown* viaInfo = nullptr;
    IUnknown* viaCreate = nullptr;
    info->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&viaInfo));
    create->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&viaCreate));
    EXPECT_EQ(viaInfo, viaCreate);  // one identity
    viaInfo->Release();
    viaCreate->Release();
    info->Release();
    create->Release();
    // Replacing and clearing the slot releases what it held.
    IErrorInfo* a = MakeErrorInfo(L"a", L"a");
    SetErrorInfo(0, a);
    SetErrorInfo(0, nullptr);
    EXPECT_EQ(a->AddRef(), 2u);
    a->Release();
    a->Release();
}

// An outer object that aggregates the free-threaded marshaler the way the
// component's objects do.
class COuter final : public IUnknown {
public:
    COuter() { EXPECT_EQ(CoCreateFreeThreadedMarshaler(this, &m_marshaler), S_OK); }
    ~COuter() { m_marshaler->Release(); }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) noexcept override
    {
        if (riid == IID_IUnknown) {
            *ppv = static_cast<IUnknown*>(this);
            AddRef();
            return S_OK;
        }
        if (riid == IID_IMarshal) {
            return m_marshaler->QueryInterface(riid, ppv);
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() noexcept override { return ++m_refs; }
    STDMETHODIMP_(ULONG) Release() noexcept override
    {
        const ULONG left = --m_refs;
        if (left == 0) {
            delete this;
        }
        return left;
    }
    ULONG m_refs = 1;
    IUnknown* m_marshaler = nullptr;
};

TEST(FreeThreadedMarshaler, AggregatedMarshalFaceDelegatesToTheOuterObject)
{
    auto* outer = new COuter();
    IMarshal* marshal = nullptr;
    ASSERT_EQ(outer->QueryInterface(IID_IMarshal, reinterpret_cast<void**>(&marshal)), S_OK);
    ASSERT_NE(marshal, nullptr);
    EXPECT_EQ(outer->m_refs, 2u);  // the face's reference is the outer's
    marshal->AddRef();
    EXPECT_EQ(outer->m_refs, 3u);
    marshal->Release();

    IUnknown* identity = nullptr;
    ASSERT_EQ(marshal->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)), S_OK);
    EXPECT_EQ(identity, static_cast<IUnknown*>(outer));
    identity->Release();

    // The inner unknown answers IUnknown as itself and nothing but IMarshal.
    IUnknown* inner = nullptr;
    ASSERT_EQ(outer->m_marshaler->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&inner)), S_OK);
    EXPECT_EQ(inner, outer->m_marshaler);
    inner->Release();
    void* nothing = reinterpret_cast<void*>(1);
    EXPECT_EQ(outer->m_marshaler->QueryInterface(IID_IClassFactory, &nothing), E_NOINTERFACE);
    EXPECT_EQ(nothing, nullptr);

    marshal->Release();
    EXPECT_EQ(outer->m_refs, 1u);
    outer->Release();
}

class ClassTable : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))); }
    void TearDown() override { CoUninitialize(); }

    static constexpr CLSID kClass = {0x1B7E4C30, 0x7F0A, 0x4B7A, {0x90, 0x4E, 0x5C, 0x2D, 0x11, 0x83, 0x6A, 0x01}};
};

TEST_F(ClassTable, CreatesThroughARegisteredClassObjectUntilRevoked)
{
    std::atomic<int> alive{0};
    auto* factory = new CTestUnknown(&alive);
    DWORD cookie = 0;
    ASSERT_EQ(CoRegisterClassObject(kClass, factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie), S_OK);
    EXPECT_NE(cookie, 0u);
    EXPECT_EQ(factory->Count(), 2u);

    for (int round = 0; round < 2; ++round) {  // multiple use
        IUnknown* object = nullptr;
        ASSERT_EQ(CoCreateInstance(kClass, nullptr, 0x17, IID_IUnknown, reinterpret_cast<void**>(&object)), S_OK);
        ASSERT_NE(object, nullptr);
        EXPECT_NE(object, static_cast<IUnknown*>(factory));
        EXPECT_EQ(OleRun(object), S_OK);
        object->Release();
    }
    EXPECT_EQ(alive.load(), 1);

    // The outer unknown is handed to the class object unchanged.
    auto* outer = new CTestUnknown();
    IUnknown* inner = nullptr;
    ASSERT_EQ(CoCreateInstance(kClass, outer, CLSCTX_INPROC_SERVER, IID_IUnknown, reinterpret_cast<void**>(&inner)),
              S_OK);
    EXPECT_EQ(factory->m_lastOuter, static_cast<IUnknown*>(outer));
    inner->Release();
    outer->Release();

    IClassFactory* classObject = nullptr;
    ASSERT_EQ(CoGetClassObject(kClass, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                               reinterpret_cast<void**>(&classObject)),
              S_OK);
    EXPECT_EQ(classObject, static_cast<IClassFactory*>(factory));
    classObject->Release();

    ASSERT_EQ(CoRevokeClassObject(cookie), S_OK);
    EXPECT_EQ(factory->Count(), 1u);
    IUnknown* object = reinterpret_cast<IUnknown*>(1);
    EXPECT_EQ(CoCreateInstance(kClass, nullptr, 0x17, IID_IUnknown, reinterpret_cast<void**>(&object)),
              REGDB_E_CLASSNOTREG);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(CoRevokeClassObject(cookie), E_INVALIDARG);
    factory->Release();
    EXPECT_EQ(alive.load(), 0);
}

TEST_F(ClassTable, UninitialisedThreadJoinsTheImplicitMultithreadedApartment)
{
    OnNewThread([] {
        // Another thread holds the multithreaded apartment: this thread is in
        // it implicitly, so creation only fails for an unknown class.
        IUnknown* object = nullptr;
        EXPECT_EQ(CoCreateInstance(kClass, nullptr, 0x17, IID_IUnknown, reinterpret_cast<void**>(&object)),
                  REGDB_E_CLASSNOTREG);
        EXPECT_EQ(CoCreateInstance(kClass, nullptr, 0x17, IID_IUnknown, nullptr), E_POINTER);
    });
}

TEST(ComInitialization, CreationWithoutComAnywhereFails)
{
    OnNewThread([] {
        IUnknown* object = reinterpret_cast<IUnknown*>(1);
        EXPECT_EQ(CoCreateInstance(IID_IClassFactory, nullptr, 0x17, IID_IUnknown, reinterpret_cast<void**>(&object)),
                  CO_E_NOTINITIALIZED);
        EXPECT_EQ(object, nullptr);
    });
}

TEST(ComError, CarriesErrorInformationAndAFallbackMessage)
{
    IErrorInfo* info = MakeErrorInfo(L"The source", L"The description");
    {
        _com_error error(E_INVALIDARG, info, true);
        EXPECT_EQ(error.Error(), E_INVALIDARG);
        IErrorInfo* held = error.ErrorInfo();
        EXPECT_EQ(held, info);
        held->Release();
        EXPECT_STREQ(static_cast<const wchar_t*>(error.Source()), L"The source");
        EXPECT_STREQ(static_cast<const wchar_t*>(error.Description()), L"The description");
        _com_error copy = error;
        EXPECT_EQ(copy.Error(), E_INVALIDARG);
    }
    EXPECT_EQ(info->AddRef(), 2u);  // the errors gave their references back
    info->Release();
    info->Release();

    _com_error plain(E_FAIL);
    EXPECT_EQ(plain.ErrorInfo(), nullptr);
    EXPECT_EQ(static_cast<const wchar_t*>(plain.Source()), nullptr);
    const wchar_t* message = plain.ErrorMessage();
    ASSERT_NE(message, nullptr);
    EXPECT_EQ(message, plain.ErrorMessage());  // computed once
    EXPECT_GT(std::wcslen(message), 0u);

    // Codes in the IDispatch range without system text.
    EXPECT_EQ(_com_error(static_cast<HRESULT>(0x80040201)).WCode(), 1);
    EXPECT_EQ(_com_error(static_cast<HRESULT>(0x80040200)).WCode(), 0);
    EXPECT_STREQ(_com_error(static_cast<HRESULT>(0x80040201)).ErrorMessage(), L"IDispatch error #1");
    EXPECT_STREQ(_com_error(static_cast<HRESULT>(0x8004FF00)).ErrorMessage(), L"IDispatch error #64768");
}

TEST(ComError, IssueErrorExAttachesInformationOnlyWhenTheCalleeSupportsIt)
{
    auto* callee = new CTestUnknown();  // has no ISupportErrorInfo
    IErrorInfo* info = MakeErrorInfo(L"s", L"d");
    SetErrorInfo(0, info);
    info->Release();
    try {
        _com_issue_errorex(E_ACCESSDENIED, callee, IID_IClassFactory);
        FAIL() << "did not raise";
    } catch (const _com_error& e) {
        EXPECT_EQ(e.Error(), E_ACCESSDENIED);
        EXPECT_EQ(e.ErrorInfo(), nullptr);
    }
    callee->Release();
    SetErrorInfo(0, nullptr);
}

TEST(TaskMemory, AllocatesGrowsAndFrees)
{
    auto* bytes = static_cast<unsigned char*>(CoTaskMemAlloc(16));
    ASSERT_NE(bytes, nullptr);
    std::memset(bytes, 0x5A, 16);
    bytes = static_cast<unsigned char*>(CoTaskMemRealloc(bytes, 64));
    ASSERT_NE(bytes, nullptr);
    EXPECT_EQ(bytes[15], 0x5A);
    CoTaskMemFree(bytes);
    CoTaskMemFree(nullptr);
}

TEST(ThreadLocale, IsKeptPerThread)
{
    const LCID saved = GetThreadLocale();
    EXPECT_TRUE(SetThreadLocale(0x0407));
    EXPECT_EQ(GetThreadLocale(), 0x0407u);
    EXPECT_TRUE(SetThreadLocale(saved));
    EXPECT_EQ(GetThreadLocale(), saved);
}

}  // namespace
