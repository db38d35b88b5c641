#include <gtest/gtest.h>

#include <atomic>

#include "frame/com_object.h"

namespace {

// Two made-up interfaces for a test class.
struct ITestFirst : public IUnknown {
    STDMETHOD(GetValue)(LONG* value) = 0;
};
struct ITestSecond : public IUnknown {
    STDMETHOD(SetValue)(LONG value) = 0;
};
inline constexpr IID IID_ITestFirst = {0x5D0C7A10, 0x3F1B, 0x4C2E, {0x9A, 0x11, 0x20, 0x44, 0x61, 0x7E, 0x10, 0x01}};
inline constexpr IID IID_ITestSecond = {0x5D0C7A10, 0x3F1B, 0x4C2E, {0x9A, 0x11, 0x20, 0x44, 0x61, 0x7E, 0x10, 0x02}};
inline constexpr IID IID_ITestUnlisted = {0x5D0C7A10, 0x3F1B, 0x4C2E, {0x9A, 0x11, 0x20, 0x44, 0x61, 0x7E, 0x10, 0x03}};

struct CCountingLock {
    static inline std::atomic<int> count{0};
    static void Lock() noexcept { ++count; }
    static void Unlock() noexcept { --count; }
};

struct TestState {
    static inline std::atomic<int> alive{0};
    static inline HRESULT finalConstructResult = S_OK;
    static inline int finalReleases = 0;
};

template <ComMarshal Marshal>
class CTestObject : public CComObjectRoot<CTestObject<Marshal>, CCountingLock, Marshal>,
                    public ITestFirst,
                    public ITestSecond {
public:
    using InterfaceMap = ComInterfaceMap<ComInterfaceEntry<ITestFirst, IID_ITestFirst>,
                                         ComInterfaceEntry<ITestSecond, IID_ITestSecond>>;

    CTestObject() { ++TestState::alive; }
    ~CTestObject() { --TestState::alive; }

    HRESULT FinalConstruct() noexcept { return TestState::finalConstructResult; }
    void FinalRelease() noexcept { ++TestState::finalReleases; }

    STDMETHODIMP GetValue(LONG* value) noexcept override
    {
        *value = m_value;
        return S_OK;
    }
    STDMETHODIMP SetValue(LONG value) noexcept override
    {
        m_value = value;
        return S_OK;
    }

    LONG m_value = 0;
};
using CPlain = CTestObject<ComMarshal::Standard>;
using CFreeThreaded = CTestObject<ComMarshal::FreeThreaded>;

// Allocation always fails for this class.
class CUnallocatable : public CPlain {
public:
    static void* operator new(std::size_t, const std::nothrow_t&) noexcept { return nullptr; }
    static void operator delete(void*) noexcept {}
};

// A minimal outer object for the aggregated form.
class COuter final : public IUnknown {
public:
    STDMETHODIMP QueryInterface(REFIID iid, void** ppv) noexcept override
    {
        if (iid == IID_IUnknown) {
            *ppv = static_cast<IUnknown*>(this);
            AddRef();
            return S_OK;
        }
        return m_inner->QueryInterface(iid, ppv);
    }
    STDMETHODIMP_(ULONG) AddRef() noexcept override { return ++m_refs; }
    STDMETHODIMP_(ULONG) Release() noexcept override { return --m_refs; }  // lives on the stack
    ULONG m_refs = 1;
    IUnknown* m_inner = nullptr;
};

class ComObjectTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        TestState::finalConstructResult = S_OK;
        TestState::finalReleases = 0;
    }
    void TearDown() override
    {
        EXPECT_EQ(TestState::alive.load(), 0);
        EXPECT_EQ(CCountingLock::count.load(), 0);
    }
};

TEST_F(ComObjectTest, PlainFormAnswersExactlyTheListedInterfaces)
{
    ITestFirst* first = nullptr;
    ASSERT_EQ(CComCreator<CPlain>::CreateInstance(nullptr, IID_ITestFirst, reinterpret_cast<void**>(&first)), S_OK);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(CCountingLock::count.load(), 1);

    ITestSecond* second = nullptr;
    ASSERT_EQ(first->QueryInterface(IID_ITestSecond, reinterpret_cast<void**>(&second)), S_OK);
    second->SetValue(42);
    LONG value = 0;
    first->GetValue(&value);
    EXPECT_EQ(value, 42);

    IUnknown* fromFirst = nullptr;
    IUnknown* fromSecond = nullptr;
    first->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&fromFirst));
    second->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&fromSecond));
    EXPECT_EQ(fromFirst, fromSecond);
    EXPECT_EQ(fromFirst, static_cast<IUnknown*>(first));

    for (const IID* refused : {&IID_ITestUnlisted, &IID_IMarshal, &IID_IDispatch, &IID_ISupportErrorInfo}) {
        void* out = reinterpret_cast<void*>(1);
        EXPECT_EQ(first->QueryInterface(*refused, &out), E_NOINTERFACE);
        EXPECT_EQ(out, nullptr);
    }
    EXPECT_EQ(first->QueryInterface(IID_ITestFirst, nullptr), E_POINTER);

    EXPECT_EQ(fromFirst->Release(), 3u);
    fromSecond->Release();
    second->Release();
    EXPECT_EQ(first->Release(), 0u);
    EXPECT_EQ(TestState::finalReleases, 1);
}

