// How the registry script's narrow text is stepped through.
#pragma once

#include <windows.h>

#include <cstddef>

// Bytes of the character at `p`: a double-byte character is always taken whole.
inline size_t CharacterSize(const char* p)
{
    return ::IsDBCSLeadByte(static_cast<BYTE>(*p)) && p[1] != '\0' ? 2 : 1;
}
