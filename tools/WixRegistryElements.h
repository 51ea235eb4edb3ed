// Registry keys and values as the installer's registry elements, written into the component
// that owns them.
#pragma once

#include "tools/RegistryTree.h"

#include <string>
#include <vector>

// Elements for every key of `tree` below HKEY_LOCAL_MACHINE\`prefix` (below HKEY_LOCAL_MACHINE
// itself when `prefix` is empty, whose own values no package owns). Texts are installer
// formatted strings: brackets are escaped, except in the formatted references named in
// `references` (such as "[#fileId]"), which the installer resolves at install time. A value of
// a type the elements cannot carry fails the whole with a message in `error`.
bool WriteRegistryElements(const RegistryTree& tree, const std::wstring& prefix,
                           const std::vector<std::wstring>& references, std::string& elements,
                           std::string& error);
