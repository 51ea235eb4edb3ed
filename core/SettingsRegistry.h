// The registry calls of the settings store: the real ones unless a test puts its own in place
// (Seam<SettingsRegistry>).
#pragma once

#include <windows.h>

class SettingsRegistry
{
public:
    virtual ~SettingsRegistry() = default;
    virtual LSTATUS OpenKey(HKEY root, const char* subKey, REGSAM access, HKEY* key);
    virtual LSTATUS QueryValue(HKEY key, const char* name, DWORD* type, BYTE* data, DWORD* size);
    virtual LSTATUS CreateKey(HKEY root, const char* subKey, REGSAM access, HKEY* key);
    virtual LSTATUS SetValue(HKEY key, const char* name, DWORD type, const BYTE* data, DWORD size);
    virtual LSTATUS CloseKey(HKEY key);
};
