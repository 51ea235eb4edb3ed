// Shredding settings spelled out field by field, so that no test depends on the defaults: built,
// described and stored the one way every test does it.
#pragma once

#include "common/TextConversion.h"
#include "common/Unique.h"
#include "core/ShredSettings.h"
#include "tools/RegistryTree.h"

#include <windows.h>

#include <cstring>
#include <string>
#include <utility>

// The one order of the fields in every test: method, passes, tails, mangle.
inline ShredSettings SettingsOf(int method, int passes, bool tails = false, bool mangle = false)
{
    ShredSettings settings;
    settings.ShreddingMethod = method;
    settings.Passes = passes;
    settings.OverwriteTails = tails;
    settings.MangleDateAndTime = mangle;
    return settings;
}

// The four fields in words, for comparing two records in a test's message.
inline std::string SettingsText(const ShredSettings& settings)
{
    return "method " + std::to_string(settings.ShreddingMethod) + " passes " +
           std::to_string(settings.Passes) + " tails " + std::to_string(settings.OverwriteTails) +
           " mangle " + std::to_string(settings.MangleDateAndTime);
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
    UniqueRegistryKey key;
    if (::RegCreateKeyExA(HKEY_CURRENT_USER, ShredSettingsKey, 0, nullptr, 0, KEY_WRITE, nullptr,
                          key.Receive(), nullptr) != ERROR_SUCCESS)
        return false;
    const std::pair<const char*, DWORD> values[] = {
        {"ShreddingMethod", static_cast<DWORD>(settings.ShreddingMethod)},
        {"MangleDateAndTime", settings.MangleDateAndTime ? 1u : 0u},
        {"OverwriteTails", settings.OverwriteTails ? 1u : 0u},
        {"Passes", static_cast<DWORD>(settings.Passes)}};
    bool stored = true;
    for (const auto& [name, value] : values)
        stored = stored && ::RegSetValueExA(key.Get(), name, 0, REG_DWORD,
                                            reinterpret_cast<const BYTE*>(&value),
                                            sizeof value) == ERROR_SUCCESS;
    return stored;
}

// The settings key and everything below it as the registry holds them now; empty when the key
// is missing.
inline RegistryTree StoredSettingsTree()
{
    return ReadRegistryTree(HKEY_CURRENT_USER, Widen(ShredSettingsKey), 0);
}

// A REG_DWORD value of the settings key in `stored`; `otherwise` when it is missing or of another
// type.
inline DWORD StoredDword(const RegistryTree& stored, const char* name, DWORD otherwise)
{
    const auto key = stored.find(L"");
    if (key == stored.end())
        return otherwise;
    const auto value = key->second.find(Widen(name));
    if (value == key->second.end() || value->second.Type != REG_DWORD ||
        value->second.Bytes.size() != sizeof(DWORD))
        return otherwise;
    DWORD data = 0;
    std::memcpy(&data, value->second.Bytes.data(), sizeof data);
    return data;
}
