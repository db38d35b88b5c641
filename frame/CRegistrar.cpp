#include "frame/CRegistrar.h"

#include "frame/TextCompare.h"
#include "platform/registry.h"

#include <memory>
#include <optional>

namespace frame {
namespace {


enum class ERemoval { NORMAL, KEEP, REPLACE };

struct SKey;

// One entry inside a key's braces, in script order: a subkey or a named value.
struct SItem {
    std::unique_ptr<SKey> key;
    std::wstring valueName;
    std::wstring valueData;
};

struct SKey {
    std::wstring name;
    ERemoval removal = ERemoval::NORMAL;
    std::optional<std::wstring> defaultValue;
    std::vector<SItem> items;
};

struct SRoot {
    platform::ERegistryRoot root;
    std::vector<SKey> keys;
};

class CParser {
public:
    CParser(std::wstring_view text, const std::vector<std::pair<std::wstring, std::wstring>>& replacements)
        : m_text(text), m_replacements(replacements)
    {
    }

    bool Parse(std::vector<SRoot>& roots)
    {
        std::wstring token;
        bool quoted = false;
        while (Next(token, quoted)) {
            SRoot root{};
            if (!RootFromName(token, root.root) || !Expect(L"{"))
                return false;
            if (!ParseKeys(root.keys))
                return false;
            roots.push_back(std::move(root));
        }
        return m_ok;
    }

private:
    static bool IsSpace(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n'; }

    // Reads the next token: "{", "}", "=", a quoted string (quoted = true) or a
    // bare word. A brace counts as a token only when it stands alone, so key
    // names such as {6D87...} are words.
    bool Next(std::wstring& token, bool& quoted)
    {
        token.clear();
        quoted = false;
        while (m_pos < m_text.size() && IsSpace(m_text[m_pos]))
            ++m_pos;
        if (m_pos >= m_text.size())
            return false;
        const wchar_t c = m_text[m_pos];
        const bool alone = m_pos + 1 >= m_text.size() || IsSpace(m_text[m_pos + 1]);
        if ((c == L'{' || c == L'}') && alone) {
            token.assign(1, c);
            ++m_pos;
            return true;
        }
        if (c == L'=') {
            token = L"=";
            ++m_pos;
            return true;
        }
        if (c == L'\'') {
            quoted = true;
            ++m_pos;
            std::wstring raw;
            for (;;) {
                if (m_pos >= m_text.size()) {
                    m_ok = false;  // unterminated string
                    return false;
                }
                if (m_text[m_pos] == L'\'') {
                    if (m_pos + 1 < m_text.size() && m_text[m_pos + 1] == L'\'') {
                        raw += L'\'';
                        m_pos += 2;
                        continue;
                    }
                    ++m_pos;
                    break;
                }
                raw += m_text[m_pos++];
            }
            return Replace(raw, token);
        }
        std::wstring raw;
        while (m_pos < m_text.size() && !IsSpace(m_text[m_pos]) && m_text[m_pos] != L'=')
            raw += m_text[m_pos++];
        return Replace(raw, token);
    }

    bool Replace(const std::wstring& raw, std::wstring& out)
    {
        out.clear();
        for (size_t i = 0; i < raw.size(); ++i) {
            if (raw[i] != L'%') {
                out += raw[i];
                continue;
            }
            const size_t end = raw.find(L'%', i + 1);
            if (end == std::wstring::npos) {
                m_ok = false;
                return false;
            }
            const std::wstring_view name(raw.data() + i + 1, end - i - 1);
            if (name.empty()) {
                out += L'%';
            } else {
                const std::wstring* value = nullptr;
                for (const auto& r : m_replacements) {
                    if (EqualsNoCase(r.first, name))
                        value = &r.second;
                }
                if (value == nullptr) {
                    m_ok = false;
                    return false;
                }
                out += *value;
            }
            i = end;
        }
        return true;
    }

    bool Expect(const wchar_t* what)
    {
        std::wstring token;
        bool quoted = false;
        if (!Next(token, quoted) || quoted || token != what) {
            m_ok = false;
            return false;
        }
        return true;
    }

    static bool RootFromName(const std::wstring& name, platform::ERegistryRoot& root)
    {
        if (EqualsNoCase(name, L"HKCR") || EqualsNoCase(name, L"HKEY_CLASSES_ROOT")) {
            root = platform::ERegistryRoot::CLASSES_ROOT;
            return true;
        }
        if (EqualsNoCase(name, L"HKCU") || EqualsNoCase(name, L"HKEY_CURRENT_USER")) {
            root = platform::ERegistryRoot::CURRENT_USER;
            return true;
        }
        return false;
    }

    // "= s 'text'" after a key or value name.
    bool ParseStringAssignment(std::wstring& value)
    {
        std::wstring token;
        bool quoted = false;
        if (!Next(token, quoted) || quoted || !EqualsNoCase(token, L"s"))
            return false;
        if (!Next(token, quoted) || !quoted)
            return false;
        value = token;
        return true;
    }

    // Reads keys and values up to and including the closing brace.
    bool ParseItems(std::vector<SItem>* items, std::vector<SKey>* keys)
    {
        std::wstring token;
        bool quoted = false;
        for (;;) {
            if (!Next(token, quoted)) {
                m_ok = false;  // missing closing brace
                return false;
            }
            if (!quoted && token == L"}")
                return true;
            if (!quoted && (token == L"{" || token == L"="))
                return Fail();

            if (!quoted && EqualsNoCase(token, L"val")) {
                if (items == nullptr)
                    return Fail();  // values need a key
                SItem item;
                if (!Next(item.valueName, quoted) || (!quoted && (item.valueName == L"{" || item.valueName == L"}")))
                    return Fail();
                if (!Expect(L"=") || !ParseStringAssignment(item.valueData))
                    return Fail();
                items->push_back(std::move(item));
                continue;
            }

            auto key = std::make_unique<SKey>();
            if (!quoted && EqualsNoCase(token, L"NoRemove")) {
                key->removal = ERemoval::KEEP;
                if (!Next(token, quoted))
                    return Fail();
            } else if (!quoted && EqualsNoCase(token, L"ForceRemove")) {
                key->removal = ERemoval::REPLACE;
                if (!Next(token, quoted))
                    return Fail();
            }
            if (!quoted && (token == L"{" || token == L"}" || token == L"=") )
                return Fail();
            key->name = token;
            if (key->name.empty() || key->name.find(L'\\') != std::wstring::npos)
                return Fail();

            // Optional "= s 'text'", then an optional block.
            const size_t mark = m_pos;
            if (Next(token, quoted) && !quoted && token == L"=") {
                std::wstring value;
                if (!ParseStringAssignment(value))
                    return Fail();
                key->defaultValue = std::move(value);
            } else {
                m_pos = mark;
            }
            const size_t mark2 = m_pos;
            if (Next(token, quoted) && !quoted && token == L"{") {
                if (!ParseItems(&key->items, nullptr))
                    return false;
            } else {
                m_pos = mark2;
            }
            if (items != nullptr) {
                SItem item;
                item.key = std::move(key);
                items->push_back(std::move(item));
            } else {
                keys->push_back(std::move(*key));
            }
        }
    }

    bool ParseKeys(std::vector<SKey>& keys) { return ParseItems(nullptr, &keys); }

    bool Fail()
    {
        m_ok = false;
        return false;
    }

    std::wstring_view m_text;
    const std::vector<std::pair<std::wstring, std::wstring>>& m_replacements;
    size_t m_pos = 0;
    bool m_ok = true;
};

std::wstring Join(const std::wstring& parent, const std::wstring& name)
{
    return parent.empty() ? name : parent + L"\\" + name;
}

// A refused registry change as the HRESULT of its system error, so that an
// installer without the right to write sees E_ACCESSDENIED, not E_FAIL.
HRESULT RegistryFailure()
{
    const unsigned long error = platform::RegistryLastError();
    return error != 0 ? HRESULT_FROM_WIN32(error) : E_FAIL;
}

HRESULT RegisterKey(platform::ERegistryRoot root, const SKey& key, const std::wstring& parent)
{
    const std::wstring path = Join(parent, key.name);
    if (key.removal == ERemoval::REPLACE && platform::RegistryKeyExists(root, path))
        platform::RegistryDeleteTree(root, path);
    if (!platform::RegistryCreateKey(root, path))
        return RegistryFailure();
    if (key.defaultValue && !platform::RegistrySetString(root, path, nullptr, *key.defaultValue))
        return RegistryFailure();
    for (const SItem& item : key.items) {
        if (item.key) {
            if (const HRESULT hr = RegisterKey(root, *item.key, path); FAILED(hr))
                return hr;
        } else if (!platform::RegistrySetString(root, path, item.valueName.c_str(), item.valueData)) {
            return RegistryFailure();
        }
    }
    return S_OK;
}

// Deletes a key, or else finds it gone already (two scripts may name it).
HRESULT DeleteOrGone(bool deleted, platform::ERegistryRoot root, const std::wstring& path)
{
    if (deleted)
        return S_OK;
    const HRESULT failure = RegistryFailure();
    return platform::RegistryKeyExists(root, path) ? failure : S_OK;
}

HRESULT UnregisterKey(platform::ERegistryRoot root, const SKey& key, const std::wstring& parent)
{
    const std::wstring path = Join(parent, key.name);
    if (!platform::RegistryKeyExists(root, path))
        return S_OK;  // already gone: nothing to undo below it either
    if (key.removal == ERemoval::REPLACE)
        return DeleteOrGone(platform::RegistryDeleteTree(root, path), root, path);
    for (const SItem& item : key.items) {
        if (item.key) {
            if (const HRESULT hr = UnregisterKey(root, *item.key, path); FAILED(hr))
                return hr;
        }
    }
    if (key.removal == ERemoval::KEEP) {
        // The key stays; only the values this script put there go.
        for (const SItem& item : key.items) {
            if (!item.key)
                platform::RegistryDeleteValue(root, path, item.valueName.c_str());
        }
        return S_OK;
    }
    if (!platform::RegistrySubKeys(root, path).empty())
        return S_OK;  // still used by someone else's keys
    return DeleteOrGone(platform::RegistryDeleteKey(root, path), root, path);
}

}  // namespace

void CRegistrar::AddReplacement(std::wstring_view name, std::wstring_view value)
{
    for (auto& r : m_replacements) {
        if (EqualsNoCase(r.first, name)) {
            r.second.assign(value);
            return;
        }
    }
    m_replacements.emplace_back(std::wstring(name), std::wstring(value));
}

HRESULT CRegistrar::Run(std::wstring_view script, bool registering) const
{
    std::vector<SRoot> roots;
    CParser parser(script, m_replacements);
    if (!parser.Parse(roots))
        return E_FAIL;
    for (const SRoot& root : roots) {
        for (const SKey& key : root.keys) {
            const HRESULT hr = registering ? RegisterKey(root.root, key, std::wstring())
                                           : UnregisterKey(root.root, key, std::wstring());
            if (FAILED(hr))
                return hr;
        }
    }
    return S_OK;
}

}  // namespace frame
