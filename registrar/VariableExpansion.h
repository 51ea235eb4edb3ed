// Replacement of names between percent signs, over the whole script text before it is read.
#pragma once

#include "registrar/ReplacementMap.h"

#include <string>

// "%%" gives one "%"; "%name%" gives the name's value, which must convert exactly to the narrow
// code page. `expanded` holds the result only when it succeeds.
HRESULT ExpandVariables(const char* text, const ReplacementMap& replacements,
                        std::string& expanded);
