#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/com.h"
#include "test_objects.h"

namespace {

TEST(Bstr, LengthsCountCharactersAndBytesIncludingEmbeddedNuls)
{
    const wchar_t text[] = {L'a', L'\0', L'b', L'c'};
    BSTR value = SysAllocStringLen(text, 4);
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(SysStringLen(value), 4u);
    EXPECT_EQ(SysStringByteLen(value), 4u * sizeof(OLECHAR));
    EXPECT_EQ(value[1], L'\0');
    EXPECT_EQ(value[3], L'c');
    EXPECT_EQ(value[4], L'\0');  // always terminated
    SysFreeString(value);

    BSTR plain = SysAllocString(L"hello");
    EXPECT_EQ(SysStringLen(plain), 5u);
    EXPECT_STREQ(plain, L"hello");
    SysFreeString(plain);
}

TEST(Bstr, NullAndEmptyTexts)
{
    EXPECT_EQ(SysStringLen(nullptr), 0u);
    EXPECT_EQ(SysStringByteLen(nullptr), 0u);
    EXPECT_EQ(SysAllocString(nullptr), nullptr);
    SysFreeString(nullptr);

    BSTR empty = SysAllocString(L"");
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(SysStringLen(empty), 0u);
    SysFreeString(empty);

    // A length without a source gives room for that many characters.
    BSTR room = SysAllocStringLen(nullptr, 3);
    ASSERT_NE(room, nullptr);
    EXPECT_EQ(SysStringLen(room), 3u);
    EXPECT_EQ(room[3], L'\0');
    SysFreeString(room);
}

TEST(Bstr, ByteLengthAllocationKeepsOddByteCounts)
{
    BSTR bytes = SysAllocStringByteLen("abc", 3);
    ASSERT_NE(bytes, nullptr);
    EXPECT_EQ(SysStringByteLen(bytes), 3u);
    EXPECT_EQ(SysStringLen(bytes), 3u / sizeof(OLECHAR));
    EXPECT_EQ(std::memcmp(bytes, "abc", 3), 0);
    SysFreeString(bytes);
}

TEST(Bstr, ReallocationMayReadFromTheOldText)
{
    BSTR value = SysAllocString(L"abcdef");
    ASSERT_TRUE(SysReAllocStringLen(&value, value + 2, 3));
    EXPECT_STREQ(value, L"cde");
    ASSERT_TRUE(SysReAllocString(&value, L"xy"));
    EXPECT_EQ(SysStringLen(value), 2u);
    SysFreeString(value);
}

// VARIANT -> VT_BSTR with no flags, as the component converts paths and numbers.
struct TextCase {
    const char* name;
    VARTYPE vt;
    long long value;
    USHORT flags;
    const wchar_t* expected;
};

VARIANT MakeNumber(VARTYPE vt, long long value)
{
    VARIANT v;
    VariantInit(&v);
    v.vt = vt;
    switch (vt) {
    case VT_I1: v.cVal = static_cast<CHAR>(value); break;
    case VT_UI1: v.bVal = static_cast<BYTE>(value); break;
    case VT_I2: v.iVal = static_cast<SHORT>(value); break;
    case VT_UI2: v.uiVal = static_cast<USHORT>(value); break;
    case VT_I4: v.lVal = static_cast<LONG>(value); break;
    case VT_UI4: v.ulVal = static_cast<ULONG>(value); break;
    case VT_INT: v.intVal = static_cast<INT>(value); break;
    case VT_UINT: v.uintVal = static_cast<UINT>(value); break;
    case VT_I8: v.llVal = value; break;
    case VT_UI8: v.ullVal = static_cast<ULONGLONG>(value); break;
    case VT_BOOL: v.boolVal = static_cast<VARIANT_BOOL>(value); break;
    default: break;
    }
    return v;
}

TEST(Variant, ConvertsNumbersAndBooleansToWindowsTexts)
{
    const TextCase cases[] = {
        {"I4 negative", VT_I4, -123456, 0, L"-123456"},
        {"I4 max", VT_I4, 2147483647, 0, L"2147483647"},
        {"UI4 max", VT_UI4, 4294967295LL, 0, L"4294967295"},
        {"I8 large", VT_I8, -9000000000000LL, 0, L"-9000000000000"},
        {"UI8", VT_UI8, 18000000000000LL, 0, L"18000000000000"},
        {"I2", VT_I2, -32768, 0, L"-32768"},
        {"UI2", VT_UI2, 65535, 0, L"65535"},
        {"UI1", VT_UI1, 255, 0, L"255"},
        {"I1", VT_I1, -5, 0, L"-5"},
        {"INT", VT_INT, -7, 0, L"-7"},
        {"UINT", VT_UINT, 7, 0, L"7"},
        {"BOOL true", VT_BOOL, VARIANT_TRUE, 0, L"-1"},
        {"BOOL false", VT_BOOL, VARIANT_FALSE, 0, L"0"},
        {"BOOL true alpha", VT_BOOL, VARIANT_TRUE, VARIANT_ALPHABOOL, L"True"},
        {"BOOL false alpha", VT_BOOL, VARIANT_FALSE, VARIANT_ALPHABOOL, L"False"},
    };
    for (const TextCase& c : cases) {
        SCOPED_TRACE(c.name);
        VARIANT source = MakeNumber(c.vt, c.value);
        VARIANT target;
        VariantInit(&target);
        ASSERT_EQ(VariantChangeType(&target, &source, c.flags, VT_BSTR), S_OK);
        ASSERT_EQ(target.vt, VT_BSTR);
        EXPECT_STREQ(target.bstrVal, c.expected);
        EXPECT_EQ(source.vt, c.vt);  // the source is left alone
        VariantClear(&target);
    }
}

TEST(Variant, ConvertsInPlaceAndFromTextEmptyAndReals)
{
    VARIANT v = MakeNumber(VT_I4, 42);
    ASSERT_EQ(VariantChangeType(&v, &v, 0, VT_BSTR), S_OK);
    EXPECT_EQ(v.vt, VT_BSTR);
    EXPECT_STREQ(v.bstrVal, L"42");
    // Text to text copies, embedded NULs included.
    const wchar_t raw[] = {L'p', L'\0', L'q'};
    VARIANT text;
    VariantInit(&text);
    text.vt = VT_BSTR;
    text.bstrVal = SysAllocStringLen(raw, 3);
    VARIANT copy;
    VariantInit(&copy);
    ASSERT_EQ(VariantChangeType(&copy, &text, 0, VT_BSTR), S_OK);
    EXPECT_EQ(SysStringLen(copy.bstrVal), 3u);
    EXPECT_NE(copy.bstrVal, text.bstrVal);
    VariantClear(&copy);
    VariantClear(&text);
    VariantClear(&v);

    VARIANT empty;
    VariantInit(&empty);
    ASSERT_EQ(VariantChangeType(&copy, &empty, 0, VT_BSTR), S_OK);
    EXPECT_EQ(SysStringLen(copy.bstrVal), 0u);
    VariantClear(&copy);

    VARIANT real;
    VariantInit(&real);
    real.vt = VT_R8;
    real.dblVal = -0.25;
    ASSERT_EQ(VariantChangeType(&copy, &real, 0, VT_BSTR), S_OK);
    EXPECT_STREQ(copy.bstrVal, L"-0.25");
    VariantClear(&copy);
}

TEST(Variant, RefusesConversionsWithoutATextForm)
{
    VARIANT null;
    VariantInit(&null);
    null.vt = VT_NULL;
    VARIANT target;
    VariantInit(&target);
    EXPECT_EQ(VariantChangeType(&target, &null, 0, VT_BSTR), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(target.vt, VT_EMPTY);

    auto* object = new CTestUnknown();
    VARIANT unknown;
    VariantInit(&unknown);
    unknown.vt = VT_UNKNOWN;
    unknown.punkVal = object;
    EXPECT_EQ(VariantChangeType(&target, &unknown, 0, VT_BSTR), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(object->Count(), 1u);
    object->Release();
}

TEST(Variant, ClearReleasesOwnedValuesAndCopyTakesReferences)
{
    std::atomic<int> alive{0};
    auto* object = new CTestUnknown(&alive);
    VARIANT held;
    VariantInit(&held);
    held.vt = VT_UNKNOWN;
    held.punkVal = object;  // takes the creation reference

    VARIANT copy;
    VariantInit(&copy);
    ASSERT_EQ(VariantCopy(&copy, &held), S_OK);
    EXPECT_EQ(copy.punkVal, object);
    EXPECT_EQ(object->Count(), 2u);

    // Copying over a value releases what the target held.
    VARIANT number = MakeNumber(VT_I4, 1);
    ASSERT_EQ(VariantCopy(&copy, &number), S_OK);
    EXPECT_EQ(object->Count(), 1u);
    EXPECT_EQ(copy.vt, VT_I4);

    EXPECT_EQ(VariantClear(&held), S_OK);
    EXPECT_EQ(held.vt, VT_EMPTY);
    EXPECT_EQ(alive.load(), 0);

    VARIANT text;
    VariantInit(&text);
    text.vt = VT_BSTR;
    text.bstrVal = SysAllocString(L"freed by clear");
    EXPECT_EQ(VariantClear(&text), S_OK);
    EXPECT_EQ(text.vt, VT_EMPTY);

    VARIANT bad;
    VariantInit(&bad);
    bad.vt = 0x0FFF;
    EXPECT_EQ(VariantClear(&bad), DISP_E_BADVARTYPE);
}

}  // namespace
