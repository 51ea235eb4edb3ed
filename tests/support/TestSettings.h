// Shredding settings spelled out field by field, so that no test depends on the defaults.
#pragma once

#include "core/ShredSettings.h"

#include <windows.h>

#include <utility>

inline ShredSettings SettingsOf(int method, int passes, bool tails = false, bool mangle = false)
{
    ShredSettings settings;
    settings.ShreddingMethod = method;
    settings.Passes = passes;
    settings.OverwriteTails = tails;
    settings.MangleDateAndTime = mangle;
    return settings;
}

// Random passes only, no tails, no new name or date: for tests of what is shredded, not how.
inline ShredSettings QuickSettings(int passes = 1)
{
    return SettingsOf(MethodRandomData, passes);
}

// Writes the four values under the settings key as the store saves them, for a program of the
// product to load; false when it cannot.
inline bool StoreSettings(const ShredSettings& settings)
{
    HKEY key = nullptr;
    if (::RegCreateKeyExA(HKEY_CURRENT_USER, ShredSettingsKey, 0, nullptr, 0, KEY_WRITE, nullptr,
                          &key, nullptr) != ERROR_SUCCESS)
        return false;
    const std::pair<const char*, DWORD> values[] = {
        {"ShreddingMethod", static_cast<DWORD>(settings.ShreddingMethod)},
        {"MangleDateAndTime", settings.MangleDateAndTime ? 1u : 0u},
        {"OverwriteTails", settings.OverwriteTails ? 1u : 0u},
        {"Passes", static_cast<DWORD>(settings.Passes)}};
    bool stored = true;
    for (const auto& [name, value] : values)
        stored = stored &&
                 ::RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                                  sizeof value) == ERROR_SUCCESS;
    ::RegCloseKey(key);
    return stored;
}
