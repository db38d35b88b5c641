// Text resources compiled into a module (the component's registry scripts).
//
// Windows: resources of the given type and numeric id in the module that
// contains addressInModule (FindResourceW / LoadResource), as the resource
// compiler stored them. Elsewhere there are no resource sections: the build
// embeds the same files in a generated source whose CEmbeddedResource objects
// register them at static initialisation, and lookups find them in the module
// they were linked into.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// The bytes of the resource; false when there is none.
bool LoadTextResource(const void* addressInModule, const wchar_t* type, int id, std::string& text);

class CEmbeddedResource {
public:
    // type and text must outlive the module (string literals).
    CEmbeddedResource(const wchar_t* type, int id, std::string_view text);
};

}  // namespace platform
