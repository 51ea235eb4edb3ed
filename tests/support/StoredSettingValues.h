// The settings as one value per setting in stored order (method, mangle, tails, passes), so that
// a record, what the registry holds and what a worker was given compare in one expression.
#pragma once

#include "TestSettings.h"

#include <vector>

using SettingValues = std::vector<DWORD>;

// Deletes the settings key when made and again when gone, so that no test sees another's.
class ClearedSettingsKey
{
public:
    ClearedSettingsKey() { ::RegDeleteTreeA(HKEY_CURRENT_USER, ShredSettingsKey); }
    ~ClearedSettingsKey() { ::RegDeleteTreeA(HKEY_CURRENT_USER, ShredSettingsKey); }
    ClearedSettingsKey(const ClearedSettingsKey&) = delete;
    ClearedSettingsKey& operator=(const ClearedSettingsKey&) = delete;
};

inline SettingValues Values(const ShredSettings& settings)
{
    return {static_cast<DWORD>(settings.ShreddingMethod), settings.MangleDateAndTime ? 1u : 0u,
            settings.OverwriteTails ? 1u : 0u, static_cast<DWORD>(settings.Passes)};
}

// Empty when the key does not exist; a missing or mistyped value reads as 0xFFFFFFFF.
inline SettingValues StoredSettingValues()
{
    const RegistryTree stored = StoredSettingsTree();
    if (stored.empty())
        return {};
    SettingValues values;
    for (const char* name : {"ShreddingMethod", "MangleDateAndTime", "OverwriteTails", "Passes"})
        values.push_back(StoredDword(stored, name, 0xFFFFFFFF));
    return values;
}
