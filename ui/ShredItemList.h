// The selected items: full paths in the shell's order, narrow strings in the ANSI code page.
#pragma once

#include <string>
#include <vector>

using ShredItemList = std::vector<std::string>;
