// Registry scripts: parsing, replacements and the three removal rules, run
// against the platform registry under a private key of the current user.
#include "frame/CRegistrar.h"

#include "platform/process.h"
#include "platform/registry.h"
#include "vsktest/RegistryRefusal.h"
#include "vsktest/TempDir.h"
#include "vsktest/WideText.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

using platform::ERegistryRoot;
constexpr ERegistryRoot HKCU = ERegistryRoot::CURRENT_USER;
constexpr wchar_t BASE[] = L"Software\\VskRegistrarTest";

class Registrar : public ::testing::Test {
protected:
    void SetUp() override
    {
        // The Linux registry is a file; give the test one of its own.
        m_file = m_dir / "registry";
        platform::SetEnvironment(L"VSK_REGISTRY_FILE", vsktest::WideFromPath(m_file).c_str());
        platform::RegistryDeleteTree(HKCU, BASE);
        m_registrar.AddReplacement(L"APPID", L"{0F0B5B96-D3EB-43A3-83DA-04B042F0D8AA}");
        m_registrar.AddReplacement(L"MODULE", L"C:\\Program Files\\x\\VskMpeg2TsTranscoder.dll");
    }
    void TearDown() override { platform::RegistryDeleteTree(HKCU, BASE); }

    static std::wstring Key(const std::wstring& rest = L"") { return rest.empty() ? BASE : std::wstring(BASE) + L"\\" + rest; }
    static std::wstring Value(const std::wstring& key, const wchar_t* name = nullptr)
    {
        std::wstring value;
        return platform::RegistryGetString(HKCU, Key(key), name, value) ? value : L"<missing>";
    }
    static bool Exists(const std::wstring& key) { return platform::RegistryKeyExists(HKCU, Key(key)); }

    static std::wstring Script(const std::wstring& body)
    {
        return L"HKCU\r\n{\r\n\tNoRemove Software\r\n\t{\r\n\t\tNoRemove VskRegistrarTest\r\n\t\t{\r\n" + body +
               L"\t\t}\r\n\t}\r\n}\r\n";
    }

    vsktest::CTempDir m_dir;
    std::filesystem::path m_file;
    frame::CRegistrar m_registrar;
};

TEST_F(Registrar, WritesKeysValuesAndReplacements)
{
    const std::wstring script = Script(
        L"\t\t\tKeyA = s 'Text with ''quotes'' and 100%%'\r\n"
        L"\t\t\t{\r\n"
        L"\t\t\t\tval Named = s '%APPID%'\r\n"
        L"\t\t\t\tInproc = s '%MODULE%'\r\n"
        L"\t\t\t\t{\r\n"
        L"\t\t\t\t\tval ThreadingModel = s 'Both'\r\n"
        L"\t\t\t\t}\r\n"
        L"\t\t\t\t'Quoted Name' = s '{7EB53858-2080-4388-9A40-1BE597C60EB9}'\r\n"
        L"\t\t\t}\r\n"
        L"\t\t\tForceRemove {6D87181D-31B4-449C-ACED-34A0D1E449EB} = s 'braced'\r\n");
    ASSERT_EQ(m_registrar.Run(script, true), S_OK);
    EXPECT_EQ(Value(L"KeyA"), L"Text with 'quotes' and 100%");
    EXPECT_EQ(Value(L"KeyA", L"Named"), L"{0F0B5B96-D3EB-43A3-83DA-04B042F0D8AA}");
    EXPECT_EQ(Value(L"KeyA\\Inproc"), L"C:\\Program Files\\x\\VskMpeg2TsTranscoder.dll");
    EXPECT_EQ(Value(L"KeyA\\Inproc", L"ThreadingModel"), L"Both");
    EXPECT_EQ(Value(L"KeyA\\Quoted Name"), L"{7EB53858-2080-4388-9A40-1BE597C60EB9}");
    EXPECT_EQ(Value(L"{6D87181D-31B4-449C-ACED-34A0D1E449EB}"), L"braced");

    ASSERT_EQ(m_registrar.Run(script, false), S_OK);
    EXPECT_FALSE(Exists(L"KeyA"));
    EXPECT_FALSE(Exists(L"{6D87181D-31B4-449C-ACED-34A0D1E449EB}"));
    EXPECT_TRUE(Exists(L""));  // NoRemove
}

