#include "registrar/RegistryKey.h"

bool IsSingleKeyName(const std::string& name)
{
    return !name.empty() && name.find('\\') == std::string::npos;
}

bool KeyHasSubkeys(HKEY key)
{
    DWORD subkeys = 0;
    if (::RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr,
                           nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
        return false;
    return subkeys > 0;
}

LSTATUS DeleteKeyTree(HKEY parent, const std::string& name)
{
    // Opened with an empty name, the parent itself would be emptied and deleted.
    if (!IsSingleKeyName(name))
        return ERROR_INVALID_PARAMETER;
    RegistryKey key;
    LSTATUS status = ::RegOpenKeyExA(parent, name.c_str(), 0, KEY_READ | KEY_WRITE, key.Receive());
    while (status == ERROR_SUCCESS) {
        char child[256];
        DWORD size = sizeof child;
        // No subkey left (or none that can be listed): the key itself goes.
        if (::RegEnumKeyExA(key.Get(), 0, child, &size, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        status = DeleteKeyTree(key.Get(), child);
    }
    if (status == ERROR_SUCCESS) {
        key.Reset();
        status = ::RegDeleteKeyA(parent, name.c_str());
    }
    return status;
}

LSTATUS CloseChecked(RegistryKey& key)
{
    return key ? ::RegCloseKey(key.Release()) : ERROR_SUCCESS;
}
