#include "core/ShredSettings.h"

#include "afx/AfxWin.h"
#include "common/Seam.h"
#include "ui/SettingsRegistry.h"

namespace {

constexpr char ShreddingMethodValue[] = "ShreddingMethod";
constexpr char MangleDateAndTimeValue[] = "MangleDateAndTime";
constexpr char OverwriteTailsValue[] = "OverwriteTails";
constexpr char PassesValue[] = "Passes";

// A REG_DWORD of at most four bytes, or nothing.
bool QueryDword(SettingsRegistry& registry, HKEY key, const char* name, int32_t& value)
{
    DWORD type = 0;
    DWORD data = 0;
    DWORD size = sizeof data;
    if (registry.QueryValue(key, name, &type, reinterpret_cast<BYTE*>(&data), &size) !=
            ERROR_SUCCESS ||
        type != REG_DWORD)
        return false;
    value = static_cast<int32_t>(data);
    return true;
}

bool SetDword(SettingsRegistry& registry, HKEY key, const char* name, int32_t value)
{
    const auto data = static_cast<DWORD>(value);
    return registry.SetValue(key, name, REG_DWORD, reinterpret_cast<const BYTE*>(&data),
                             sizeof data) == ERROR_SUCCESS;
}

} // namespace

void ShredSettings::Load()
{
    SettingsRegistry& registry = Seam<SettingsRegistry>::Active();
    HKEY key = nullptr;
    const bool opened =
        registry.OpenKey(HKEY_CURRENT_USER, ShredSettingsKey, KEY_READ, &key) == ERROR_SUCCESS;
    ShreddingMethod = MethodRandomData;
    MangleDateAndTime = false;
    OverwriteTails = false;
    Passes = 1;
    if (!opened)
        return;
    int32_t value = 0;
    if (QueryDword(registry, key, ShreddingMethodValue, value) && value >= 0 && value <= 2)
        ShreddingMethod = value;
    if (QueryDword(registry, key, MangleDateAndTimeValue, value))
        MangleDateAndTime = value != 0;
    if (QueryDword(registry, key, OverwriteTailsValue, value))
        OverwriteTails = value != 0;
    if (QueryDword(registry, key, PassesValue, value))
        Passes = value;
    registry.CloseKey(key);
}

void ShredSettings::Save()
{
    SettingsRegistry& registry = Seam<SettingsRegistry>::Active();
    HKEY key = nullptr;
    bool saved =
        registry.CreateKey(HKEY_CURRENT_USER, ShredSettingsKey, KEY_WRITE, &key) == ERROR_SUCCESS;
    const bool opened = saved;
    saved = saved && SetDword(registry, key, ShreddingMethodValue, ShreddingMethod);
    saved = saved && SetDword(registry, key, MangleDateAndTimeValue, MangleDateAndTime ? 1 : 0);
    saved = saved && SetDword(registry, key, OverwriteTailsValue, OverwriteTails ? 1 : 0);
    saved = saved && SetDword(registry, key, PassesValue, Passes);
    if (!saved)
        AfxMessageBox("Can't save parameters in registry!", MB_OK, 0);
    if (opened)
        registry.CloseKey(key);
}
