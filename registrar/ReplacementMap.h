// Names replaced between percent signs in a registry script, with their values.
#pragma once

#include "common/Unique.h"

#include <windows.h>

#include <utility>
#include <vector>

// Matched without regard to case, first pair first.
class ReplacementMap
{
public:
    ReplacementMap() = default;
    ReplacementMap(const ReplacementMap&) = delete;
    ReplacementMap& operator=(const ReplacementMap&) = delete;

    HRESULT Add(const wchar_t* name, const wchar_t* value);
    // The value of the first pair whose name, converted exactly to the narrow code page,
    // matches; null when none does.
    const wchar_t* Find(const char* name) const;

private:
    // Private copies from the COM task allocator.
    std::vector<std::pair<UniqueTaskMemory<wchar_t>, UniqueTaskMemory<wchar_t>>> pairs;
};
