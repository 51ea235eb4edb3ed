#include "core/ShredSettings.h"

#include "afx/AfxWin.h"
#include "common/Seam.h"
#include "common/Unique.h"
#include "core/SettingsRegistry.h"

#include <algorithm>

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

// A key the store opened, closed through the registry that opened it.
struct StoreKeyTraits : NullInvalid<HKEY>
{
    void Close(HKEY key) const { Registry->CloseKey(key); }
    SettingsRegistry* Registry = nullptr;
};
using StoreKey = Unique<StoreKeyTraits>;

} // namespace

void ShredSettings::Load()
{
    SettingsRegistry& registry = Seam<SettingsRegistry>::Active();
    StoreKey key(nullptr, StoreKeyTraits{{}, &registry});
    const bool opened = registry.OpenKey(HKEY_CURRENT_USER, ShredSettingsKey, KEY_READ,
                                         key.Receive()) == ERROR_SUCCESS;
    ShreddingMethod = MethodRandomData;
    MangleDateAndTime = false;
    OverwriteTails = false;
    Passes = 1;
    if (!opened)
        return;
    int32_t value = 0;
    if (QueryDword(registry, key.Get(), ShreddingMethodValue, value) && value >= 0 && value <= 2)
        ShreddingMethod = value;
    if (QueryDword(registry, key.Get(), MangleDateAndTimeValue, value))
        MangleDateAndTime = value != 0;
    if (QueryDword(registry, key.Get(), OverwriteTailsValue, value))
        OverwriteTails = value != 0;
    // A number of passes no user could have entered: none at all would overwrite nothing.
    if (QueryDword(registry, key.Get(), PassesValue, value))
        Passes = std::clamp(value, MinPasses, MaxPasses);
}

void ShredSettings::Save()
{
    SettingsRegistry& registry = Seam<SettingsRegistry>::Active();
    StoreKey key(nullptr, StoreKeyTraits{{}, &registry});
    bool saved = registry.CreateKey(HKEY_CURRENT_USER, ShredSettingsKey, KEY_WRITE,
                                    key.Receive()) == ERROR_SUCCESS;
    saved = saved && SetDword(registry, key.Get(), ShreddingMethodValue, ShreddingMethod);
    saved =
        saved && SetDword(registry, key.Get(), MangleDateAndTimeValue, MangleDateAndTime ? 1 : 0);
    saved = saved && SetDword(registry, key.Get(), OverwriteTailsValue, OverwriteTails ? 1 : 0);
    saved = saved && SetDword(registry, key.Get(), PassesValue, Passes);
    if (!saved)
        AfxMessageBox("Can't save parameters in registry!", MB_OK, 0);
}
