#include "core/SettingsRegistry.h"

LSTATUS SettingsRegistry::OpenKey(HKEY root, const char* subKey, REGSAM access, HKEY* key)
{
    return ::RegOpenKeyExA(root, subKey, 0, access, key);
}

LSTATUS SettingsRegistry::QueryValue(HKEY key, const char* name, DWORD* type, BYTE* data,
                                     DWORD* size)
{
    return ::RegQueryValueExA(key, name, nullptr, type, data, size);
}

LSTATUS SettingsRegistry::CreateKey(HKEY root, const char* subKey, REGSAM access, HKEY* key)
{
    char emptyClass[] = "";
    return ::RegCreateKeyExA(root, subKey, 0, emptyClass, REG_OPTION_NON_VOLATILE, access, nullptr,
                             key, nullptr);
}

LSTATUS SettingsRegistry::SetValue(HKEY key, const char* name, DWORD type, const BYTE* data,
                                   DWORD size)
{
    return ::RegSetValueExA(key, name, 0, type, data, size);
}

LSTATUS SettingsRegistry::CloseKey(HKEY key)
{
    return ::RegCloseKey(key);
}
