#include "vsktest/WideText.h"

#include <gtest/gtest.h>

namespace {

using namespace vsktest;

TEST(WideText, Utf8RoundTripsAcrossAllEncodingLengths)
{
    const std::wstring text = L"A\u00e9\u6771\U0001F600z";
    const std::string utf8 = ToUtf8(text);
    EXPECT_EQ(utf8, "A\xC3\xA9\xE6\x9D\xB1\xF0\x9F\x98\x80z");
    EXPECT_EQ(FromUtf8(utf8), text);
    EXPECT_EQ(WideFromPath(PathFromWide(text)), text);
}

TEST(WideText, BrokenInputBecomesReplacementCharacters)
{
    EXPECT_EQ(FromUtf8("a\xC3"), L"a\uFFFD");
    EXPECT_EQ(FromUtf8("\xE6\x9D" "b"), L"\uFFFD\uFFFDb");
    EXPECT_EQ(FromUtf8("\xFF"), L"\uFFFD");
}

}  // namespace
