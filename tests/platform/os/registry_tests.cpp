#include <gtest/gtest.h>

#include <algorithm>

#include "os_test_support.h"
#include "platform/process.h"
#include "platform/registry.h"

using namespace vsk_os_test;
using platform::ERegistryRoot;

namespace {

// Points the Linux store at a private file (the Windows build ignores the
// variable) and gives each test its own key under HKCU\Software.
class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_hadFile = platform::GetEnvironment(L"VSK_REGISTRY_FILE", m_savedFile);
        platform::SetEnvironment(L"VSK_REGISTRY_FILE", m_dir.File(L"registry.txt").c_str());
        m_base = L"Software\\" + UniqueName(L"VskRegistryTest");
    }
    void TearDown() override
    {
        platform::RegistryDeleteTree(ERegistryRoot::CURRENT_USER, m_base);
        platform::SetEnvironment(L"VSK_REGISTRY_FILE", m_hadFile ? m_savedFile.c_str() : nullptr);
    }

    CTempDir m_dir;
    std::wstring m_base;
    std::wstring m_savedFile;
    bool m_hadFile = false;
};

}  // namespace

TEST_F(RegistryTest, ValuesRoundTripAndNamesIgnoreCase)
{
    const ERegistryRoot root = ERegistryRoot::CURRENT_USER;
    const std::wstring key = m_base + L"\\CLSID\\{6D87181D-31B4-449C-ACED-34A0D1E449EB}";
    EXPECT_FALSE(platform::RegistryKeyExists(root, key));
    ASSERT_TRUE(platform::RegistrySetString(root, key, nullptr, L"Default text"));
    ASSERT_TRUE(platform::RegistrySetString(root, key + L"\\InprocServer32", L"ThreadingModel", L"Both"));
    ASSERT_TRUE(platform::RegistrySetString(root, key, L"Quoted", L"a \"b\" \\ c\r\nnext\ttab \x00E9\x4E2D"));
    EXPECT_TRUE(platform::RegistryKeyExists(root, key));
    EXPECT_TRUE(platform::RegistryKeyExists(root, m_base + L"\\clsid"));  // parents made, any case

    std::wstring value;
    EXPECT_TRUE(platform::RegistryGetString(root, key, L"", value));
    EXPECT_EQ(value, L"Default text");
    EXPECT_TRUE(platform::RegistryGetString(root, key + L"\\INPROCSERVER32", L"threadingmodel", value));
    EXPECT_EQ(value, L"Both");
    EXPECT_TRUE(platform::RegistryGetString(root, key, L"Quoted", value));
    EXPECT_EQ(value, L"a \"b\" \\ c\r\nnext\ttab \x00E9\x4E2D");
    EXPECT_FALSE(platform::RegistryGetString(root, key, L"Missing", value));
    EXPECT_TRUE(value.empty());

    ASSERT_TRUE(platform::RegistrySetString(root, key, L"QUOTED", L"replaced"));
    EXPECT_TRUE(platform::RegistryGetString(root, key, L"Quoted", value));
    EXPECT_EQ(value, L"replaced");
    EXPECT_TRUE(platform::RegistryDeleteValue(root, key, L"quoted"));
    EXPECT_FALSE(platform::RegistryGetString(root, key, L"Quoted", value));
    EXPECT_FALSE(platform::RegistryDeleteValue(root, key, L"quoted"));
}

TEST_F(RegistryTest, SubKeysAndDeletion)
{
    const ERegistryRoot root = ERegistryRoot::CURRENT_USER;
    ASSERT_TRUE(platform::RegistryCreateKey(root, m_base + L"\\Parent\\Alpha"));
    ASSERT_TRUE(platform::RegistryCreateKey(root, m_base + L"\\Parent\\Beta\\Deep"));
    ASSERT_TRUE(platform::RegistryCreateKey(root, m_base + L"\\ParentSibling"));
    std::vector<std::wstring> names = platform::RegistrySubKeys(root, m_base + L"\\Parent");
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::wstring> {L"Alpha", L"Beta"}));
    EXPECT_TRUE(platform::RegistrySubKeys(root, m_base + L"\\Missing").empty());

    EXPECT_FALSE(platform::RegistryDeleteKey(root, m_base + L"\\Parent"));  // has subkeys
    EXPECT_TRUE(platform::RegistryDeleteKey(root, m_base + L"\\Parent\\Alpha"));
    EXPECT_FALSE(platform::RegistryKeyExists(root, m_base + L"\\Parent\\Alpha"));
    EXPECT_TRUE(platform::RegistryDeleteTree(root, m_base + L"\\PARENT"));
    EXPECT_FALSE(platform::RegistryKeyExists(root, m_base + L"\\Parent\\Beta\\Deep"));
    EXPECT_FALSE(platform::RegistryKeyExists(root, m_base + L"\\Parent"));
    EXPECT_TRUE(platform::RegistryKeyExists(root, m_base + L"\\ParentSibling"));
    EXPECT_FALSE(platform::RegistryDeleteTree(root, m_base + L"\\Parent"));
    EXPECT_FALSE(platform::RegistryDeleteKey(root, m_base + L"\\Parent"));
}

TEST_F(RegistryTest, ClassesRootIsSeparateFromCurrentUser)
{
    const std::wstring key = m_base + L"\\Only";
    ASSERT_TRUE(platform::RegistrySetString(ERegistryRoot::CURRENT_USER, key, L"v", L"user"));
    std::wstring value;
    EXPECT_FALSE(platform::RegistryGetString(ERegistryRoot::CLASSES_ROOT, key, L"v", value));
    const std::wstring classKey = UniqueName(L"VskRegistryTest.Class");
    ASSERT_TRUE(platform::RegistrySetString(ERegistryRoot::CLASSES_ROOT, classKey, nullptr, L"class"));
    EXPECT_TRUE(platform::RegistryGetString(ERegistryRoot::CLASSES_ROOT, classKey, nullptr, value));
    EXPECT_EQ(value, L"class");
    EXPECT_TRUE(platform::RegistryDeleteTree(ERegistryRoot::CLASSES_ROOT, classKey));
    EXPECT_FALSE(platform::RegistryKeyExists(ERegistryRoot::CLASSES_ROOT, classKey));
}
