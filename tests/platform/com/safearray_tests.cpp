#include <gtest/gtest.h>

#include <cstring>

#include "platform/com.h"
#include "test_objects.h"

namespace {

TEST(SafeArray, VectorDescribesItselfLikeWindows)
{
    struct Case {
        VARTYPE vt;
        ULONG elementSize;
        USHORT features;  // documented bits only
    } cases[] = {
        {VT_UI1, 1, FADF_HAVEVARTYPE},
        {VT_I4, 4, FADF_HAVEVARTYPE},
        {VT_VARIANT, sizeof(VARIANT), FADF_HAVEVARTYPE | FADF_VARIANT},
        {VT_BSTR, sizeof(BSTR), FADF_HAVEVARTYPE | FADF_BSTR},
        {VT_UNKNOWN, sizeof(IUnknown*), FADF_HAVEIID | FADF_UNKNOWN},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.vt);
        SAFEARRAY* psa = SafeArrayCreateVector(c.vt, 0, 3);
        ASSERT_NE(psa, nullptr);
        EXPECT_EQ(SafeArrayGetDim(psa), 1u);
        EXPECT_EQ(SafeArrayGetElemsize(psa), c.elementSize);
        EXPECT_EQ(psa->fFeatures & 0x0FFF, c.features);
        EXPECT_EQ(psa->cLocks, 0u);
        VARTYPE vt = VT_EMPTY;
        EXPECT_EQ(SafeArrayGetVartype(psa, &vt), S_OK);
        EXPECT_EQ(vt, c.vt);
        LONG lower = -1;
        LONG upper = -1;
        EXPECT_EQ(SafeArrayGetLBound(psa, 1, &lower), S_OK);
        EXPECT_EQ(SafeArrayGetUBound(psa, 1, &upper), S_OK);
        EXPECT_EQ(lower, 0);
        EXPECT_EQ(upper, 2);
        EXPECT_EQ(SafeArrayGetLBound(psa, 2, &lower), DISP_E_BADINDEX);
        EXPECT_EQ(SafeArrayDestroy(psa), S_OK);
    }
}

TEST(SafeArray, EmptyVectorHasUpperBoundBelowLowerBound)
{
    SAFEARRAY* psa = SafeArrayCreateVector(VT_VARIANT, 0, 0);
    ASSERT_NE(psa, nullptr);
    LONG upper = 0;
    EXPECT_EQ(SafeArrayGetUBound(psa, 1, &upper), S_OK);
    EXPECT_EQ(upper, -1);
    EXPECT_EQ(SafeArrayDestroy(psa), S_OK);
}

TEST(SafeArray, LockedArrayCannotBeDestroyedOrResized)
{
    SAFEARRAY* psa = SafeArrayCreateVector(VT_UI1, 0, 4);
    ASSERT_NE(psa, nullptr);
    void* data = nullptr;
    ASSERT_EQ(SafeArrayAccessData(psa, &data), S_OK);
    EXPECT_EQ(data, psa->pvData);
    EXPECT_EQ(psa->cLocks, 1u);
    SAFEARRAYBOUND bound{8, 0};
    EXPECT_EQ(SafeArrayRedim(psa, &bound), DISP_E_ARRAYISLOCKED);
    EXPECT_EQ(SafeArrayDestroy(psa), DISP_E_ARRAYISLOCKED);
    EXPECT_EQ(SafeArrayUnaccessData(psa), S_OK);
    EXPECT_EQ(SafeArrayUnlock(psa), E_UNEXPECTED);  // not locked any more
    EXPECT_EQ(SafeArrayDestroy(psa), S_OK);
    EXPECT_EQ(SafeArrayDestroy(nullptr), S_OK);
}

TEST(SafeArray, BytesSurviveGrowthAndNewElementsAreZero)
{
    SAFEARRAY* psa = SafeArrayCreateVector(VT_UI1, 0, 3);
    ASSERT_NE(psa, nullptr);
    for (LONG i = 0; i < 3; ++i) {
        BYTE value = static_cast<BYTE>(0xA0 + i);
        ASSERT_EQ(SafeArrayPutElement(psa, &i, &value), S_OK);
    }
    SAFEARRAYBOUND bound{6, 0};
    ASSERT_EQ(SafeArrayRedim(psa, &bound), S_OK);
    LONG upper = 0;
    SafeArrayGetUBound(psa, 1, &upper);
    EXPECT_EQ(upper, 5);
    const BYTE expected[] = {0xA0, 0xA1, 0xA2, 0, 0, 0};
    for (LONG i = 0; i < 6; ++i) {
        BYTE value = 0xFF;
        ASSERT_EQ(SafeArrayGetElement(psa, &i, &value), S_OK);
        EXPECT_EQ(value, expected[i]) << i;
    }
    LONG outside = 6;
    BYTE value = 0;
    EXPECT_EQ(SafeArrayGetElement(psa, &outside, &value), DISP_E_BADINDEX);
    outside = -1;
    EXPECT_EQ(SafeArrayPutElement(psa, &outside, &value), DISP_E_BADINDEX);
    EXPECT_EQ(SafeArrayDestroy(psa), S_OK);
}