TEST_F(ComObjectTest, FreeThreadedObjectDelegatesIMarshalToItsMarshaler)
{
    IUnknown* object = nullptr;
    ASSERT_EQ(CComCreator<CFreeThreaded>::CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&object)),
              S_OK);
    IMarshal* marshal = nullptr;
    ASSERT_EQ(object->QueryInterface(IID_IMarshal, reinterpret_cast<void**>(&marshal)), S_OK);
    IUnknown* identity = nullptr;
    marshal->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity));
    EXPECT_EQ(identity, object);  // the marshaler is aggregated, not a separate object
    identity->Release();
    EXPECT_EQ(marshal->Release(), 1u);  // its reference was the object's
    EXPECT_EQ(object->Release(), 0u);
}

TEST_F(ComObjectTest, AggregatedFormForwardsToTheOuterUnknown)
{
    COuter outer;
    IUnknown* inner = nullptr;
    ASSERT_EQ(ComClassFactoryCreateInstance<CFreeThreaded>(&outer, IID_IUnknown, reinterpret_cast<void**>(&inner)),
              S_OK);
    outer.m_inner = inner;
    EXPECT_EQ(outer.m_refs, 1u);  // the inner object does not hold its outer
    EXPECT_EQ(CCountingLock::count.load(), 1);

    ITestFirst* first = nullptr;
    ASSERT_EQ(inner->QueryInterface(IID_ITestFirst, reinterpret_cast<void**>(&first)), S_OK);
    EXPECT_EQ(outer.m_refs, 2u);  // the interface's reference is the outer's
    IUnknown* identity = nullptr;
    first->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity));
    EXPECT_EQ(identity, static_cast<IUnknown*>(&outer));
    identity->Release();
    IMarshal* marshal = nullptr;
    ASSERT_EQ(first->QueryInterface(IID_IMarshal, reinterpret_cast<void**>(&marshal)), S_OK);
    EXPECT_EQ(outer.m_refs, 3u);
    marshal->Release();
    first->Release();
    EXPECT_EQ(outer.m_refs, 1u);

    EXPECT_EQ(inner->Release(), 0u);
    EXPECT_EQ(TestState::finalReleases, 1);
}

TEST_F(ComObjectTest, ClassObjectChecksComeBeforeCreation)
{
    COuter outer;
    EXPECT_EQ(ComClassFactoryCreateInstance<CPlain>(nullptr, IID_ITestFirst, nullptr), E_POINTER);
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(ComClassFactoryCreateInstance<CPlain>(&outer, IID_ITestFirst, &out), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(TestState::alive.load(), 0);
}

TEST_F(ComObjectTest, FailedCreationLeavesNothingBehind)
{
    struct Case {
        const char* name;
        HRESULT finalConstruct;
        const IID* iid;
        HRESULT expected;
    } cases[] = {
        {"final construction fails", E_ACCESSDENIED, &IID_ITestFirst, E_ACCESSDENIED},
        {"query fails", S_OK, &IID_ITestUnlisted, E_NOINTERFACE},
    };
    COuter outer;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestState::finalConstructResult = c.finalConstruct;
        for (IUnknown* outerUnknown : {static_cast<IUnknown*>(nullptr), static_cast<IUnknown*>(&outer)}) {
            const IID& iid = outerUnknown == nullptr ? *c.iid : IID_IUnknown;
            if (outerUnknown != nullptr && c.finalConstruct == S_OK) {
                continue;  // the aggregated form answers IID_IUnknown itself
            }
            void* object = reinterpret_cast<void*>(1);
            EXPECT_EQ(CComCreator<CFreeThreaded>::CreateInstance(outerUnknown, iid, &object), c.expected);
            EXPECT_EQ(object, nullptr);
            EXPECT_EQ(TestState::alive.load(), 0);
            EXPECT_EQ(CCountingLock::count.load(), 0);
        }
    }
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(CComCreator<CUnallocatable>::CreateInstance(nullptr, IID_ITestFirst, &object), E_OUTOFMEMORY);
    EXPECT_EQ(object, nullptr);
}

TEST_F(ComObjectTest, CreateAndQueryLetsTheCallerSetFieldsFirst)
{
    ITestFirst* first = nullptr;
    ASSERT_EQ(CComCreator<CPlain>::CreateAndQuery(IID_ITestFirst, reinterpret_cast<void**>(&first),
                                                  [](CPlain& object) { object.m_value = 7; }),
              S_OK);
    LONG value = 0;
    first->GetValue(&value);
    EXPECT_EQ(value, 7);
    EXPECT_EQ(first->Release(), 0u);

    void* none = reinterpret_cast<void*>(1);
    EXPECT_EQ(CComCreator<CPlain>::CreateAndQuery(IID_ITestUnlisted, &none, [](CPlain&) {}), E_NOINTERFACE);
    EXPECT_EQ(none, nullptr);
    EXPECT_THROW(CComCreator<CPlain>::CreateAndQuery(IID_ITestFirst, &none, [](CPlain&) { throw 5; }), int);
    EXPECT_EQ(none, nullptr);

    CComPtr<CComObject<CPlain>> held;
    ASSERT_EQ(CComCreator<CPlain>::Create(held), S_OK);
    held->m_value = 3;
    EXPECT_EQ(held->AddRef(), 2u);
    held->Release();
}

}  // namespace
