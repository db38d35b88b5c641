#include "platform/resources.h"

#include <cwchar>
#include <vector>

namespace platform {
namespace {

struct SEntry {
    const wchar_t* type;
    int id;
    std::string_view text;
};

// Filled during static initialisation, before anyone looks resources up.
std::vector<SEntry>& Table()
{
    static std::vector<SEntry> table;
    return table;
}

}  // namespace

CEmbeddedResource::CEmbeddedResource(const wchar_t* type, int id, std::string_view text)
{
    Table().push_back({type, id, text});
}

bool LoadTextResource(const void*, const wchar_t* type, int id, std::string& text)
{
    for (const SEntry& e : Table()) {
        if (e.id == id && std::wcscmp(e.type, type) == 0) {
            text.assign(e.text);
            return true;
        }
    }
    return false;
}

}  // namespace platform
