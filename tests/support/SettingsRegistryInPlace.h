// Registries a test puts in place of the settings store's real one.
#pragma once

#include "ui/SettingsRegistry.h"

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

// Puts a registry in place until the scope ends.
class RegistryInPlace
{
public:
    explicit RegistryInPlace(SettingsRegistry* registry) : previous(UseSettingsRegistry(registry))
    {}
    ~RegistryInPlace() { UseSettingsRegistry(previous); }
    RegistryInPlace(const RegistryInPlace&) = delete;
    RegistryInPlace& operator=(const RegistryInPlace&) = delete;

private:
    SettingsRegistry* previous;
};
