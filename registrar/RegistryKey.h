// The registry calls the script interpreter shares: an owned key handle, the subkey test and the
// tree delete.
#pragma once

#include <windows.h>

#include <string>

// A registry key closed on every way out.
class RegistryKey
{
public:
    RegistryKey() = default;
    ~RegistryKey() { Close(); }
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;

    HKEY Get() const { return key; }
    // Closes the key held so far and receives the next one.
    HKEY* Receive()
    {
        Close();
        return &key;
    }
    LSTATUS Close()
    {
        LSTATUS status = ERROR_SUCCESS;
        if (key)
            status = ::RegCloseKey(key);
        key = nullptr;
        return status;
    }

private:
    HKEY key = nullptr;
};

// A name that stands for exactly one subkey: not empty, which would stand for the parent itself,
// and without "\", which would reach further down.
bool IsSingleKeyName(const std::string& name);

// False also when the key cannot be queried.
bool KeyHasSubkeys(HKEY key);

// Deletes parent\name with all its subkeys; the first failure stops it and is returned.
LSTATUS DeleteKeyTree(HKEY parent, const std::string& name);
