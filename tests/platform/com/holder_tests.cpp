#include <gtest/gtest.h>

#include "platform/com_holders.h"
#include "test_objects.h"

namespace {

TEST(CComPtrHolder, CountsReferencesAndEmptiesBeforeAnOutParameter)
{
    std::atomic<int> alive{0};
    auto* raw = new CTestUnknown(&alive);
    {
        CComPtr<IClassFactory> first;
        first.Attach(raw);
        CComPtr<IClassFactory> second = first;
        EXPECT_EQ(raw->Count(), 2u);
        CComPtr<IClassFactory> moved = std::move(second);
        EXPECT_EQ(second.p, nullptr);
        EXPECT_EQ(raw->Count(), 2u);

        CComPtr<IUnknown> unknown;
        ASSERT_EQ(first.QueryInterface(IID_IUnknown, &unknown.p), S_OK);
        EXPECT_EQ(raw->Count(), 3u);
        // Reusing a holder as an out-parameter releases what it held.
        IUnknown** out = &unknown;
        EXPECT_EQ(*out, nullptr);
        EXPECT_EQ(raw->Count(), 2u);

        IClassFactory* detached = moved.Detach();
        EXPECT_EQ(moved.p, nullptr);
        detached->Release();
    }
    EXPECT_EQ(alive.load(), 0);
}

TEST(CComBSTRHolder, OwnsCopiesAndKeepsEmbeddedNuls)
{
    const std::wstring text(L"a\0b", 3);
    CComBSTR value(text);
    EXPECT_EQ(value.Length(), 3u);
    CComBSTR copy = value;
    EXPECT_NE(copy.m_str, value.m_str);
    EXPECT_EQ(copy.View(), text);
    CComBSTR null(static_cast<const wchar_t*>(nullptr));
    EXPECT_EQ(null.m_str, nullptr);
    EXPECT_EQ(null.Length(), 0u);
    BSTR* out = &copy;  // emptied for reuse
    EXPECT_EQ(*out, nullptr);
    *out = SysAllocString(L"filled");
    EXPECT_EQ(copy.View(), L"filled");
    BSTR owned = copy.Detach();
    EXPECT_EQ(copy.m_str, nullptr);
    SysFreeString(owned);
}

TEST(CComVariantHolder, ConstructsTypedValuesAndRaisesFailedConversions)
{
    EXPECT_EQ(CComVariant(true).vt, VT_BOOL);
    EXPECT_EQ(CComVariant(true).boolVal, VARIANT_TRUE);
    EXPECT_EQ(CComVariant(7).vt, VT_I4);
    EXPECT_EQ(CComVariant(7LL).vt, VT_I8);
    EXPECT_EQ(CComVariant(L"text").vt, VT_BSTR);

    CComVariant number(-12);
    number.ChangeType(VT_BSTR);
    EXPECT_STREQ(number.bstrVal, L"-12");

    CComVariant null;
    null.vt = VT_NULL;
    try {
        null.ChangeType(VT_BSTR);
        FAIL() << "did not raise";
    } catch (const CAtlException& e) {
        EXPECT_EQ(static_cast<HRESULT>(e), DISP_E_TYPEMISMATCH);
        EXPECT_EQ(e.m_hr, DISP_E_TYPEMISMATCH);
    }

    std::atomic<int> alive{0};
    auto* raw = new CTestUnknown(&alive);
    {
        CComVariant holder(static_cast<IUnknown*>(raw));
        EXPECT_EQ(holder.vt, VT_UNKNOWN);
        EXPECT_EQ(raw->Count(), 2u);
        CComVariant copy = holder;
        EXPECT_EQ(raw->Count(), 3u);
        VARIANT out;
        copy.Detach(&out);
        EXPECT_EQ(copy.vt, VT_EMPTY);
        VariantClear(&out);
        raw->Release();
    }
    EXPECT_EQ(alive.load(), 0);
}

TEST(CComSafeArrayHolder, GrowsByAddAndHandsOutAnUnlockedArray)
{
    CComSafeArray<VARIANT> list;
    list.Create();
    EXPECT_EQ(list.GetCount(), 0u);
    list.Add(CComVariant(L"one"));
    list.Add(CComVariant(2));
    ASSERT_EQ(list.GetCount(), 2u);
    EXPECT_STREQ(list.GetAt(0).bstrVal, L"one");
    EXPECT_EQ(list.GetAt(1).lVal, 2);
    EXPECT_THROW(list.GetAt(2), CAtlException);

    SAFEARRAY* psa = list.Detach();
    ASSERT_NE(psa, nullptr);
    EXPECT_EQ(list.m_psa, nullptr);
    EXPECT_EQ(psa->cLocks, 0u);
    LONG upper = 0;
    SafeArrayGetUBound(psa, 1, &upper);
    EXPECT_EQ(upper, 1);

    CComSafeArray<VARIANT> again;
    again.Attach(psa);  // destroyed with the holder
    EXPECT_EQ(again.GetCount(), 2u);

    CComSafeArray<BYTE> bytes(4);
    bytes.GetAt(3) = 0x47;
    bytes.Add(0x10);
    EXPECT_EQ(bytes.GetCount(), 5u);
    EXPECT_EQ(bytes.GetAt(3), 0x47);
    EXPECT_EQ(bytes.GetAt(4), 0x10);

    SAFEARRAY* wrongType = SafeArrayCreateVector(VT_I4, 0, 1);
    EXPECT_THROW(bytes.Attach(wrongType), CAtlException);
    SafeArrayDestroy(wrongType);
}

}  // namespace
