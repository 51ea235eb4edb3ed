// The registry script language: root blocks of nested keys with values, applied in a
// registration pass (created, with roll-back of a failing root block) or a removal pass.
#pragma once

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

// Names replaced between percent signs in a script, matched without regard to case.
class ReplacementMap
{
public:
    ReplacementMap() = default;
    ~ReplacementMap();
    ReplacementMap(const ReplacementMap&) = delete;
    ReplacementMap& operator=(const ReplacementMap&) = delete;

    HRESULT Add(const wchar_t* name, const wchar_t* value);
    // The value of the first pair whose name matches, or null.
    const wchar_t* Find(const char* name) const;

private:
    std::vector<std::pair<wchar_t*, wchar_t*>> pairs;
};

// Applies the script held as a resource of the module file at `modulePath`, which is loaded as
// data, not as the running module.
HRESULT RunScriptResource(const wchar_t* modulePath, UINT resourceId, const char* resourceType,
                          bool registering, const ReplacementMap& replacements);

// Applies a script given as text.
HRESULT RunScript(const char* text, bool registering, const ReplacementMap& replacements);
