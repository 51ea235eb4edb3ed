// Names the engine refuses before it looks anything up: too long for the narrow calls' fixed
// buffers, or holding a wildcard or the "?" that stands for a character the code page lacks,
// either of which could name a different file than the one selected.
#pragma once

#include <windows.h>

#include <string>

inline bool IsShreddableName(const std::string& name)
{
    return name.size() < MAX_PATH && name.find_first_of("?*") == std::string::npos;
}
