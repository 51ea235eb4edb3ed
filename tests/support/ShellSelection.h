// The data object the shell itself hands a handler for a selection of real files in one folder.
#pragma once

#include "common/Unique.h"

#include <objidl.h>

#include <string>
#include <vector>

// The items in the order given; an invalid owner, with a failure added to the test, when the
// shell cannot name every one of them or makes no data object.
UniqueCom<IDataObject> ShellSelection(const std::vector<std::wstring>& paths);
UniqueCom<IDataObject> ShellSelection(const std::vector<std::string>& paths);
