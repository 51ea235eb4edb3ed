// The fixed part of a file's version resource, as the installer and the tests compare it.
#pragma once

#include <string>

// "a.b.c.d" of the file version and of the product version; false when the file has no
// version resource.
bool ReadFileVersion(const std::wstring& file, std::string& fileVersion,
                     std::string& productVersion);
