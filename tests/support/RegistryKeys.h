// Registry keys as the tests read and prepare them, each held by its owner.
#pragma once

#include "common/Unique.h"

#include <windows.h>

#include <string>

// An invalid owner when the key cannot be opened.
UniqueRegistryKey OpenKey(HKEY root, const std::string& path, REGSAM access = KEY_READ);
UniqueRegistryKey OpenKey(HKEY root, const std::wstring& path, REGSAM access = KEY_READ);
// Created when missing; an invalid owner when it cannot be.
UniqueRegistryKey CreateKey(HKEY root, const std::string& path, REGSAM access = KEY_ALL_ACCESS);
UniqueRegistryKey CreateKey(HKEY root, const std::wstring& path, REGSAM access = KEY_ALL_ACCESS);

// `view` is 0, KEY_WOW64_64KEY or KEY_WOW64_32KEY.
bool KeyExists(HKEY root, const std::string& path, REGSAM view = 0);
bool KeyExists(HKEY root, const std::wstring& path, REGSAM view = 0);

// A REG_SZ value with its terminator.
LSTATUS SetString(HKEY key, const char* name, const std::string& value);