TEST(SafeArray, InterfaceElementsAreCountedOnPutGetShrinkAndDestroy)
{
    std::atomic<int> alive{0};
    auto* first = new CTestUnknown(&alive);
    auto* second = new CTestUnknown(&alive);
    SAFEARRAY* psa = SafeArrayCreateVector(VT_UNKNOWN, 0, 2);
    ASSERT_NE(psa, nullptr);
    LONG index = 0;
    ASSERT_EQ(SafeArrayPutElement(psa, &index, static_cast<IUnknown*>(first)), S_OK);
    index = 1;
    ASSERT_EQ(SafeArrayPutElement(psa, &index, static_cast<IUnknown*>(second)), S_OK);
    EXPECT_EQ(first->Count(), 2u);
    EXPECT_EQ(second->Count(), 2u);

    IUnknown* got = nullptr;
    index = 0;
    ASSERT_EQ(SafeArrayGetElement(psa, &index, &got), S_OK);
    EXPECT_EQ(got, static_cast<IUnknown*>(first));
    EXPECT_EQ(first->Count(), 3u);
    got->Release();

    // Replacing an element releases the old one.
    index = 0;
    ASSERT_EQ(SafeArrayPutElement(psa, &index, static_cast<IUnknown*>(second)), S_OK);
    EXPECT_EQ(first->Count(), 1u);
    EXPECT_EQ(second->Count(), 3u);

    // Shrinking releases the dropped element.
    SAFEARRAYBOUND bound{1, 0};
    ASSERT_EQ(SafeArrayRedim(psa, &bound), S_OK);
    EXPECT_EQ(second->Count(), 2u);

    first->Release();
    second->Release();
    EXPECT_EQ(alive.load(), 1);  // still held by the array
    EXPECT_EQ(SafeArrayDestroy(psa), S_OK);
    EXPECT_EQ(alive.load(), 0);
}

TEST(SafeArray, VariantElementsAreDeepCopies)
{
    SAFEARRAY* psa = SafeArrayCreateVector(VT_VARIANT, 0, 1);
    ASSERT_NE(psa, nullptr);
    VARIANT text;
    VariantInit(&text);
    text.vt = VT_BSTR;
    text.bstrVal = SysAllocString(L"element");
    LONG index = 0;
    ASSERT_EQ(SafeArrayPutElement(psa, &index, &text), S_OK);
    VariantClear(&text);  // the array kept its own copy

    VARIANT got;
    got.vt = VT_I4;  // garbage in the out-value is not cleared
    ASSERT_EQ(SafeArrayGetElement(psa, &index, &got), S_OK);
    ASSERT_EQ(got.vt, VT_BSTR);
    EXPECT_STREQ(got.bstrVal, L"element");
    auto* stored = static_cast<VARIANT*>(psa->pvData);
    EXPECT_NE(got.bstrVal, stored->bstrVal);
    VariantClear(&got);

    // A VARIANT holding an interface AddRefs it inside the array.
    std::atomic<int> alive{0};
    auto* object = new CTestUnknown(&alive);
    VARIANT holder;
    VariantInit(&holder);
    holder.vt = VT_UNKNOWN;
    holder.punkVal = object;
    ASSERT_EQ(SafeArrayPutElement(psa, &index, &holder), S_OK);
    EXPECT_EQ(object->Count(), 2u);
    VariantClear(&holder);
    EXPECT_EQ(alive.load(), 1);
    EXPECT_EQ(SafeArrayDestroy(psa), S_OK);
    EXPECT_EQ(alive.load(), 0);
}

TEST(SafeArray, CopyDuplicatesOwnedElements)
{
    SAFEARRAY* psa = SafeArrayCreateVector(VT_BSTR, 5, 2);
    ASSERT_NE(psa, nullptr);
    LONG index = 5;
    BSTR text = SysAllocString(L"five");
    ASSERT_EQ(SafeArrayPutElement(psa, &index, text), S_OK);
    SysFreeString(text);
    SAFEARRAY* copy = nullptr;
    ASSERT_EQ(SafeArrayCopy(psa, &copy), S_OK);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(SafeArrayDestroy(psa), S_OK);
    BSTR got = nullptr;
    ASSERT_EQ(SafeArrayGetElement(copy, &index, &got), S_OK);
    EXPECT_STREQ(got, L"five");
    SysFreeString(got);
    LONG lower = 0;
    SafeArrayGetLBound(copy, 1, &lower);
    EXPECT_EQ(lower, 5);
    EXPECT_EQ(SafeArrayDestroy(copy), S_OK);
}

TEST(SafeArray, TwoDimensionsUseTheFirstIndexFastest)
{
    SAFEARRAYBOUND bounds[2] = {{2, 0}, {3, 10}};  // [0..1][10..12]
    SAFEARRAY* psa = SafeArrayCreate(VT_I4, 2, bounds);
    ASSERT_NE(psa, nullptr);
    LONG lower = 0;
    SafeArrayGetLBound(psa, 2, &lower);
    EXPECT_EQ(lower, 10);
    LONG indices[2] = {1, 11};
    LONG value = 77;
    ASSERT_EQ(SafeArrayPutElement(psa, indices, &value), S_OK);
    EXPECT_EQ(static_cast<LONG*>(psa->pvData)[1 + 2 * 1], 77);
    EXPECT_EQ(SafeArrayDestroy(psa), S_OK);
}

}  // namespace
