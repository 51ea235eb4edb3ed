// The registry script language: root blocks of nested keys with values, applied in a
// registration pass (created, with roll-back of a failing root block) or a removal pass.
#pragma once

#include "registrar/ReplacementMap.h"

#include <windows.h>

// Applies the script held as a resource of the module file at `modulePath`, which is loaded as
// data, not as the running module.
HRESULT RunScriptResource(const wchar_t* modulePath, UINT resourceId, const char* resourceType,
                          bool registering, const ReplacementMap& replacements);

// Applies a script given as text.
HRESULT RunScript(const char* text, bool registering, const ReplacementMap& replacements);
