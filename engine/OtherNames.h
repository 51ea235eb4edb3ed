// A file's data may have names besides the one the engine reached it by (hard links). Its data is
// the user's to destroy only when every one of those names lies inside what the user selected.
#pragma once

#include "engine/ShredOs.h"

#include <string>
#include <vector>

// Whether every name of the file at `path` lies inside one of the `selected` items (full paths of
// selected files and folders). False when the system cannot list the names: a name it does not
// show may lie anywhere.
bool AllNamesSelected(ShredOs& os, const std::wstring& path,
                      const std::vector<std::wstring>& selected);