TEST_F(Registrar, RemovalRules)
{
    // A key the script does not know, below a normal and below a replaced key.
    ASSERT_TRUE(platform::RegistryCreateKey(HKCU, Key(L"Normal\\Foreign")));
    ASSERT_TRUE(platform::RegistryCreateKey(HKCU, Key(L"Replaced\\Stale")));
    const std::wstring script = Script(
        L"\t\t\tNormal = s 'n'\r\n"
        L"\t\t\t{\r\n\t\t\t\tChild = s 'c'\r\n\t\t\t}\r\n"
        L"\t\t\tForceRemove Replaced = s 'r'\r\n"
        L"\t\t\t{\r\n\t\t\t\tChild = s 'c'\r\n\t\t\t}\r\n"
        L"\t\t\tNoRemove Kept\r\n"
        L"\t\t\t{\r\n\t\t\t\tChild = s 'c'\r\n\t\t\t\tval V = s 'v'\r\n\t\t\t}\r\n");
    ASSERT_EQ(m_registrar.Run(script, true), S_OK);
    // ForceRemove wipes the old subtree before writing.
    EXPECT_FALSE(Exists(L"Replaced\\Stale"));
    EXPECT_TRUE(Exists(L"Replaced\\Child"));
    EXPECT_TRUE(Exists(L"Normal\\Foreign"));
    ASSERT_TRUE(platform::RegistryCreateKey(HKCU, Key(L"Replaced\\Later")));

    ASSERT_EQ(m_registrar.Run(script, false), S_OK);
    // A normal key still holding someone else's subkey stays; its own child goes.
    EXPECT_TRUE(Exists(L"Normal\\Foreign"));
    EXPECT_FALSE(Exists(L"Normal\\Child"));
    // A replaced key goes with everything below it.
    EXPECT_FALSE(Exists(L"Replaced"));
    // A kept key stays, without what the script put there.
    EXPECT_TRUE(Exists(L"Kept"));
    EXPECT_FALSE(Exists(L"Kept\\Child"));
    EXPECT_EQ(Value(L"Kept", L"V"), L"<missing>");
}

TEST_F(Registrar, UndoingTwiceAndSharedKeysAreNoFailure)
{
    const std::wstring first = Script(L"\t\t\tShared = s 'first'\r\n\t\t\t{\r\n\t\t\t\tCLSID = s '1'\r\n\t\t\t}\r\n");
    const std::wstring second = Script(L"\t\t\tShared = s 'second'\r\n\t\t\t{\r\n\t\t\t\tCLSID = s '2'\r\n\t\t\t}\r\n");
    ASSERT_EQ(m_registrar.Run(first, true), S_OK);
    ASSERT_EQ(m_registrar.Run(second, true), S_OK);
    // The later script's text wins.
    EXPECT_EQ(Value(L"Shared"), L"second");
    EXPECT_EQ(Value(L"Shared\\CLSID"), L"2");
    EXPECT_EQ(m_registrar.Run(first, false), S_OK);
    EXPECT_FALSE(Exists(L"Shared"));
    // The second removal finds nothing: still a success.
    EXPECT_EQ(m_registrar.Run(second, false), S_OK);
    EXPECT_EQ(m_registrar.Run(second, false), S_OK);
}

TEST_F(Registrar, BadScriptsChangeNothing)
{
    const std::wstring bad[] = {
        Script(L"\t\t\tKey = s 'unterminated\r\n"),
        Script(L"\t\t\tKey = s '%NOSUCH%'\r\n"),
        Script(L"\t\t\tKey = d '5'\r\n"),
        Script(L"\t\t\tKey = s 'x'\r\n\t\t\t{\r\n"),  // missing brace
        L"HKLM\r\n{\r\n}\r\n",                           // a root this registrar does not write
        Script(L"\t\t\tval = s 'x'\r\n"),
    };
    for (const std::wstring& script : bad) {
        EXPECT_EQ(m_registrar.Run(script, true), E_FAIL) << vsktest::ToUtf8(script);
        EXPECT_FALSE(Exists(L"Key"));
    }
    // Replacement names are matched without regard to case; "%%" is a percent sign.
    ASSERT_EQ(m_registrar.Run(Script(L"\t\t\tKey = s '%appid%%%'\r\n"), true), S_OK);
    EXPECT_EQ(Value(L"Key"), L"{0F0B5B96-D3EB-43A3-83DA-04B042F0D8AA}%");
}

// A refused change reports its system error, so an installer without the
// right to write sees why (0x80070005 rather than E_FAIL).
TEST_F(Registrar, RefusedChangesReportTheirSystemError)
{
    const vsktest::CRegistryRefusal refusal;
    const HRESULT expected = HRESULT_FROM_WIN32(refusal.Error());
    ASSERT_NE(expected, E_FAIL);
    const std::wstring refused = refusal.KeyName();
    EXPECT_EQ(m_registrar.Run(Script(L"\t\t\t" + refused + L"\r\n"), true), expected);
    EXPECT_EQ(m_registrar.Run(Script(L"\t\t\tKey = s 'x'\r\n\t\t\t{\r\n\t\t\t\tval Named = s 'x'\r\n\t\t\t\t" +
                                     refused + L"\r\n\t\t\t}\r\n"),
                              true),
              expected);
}

}  // namespace
