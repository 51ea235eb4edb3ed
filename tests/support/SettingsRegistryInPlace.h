// A registry a test puts in place of the settings store's real one (Seam<SettingsRegistry>).
#pragma once

#include "common/Seam.h"
#include "core/SettingsRegistry.h"

// Cannot even create the key.
class LockedRegistry : public SettingsRegistry
{
public:
    LSTATUS CreateKey(HKEY, const char*, REGSAM, HKEY* key) override
    {
        *key = nullptr;
        return ERROR_ACCESS_DENIED;
    }
};
