// The registry calls the script interpreter shares: an owned key handle, the subkey test and the
// tree delete.
#pragma once

#include "common/Unique.h"

#include <windows.h>

#include <string>

// A registry key closed on every way out; a key whose close must be checked is given back with
// CloseChecked.
using RegistryKey = UniqueRegistryKey;
LSTATUS CloseChecked(RegistryKey& key);

// A name that stands for exactly one subkey: not empty, which would stand for the parent itself,
// and without "\", which would reach further down.
bool IsSingleKeyName(const std::string& name);

// False also when the key cannot be queried.
bool KeyHasSubkeys(HKEY key);

// Deletes parent\name with all its subkeys; the first failure stops it and is returned.
LSTATUS DeleteKeyTree(HKEY parent, const std::string& name);
