// Runs the component's registry scripts.
//
// A script names a root key and, nested in braces, the keys below it; a key
// may carry a default string value ("Name = s 'text'") and named string values
// ("val Name = s 'text'"). A key marked NoRemove is never deleted when the
// script is undone (only what the script lists below it is); a key marked
// ForceRemove is deleted with its whole subtree before it is written and when
// the script is undone; any other key is created when the script runs and
// deleted when it is undone, unless it still has subkeys then. Text between
// percent signs is replaced by the value given with AddReplacement ("%%" is a
// percent sign).
//
// The whole script is parsed before anything is written, so a script with a
// syntax error changes nothing. Undoing a script whose keys are already gone
// is not a failure: two scripts may name the same key, and the second removal
// simply finds nothing.
#pragma once

#include "platform/com.h"

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace frame {

class CRegistrar {
public:
    // Adds or replaces the text that "%name%" stands for.
    void AddReplacement(std::wstring_view name, std::wstring_view value);

    // Applies the script (registering) or undoes it. S_OK; E_FAIL for a
    // script that cannot be parsed; for a registry change that fails, the
    // HRESULT of its system error (E_ACCESSDENIED without the right to
    // write). Keys written before a failing change stay.
    HRESULT Run(std::wstring_view script, bool registering) const;

private:
    std::vector<std::pair<std::wstring, std::wstring>> m_replacements;
};

}  // namespace frame
